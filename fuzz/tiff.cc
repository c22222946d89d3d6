// Fuzz target: the TIFF loader on bytes in memory.  The record's data goes
// the loader's own way, through a temporary copy (file_to_open) that
// libtiff opens.
//
// Pictures above kMaxPixels are skipped: a few kilobytes of fax or LZW data
// can rightly describe gigabytes of pixels, which only makes the run slow
// and trips the fuzzer's memory limit.  Their size is read here with
// libtiff from memory before the loader sees them.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/corvat.h"
#include "formats/tiff.h"
#include "image/image.h"
#include "image/vela_iface.h"
#include "fuzz_support.h"

namespace {

constexpr uint64_t kMaxPixels = 16u << 20;

struct Memory {
    const uint8_t *data;
    toff_t size, pos;
};

tmsize_t mem_read(thandle_t h, void *buf, tmsize_t n)
{
    auto *m = static_cast<Memory *>(h);
    toff_t left = m->pos < m->size ? m->size - m->pos : 0;
    toff_t k = static_cast<toff_t>(n) < left ? static_cast<toff_t>(n) : left;
    std::memcpy(buf, m->data + m->pos, k);
    m->pos += k;
    return static_cast<tmsize_t>(k);
}

tmsize_t mem_write(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence)
{
    auto *m = static_cast<Memory *>(h);
    toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
    m->pos = base + off;
    return m->pos;
}

int mem_close(thandle_t)
{
    return 0;
}

toff_t mem_size(thandle_t h)
{
    return static_cast<Memory *>(h)->size;
}

int mem_map(thandle_t, void **, toff_t *)
{
    return 0;
}

void mem_unmap(thandle_t, void *, toff_t) {}

int quiet(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// True when the bytes open as a TIFF whose picture is small enough to try.
bool small_enough(const uint8_t *data, size_t size)
{
    Memory m{data, size, 0};
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
    TIFF *tif = TIFFClientOpenExt("fuzz", "rm", &m, mem_read, mem_write, mem_seek, mem_close,
                                  mem_size, mem_map, mem_unmap, opts);
    TIFFOpenOptionsFree(opts);
    if (tif == nullptr)
        return true; // the loader must refuse it too
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFClose(tif);
    return static_cast<uint64_t>(w) * h <= kMaxPixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!fuzz::ready() || size > fuzz::kMaxInput || !small_enough(data, size))
        return 0;
    fuzz::load(data, size, "fuzz.tif", FMT_TIFF, tiff_load);
    return 0;
}
