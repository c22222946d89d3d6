// rast.cc - Kestrel raster load and save.
#include "formats/rast.h"

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/reader.h"
#include "formats/limits.h"
#include "formats/savefile.h"
#include "image/display.h"
#include "image/dither.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

int pad_table[33]; // pad width in bits, by depth 1..32

struct RasHeader {
    uint32_t magic, width, height, depth, length, type, maptype, maplength;
};

uint32_t swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
}

// Reverses the bytes of each 32-bit word of the buffer.
void swaplong(uint32_t *words, size_t n)
{
    for (size_t i = 0; i < n; i++)
        words[i] = swap32(words[i]);
}

// Reads and checks the header; false when it is not a raster header.
bool get_image_header(RasHeader *h)
{
    uint32_t w[8];
    if (im_fread(w, sizeof w, 1) != 1)
        return false;
    if (w[0] != RAS_MAGIC) {
        swaplong(w, 8);
        if (w[0] != RAS_MAGIC)
            return false;
    }
    *h = RasHeader{w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]};
    return true;
}

// Reads the colormap planes into the record; false on a short read.
bool get_image_cmap(ImageRec *image, const RasHeader &h)
{
    int n = static_cast<int>(h.maplength / 3);
    if (n == 0 || h.maptype == RMT_NONE) {
        // Nothing of the map is used: skip whatever bytes it has.
        for (uint32_t i = 0; i < h.maplength; i++)
            if (im_fgetc() == EOF)
                return false;
        return true;
    }
    std::vector<unsigned char> map(h.maplength);
    if (im_fread(map.data(), 1, map.size()) != map.size())
        return false;
    // Only 256 entries can be indexed by 8-bit pixels.
    int keep = n < 256 ? n : 256;
    image->red = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(keep)));
    image->green = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(keep)));
    image->blue = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(keep)));
    if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return false;
    std::memcpy(image->red, map.data(), static_cast<size_t>(keep));
    if (h.maptype == RMT_EQUAL_RGB) {
        std::memcpy(image->green, map.data() + n, static_cast<size_t>(keep));
        std::memcpy(image->blue, map.data() + 2 * n, static_cast<size_t>(keep));
    } else {
        // A raw map has no planes to speak of: its first third shows as grey.
        std::memcpy(image->green, map.data(), static_cast<size_t>(keep));
        std::memcpy(image->blue, map.data(), static_cast<size_t>(keep));
    }
    image->ncolors = keep;
    return true;
}

// Copies one file line to one image line: 32-bit pixels lose their pad
// byte, 24-bit pixels go one by one into wider destination pixels, other
// lines are copied whole (as much as both hold).
void convert_line(const unsigned char *src, size_t src_len, unsigned char *dst, int width,
                  int depth, int pixel_stride, int row_stride)
{
    if (depth == 32 || (depth == 24 && pixel_stride >= 4)) {
        int step = depth == 32 ? 4 : 3;
        int skip = depth == 32 ? 1 : 0;
        for (int x = 0; x < width; x++)
            std::memcpy(dst + static_cast<ptrdiff_t>(x) * pixel_stride, src + x * step + skip, 3);
        return;
    }
    size_t n = src_len < static_cast<size_t>(row_stride) ? src_len : static_cast<size_t>(row_stride);
    std::memcpy(dst, src, n);
}

// Reads the pixels into the image memory; false on a short read.
bool get_image(const RasHeader &h, unsigned char *data, int pixel_stride, int row_stride)
{
    int width = static_cast<int>(h.width), height = static_cast<int>(h.height);
    int depth = static_cast<int>(h.depth);
    size_t linelen = static_cast<size_t>(rast_linelen(width, depth));
    bool direct = linelen == static_cast<size_t>(row_stride) && depth != 32 &&
                  !(depth == 24 && pixel_stride >= 4);
    if (h.type == RT_BYTE_ENCODED) {
        size_t total = linelen * static_cast<size_t>(height);
        if (direct)
            return read_encoded(data, total);
        std::vector<unsigned char> buf(total);
        if (!read_encoded(buf.data(), total))
            return false;
        for (int y = 0; y < height; y++)
            convert_line(buf.data() + linelen * static_cast<size_t>(y), linelen,
                         data + static_cast<ptrdiff_t>(y) * row_stride, width, depth,
                         pixel_stride, row_stride);
        return true;
    }
    if (direct)
        return im_fread(data, linelen, static_cast<size_t>(height)) == static_cast<size_t>(height);
    std::vector<unsigned char> line(linelen);
    for (int y = 0; y < height; y++) {
        if (im_fread(line.data(), 1, linelen) != linelen)
            return false;
        convert_line(line.data(), linelen, data + static_cast<ptrdiff_t>(y) * row_stride, width,
                     depth, pixel_stride, row_stride);
    }
    return true;
}

// Writes n bytes to the save file; false on a short write.
bool sn_fwrite(FILE *fp, const void *bytes, size_t n)
{
    return n == 0 || std::fwrite(bytes, 1, n, fp) == n;
}

// Returns the bytes of one file line of the image: the colour bytes of
// each pixel, then zero padding up to the line length.
void file_line(const unsigned char *row, int width, int depth, int pixel_stride, size_t linelen,
               unsigned char *out)
{
    std::memset(out, 0, linelen);
    if (depth == 24 && pixel_stride > 3) {
        for (int x = 0; x < width; x++)
            std::memcpy(out + 3 * x, row + static_cast<ptrdiff_t>(x) * pixel_stride, 3);
        return;
    }
    size_t data_bytes = depth == 1 ? (static_cast<size_t>(width) + 7) / 8
                                   : static_cast<size_t>(width) * (depth / 8);
    std::memcpy(out, row, data_bytes < linelen ? data_bytes : linelen);
}

void put_word(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

} // namespace

void init_pad()
{
    for (int d = 1; d <= 32; d++)
        pad_table[d] = d <= 17 ? 16 : 32;
    pad_table[24] = 24;
}

void set_current_pad(int depth, int bits)
{
    if (depth >= 1 && depth <= 32 && bits > 0)
        pad_table[depth] = bits;
}

int pad_value(int depth)
{
    return depth >= 1 && depth <= 32 ? pad_table[depth] : 16;
}

int rast_linelen(int width, int depth)
{
    if (depth == 4)
        depth = 8;
    int64_t bits = static_cast<int64_t>(width) * depth;
    int pad = pad_value(depth);
    int64_t bytes = bits / 8;
    if (bits % pad != 0)
        bytes += (pad - bits % pad) / 8;
    if (bytes & 1)
        bytes++;
    return static_cast<int>(bytes);
}

int64_t rast_imagelen(int width, int height, int depth)
{
    return static_cast<int64_t>(height) * rast_linelen(width, depth);
}

// Writes the pending run at o; returns the position after it.
static inline unsigned char *put_run(unsigned char *o, unsigned char value, size_t run)
{
    if (value == 0x80 && run == 1) {
        *o++ = 0x80;
        *o++ = 0x00;
    } else if (run > 2 || value == 0x80) {
        *o++ = 0x80;
        *o++ = static_cast<unsigned char>(run - 1);
        *o++ = value;
    } else {
        *o++ = value;
        if (run == 2)
            *o++ = value;
    }
    return o;
}

RleEncoder::RleEncoder(size_t expected)
{
    reserve(expected + expected / 2 + 8);
}

void RleEncoder::reserve(size_t n)
{
    if (n <= cap_)
        return;
    // Not zero-filled: only the bytes written are ever touched; huge pages
    // spare most of the page faults of a large stream.
    std::unique_ptr<unsigned char[]> bigger(new unsigned char[n]);
    if (n >= (size_t{4} << 20)) {
        uintptr_t start = (reinterpret_cast<uintptr_t>(bigger.get()) + 4095) & ~uintptr_t{4095};
        uintptr_t end = (reinterpret_cast<uintptr_t>(bigger.get()) + n) & ~uintptr_t{4095};
        if (end > start)
            madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
    if (pos_ > 0)
        std::memcpy(bigger.get(), buf_.get(), pos_);
    buf_ = std::move(bigger);
    cap_ = n;
}

void RleEncoder::feed(const unsigned char *bytes, size_t n)
{
    // Room for the worst case first (3 bytes for every 2), so the loop
    // writes through a plain pointer.
    size_t need = pos_ + n + n / 2 + 8;
    if (need > cap_)
        reserve(std::max(need, cap_ * 2));
    unsigned char *o = buf_.get() + pos_;
    unsigned char value = value_;
    size_t run = run_;
    size_t i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Sixteen bytes that neither repeat nor hold the escape are written
        // as they are: the common case of photographic data.
        if (i + 17 <= n && (run == 0 || bytes[i] != value)) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i + 1));
            __m128i special = _mm_or_si128(_mm_cmpeq_epi8(a, b),
                                           _mm_cmpeq_epi8(a, _mm_set1_epi8(static_cast<char>(0x80))));
            if (_mm_movemask_epi8(special) == 0) {
                if (run > 0)
                    o = put_run(o, value, run);
                run = 0;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o), a);
                o += 16;
                i += 16;
                continue;
            }
        }
#endif
        unsigned char v = bytes[i++];
        if (run > 0 && v == value && run < 256) {
            run++;
            continue;
        }
        if (run > 0)
            o = put_run(o, value, run);
        value = v;
        run = 1;
    }
    value_ = value;
    run_ = run;
    pos_ = static_cast<size_t>(o - buf_.get());
}

void RleEncoder::finish()
{
    reserve(pos_ + 3);
    if (run_ > 0)
        pos_ = static_cast<size_t>(put_run(buf_.get() + pos_, value_, run_) - buf_.get());
    run_ = 0;
}

void rast_encode(const unsigned char *bytes, size_t n, std::vector<unsigned char> *out)
{
    RleEncoder enc(n);
    enc.feed(bytes, n);
    enc.finish();
    out->insert(out->end(), enc.data(), enc.data() + enc.size());
}

bool read_encoded(unsigned char *out, size_t n)
{
    size_t i = 0;
    while (i < n) {
        int c = im_fgetc();
        if (c == EOF)
            return false;
        if (c != 0x80) {
            out[i++] = static_cast<unsigned char>(c);
            continue;
        }
        int count = im_fgetc();
        if (count == EOF)
            return false;
        if (count == 0) {
            out[i++] = 0x80;
            continue;
        }
        int v = im_fgetc();
        if (v == EOF)
            return false;
        // A run past the end of the image is cut there.
        size_t len = static_cast<size_t>(count) + 1;
        if (len > n - i)
            len = n - i;
        std::memset(out + i, v, len);
        i += len;
    }
    return true;
}

int rast_load(ImageRec *image)
{
    if (openfile(image->file, image->realfile, image->compression == COMP_UNIX, image->data,
                 image->file_size) != 0)
        return -1;
    init_pad();
    RasHeader h;
    bool ok = get_image_header(&h);
    ok = ok && (h.depth == 1 || h.depth == 8 || h.depth == 24 || h.depth == 32) &&
         h.type <= RT_FORMAT_RGB && h.maptype <= RMT_RAW;
    ok = ok && h.width > 0 && h.height > 0 && h.width <= MAX_IMAGE_SIDE &&
         h.height <= MAX_IMAGE_SIDE;
    int width = static_cast<int>(h.width), height = static_cast<int>(h.height);
    int depth = static_cast<int>(h.depth);
    if (ok) {
        // Plain pixel data must be in the file; encoded data can shrink a
        // run to 3 bytes for 256.
        int64_t pixels = rast_imagelen(width, height, depth);
        int64_t needed = h.type == RT_BYTE_ENCODED ? pixels / 86 : pixels;
        ok = input_can_hold(image, 32 + static_cast<int64_t>(h.maplength) + needed) &&
             h.maplength <= MAX_COLORMAP_BYTES &&
             memory_can_hold(static_cast<int64_t>(width) * height * (depth >= 24 ? 3 : 1));
    }
    if (ok) {
        image->width = width;
        image->height = height;
        image->depth = depth == 32 ? 24 : depth;
        // An 8-bit picture without colormap entries shows its values as greys.
        if ((h.maptype == RMT_NONE || h.maplength < 3) && depth == 8) {
            image->red = static_cast<unsigned char *>(std::malloc(256));
            image->green = static_cast<unsigned char *>(std::malloc(256));
            image->blue = static_cast<unsigned char *>(std::malloc(256));
            ok = image->red != nullptr && image->green != nullptr && image->blue != nullptr;
            for (int i = 0; ok && i < 256; i++)
                image->red[i] = image->green[i] = image->blue[i] = static_cast<unsigned char>(i);
            image->ncolors = 256;
            // The map's bytes, if any, are skipped.
            for (uint32_t i = 0; ok && i < h.maplength; i++)
                ok = im_fgetc() != EOF;
        } else {
            ok = get_image_cmap(image, h);
        }
    }
    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = ok ? create_data(image, &pixel_stride, &row_stride) : nullptr;
    ok = data != nullptr && get_image(h, data, pixel_stride, row_stride);
    closefile();
    if (!ok)
        return -1;
    image->bytes_per_line = row_stride;
    if (depth >= 24 && h.type != RT_FORMAT_RGB)
        image->rgb_order = 0;
    vela_import(image->orig_image, 1);
    return 0;
}

int rast_save(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    if (img == nullptr)
        return -1;
    SafeFile out(image->file);
    if (!out.ok())
        return -1;
    int width = vela_get_width(img), height = vela_get_height(img);
    int depth = retrieve_depth(vela_get_nbands(img), vela_get_datatype(img));
    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = retrieve_data(img, &pixel_stride, &row_stride);
    if (data == nullptr)
        return -1;
    VelaMemoryStorage storage;
    // A 1-bit child starting inside a byte is written from a plain copy.
    VelaImage *copy = nullptr;
    if (depth == 1 && vela_get_memory_storage(img, &storage) && storage.bit_offset != 0) {
        reimport_image(img, 0);
        copy = vela_create_copy(img, 0, 0, width, height, 0, 1);
        img = copy;
        data = img != nullptr ? retrieve_data(img, &pixel_stride, &row_stride) : nullptr;
        if (data == nullptr) {
            if (copy != nullptr)
                vela_destroy(copy);
            return -1;
        }
    }
    if (image->rgb_order && depth > 8) {
        image->width = width;
        image->height = height;
        swap_red_blue(image, data, pixel_stride, row_stride);
    }
    init_pad();
    size_t linelen = static_cast<size_t>(rast_linelen(width, depth));
    bool encoded = image->compression == COMP_ENCODED;
    bool with_map = depth == 8 && image->ncolors > 0 && image->red != nullptr &&
                    image->green != nullptr && image->blue != nullptr;
    int ncolors = with_map ? (image->ncolors < 256 ? image->ncolors : 256) : 0;

    std::vector<unsigned char> line(linelen);
    unsigned char header[32];
    uint32_t words[8] = {RAS_MAGIC,
                         static_cast<uint32_t>(width),
                         static_cast<uint32_t>(height),
                         static_cast<uint32_t>(depth),
                         static_cast<uint32_t>(linelen * height),
                         static_cast<uint32_t>(encoded ? RT_BYTE_ENCODED : RT_STANDARD),
                         static_cast<uint32_t>(with_map ? RMT_EQUAL_RGB : RMT_NONE),
                         static_cast<uint32_t>(3 * ncolors)};
    for (int i = 0; i < 8; i++)
        put_word(header + 4 * i, words[i]);
    FILE *fp = out.fp();
    bool ok = sn_fwrite(fp, header, sizeof header);
    if (ok && with_map)
        ok = sn_fwrite(fp, image->red, static_cast<size_t>(ncolors)) &&
             sn_fwrite(fp, image->green, static_cast<size_t>(ncolors)) &&
             sn_fwrite(fp, image->blue, static_cast<size_t>(ncolors));
    if (ok && encoded) {
        // The stream goes out in pieces as it is made, each sent on to the
        // disk at once: the final sync then has little left to wait for,
        // and no buffer of the whole stream is needed.  Its length goes
        // into the header at the end.
        constexpr size_t kPiece = size_t{4} << 20;
        RleEncoder stream;
        uint64_t total = 0;
        auto drain = [&] {
            total += stream.size();
            bool written = sn_fwrite(fp, stream.data(), stream.size());
            stream.clear();
            out.start_writeback();
            return written;
        };
        for (int y = 0; ok && y < height; y++) {
            file_line(data + static_cast<ptrdiff_t>(y) * row_stride, width, depth, pixel_stride,
                      linelen, line.data());
            stream.feed(line.data(), linelen);
            if (stream.size() >= kPiece)
                ok = drain();
        }
        if (ok) {
            stream.finish();
            ok = drain() && total <= UINT32_MAX;
        }
        if (ok) {
            unsigned char length[4];
            put_word(length, static_cast<uint32_t>(total));
            ok = std::fseek(fp, 16, SEEK_SET) == 0 && sn_fwrite(fp, length, sizeof length);
        }
    } else if (ok && linelen == static_cast<size_t>(row_stride) && !(depth == 24 && pixel_stride > 3)) {
        ok = sn_fwrite(fp, data, linelen * static_cast<size_t>(height));
    } else {
        for (int y = 0; ok && y < height; y++) {
            file_line(data + static_cast<ptrdiff_t>(y) * row_stride, width, depth, pixel_stride,
                      linelen, line.data());
            ok = sn_fwrite(fp, line.data(), linelen);
        }
    }
    reimport_image(img, 0);
    if (copy != nullptr)
        vela_destroy(copy);
    if (!ok || !out.commit())
        return -1;
    return 0;
}
