// tiff.cc - TIFF load and save through libtiff.
//
// Loading reads the file's layout, checks every size against the file and
// the machine, then moves each strip or tile into the image memory with a
// transfer chosen once per file; strips whose rows already have the image's
// layout are decoded straight into it.  Saving writes scanlines into a
// temporary file beside the target that replaces it only when complete.
#include "formats/tiff.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/corvat.h"
#include "app/msg.h"
#include "app/reader.h"
#include "formats/limits.h"
#include "formats/savefile.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// libtiff's own allocations beyond the file's size (its strip and tile
// bookkeeping), bytes.
constexpr int64_t kLibtiffAllocSlack = 256 << 20;
// Largest tile side accepted for a picture smaller than it, pixels.
constexpr uint32_t kMaxSpareTileSide = 1024;

// libtiff's errors and warnings: printed only in verbose runs, and marked
// handled so that libtiff's own handlers never print either.
int tiff_diagnostic(TIFF *, void *, const char *module, const char *fmt, va_list ap)
{
    if (prog != nullptr && prog->verbose) {
        std::fprintf(stderr, "%s: ", prog->name != nullptr ? prog->name : "orvimage");
        if (module != nullptr)
            std::fprintf(stderr, "%s: ", module);
        std::vfprintf(stderr, fmt, ap);
        std::fputc('\n', stderr);
    }
    return 1;
}

// Prints a diagnostic in verbose runs; returns false for the caller to
// fail with.
bool refuse(const char *text)
{
    if (prog != nullptr && prog->verbose)
        std::fputs(text, stderr);
    return false;
}

struct TiffCloser {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions *o) const { TIFFOpenOptionsFree(o); }
};

// Returns the opened file with quiet handlers (nullptr on failure);
// file_bytes bounds libtiff's single allocations.
TiffHandle open_tiff(const char *path, const char *mode, int64_t file_bytes)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFree> opts(TIFFOpenOptionsAlloc());
    if (opts == nullptr)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), tiff_diagnostic, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), tiff_diagnostic, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(),
                                        static_cast<tmsize_t>(file_bytes + kLibtiffAllocSlack));
    return TiffHandle(TIFFOpenExt(path, mode, opts.get()));
}

// A malloc'ed buffer that frees itself; never throws.
class Buffer {
public:
    bool allocate(uint64_t bytes)
    {
        p_.reset(bytes <= SIZE_MAX
                     ? static_cast<unsigned char *>(std::malloc(bytes > 0 ? bytes : 1))
                     : nullptr);
        return p_ != nullptr;
    }
    unsigned char *get() const { return p_.get(); }

private:
    struct Free {
        void operator()(unsigned char *p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char, Free> p_;
};

// What the loader knows of the file once its tags are checked.
struct Layout {
    uint32_t width = 0, height = 0; // pixels
    uint16_t bits = 1;              // per sample
    uint16_t samples = 1;           // per pixel
    uint16_t photometric = 0;
    uint16_t compression = COMPRESSION_NONE;
    bool separate = false; // one plane per sample
    bool tiled = false;
    uint32_t rows_per_strip = 0;              // strips: rows of each strip
    uint32_t tile_width = 0, tile_length = 0; // tiles: pixels
    uint64_t piece_bytes = 0;                 // decoded bytes of one strip or tile (one plane)
    uint64_t row_bytes = 0;                   // decoded bytes of one row of a piece (one plane)
    int depth = 8;                            // of the image memory: 1, 8 or 24
};

using Reader = int (*)(TIFF *, const Layout &, TiffTransfer, const TiffDest &);

// Returns the byte offset in an image row of column c.
ptrdiff_t column_offset(const TiffDest &dst, uint32_t c)
{
    return dst.bytes_per_pixel == 0 ? static_cast<ptrdiff_t>(c / 8)
                                    : static_cast<ptrdiff_t>(c) * dst.bytes_per_pixel;
}

// Finishes rows of a 1-bit image: flips the first cols bits of each when
// invert is set, and clears the bits past them in the last byte.
void finish_bit_rows(unsigned char *row, ptrdiff_t bytes_per_line, int rows, int cols, bool invert)
{
    size_t n = (static_cast<size_t>(cols) + 7) / 8;
    for (int y = 0; y < rows; y++, row += bytes_per_line) {
        if (invert)
            for (size_t i = 0; i < n; i++)
                row[i] = static_cast<unsigned char>(~row[i]);
        if (cols % 8 != 0)
            row[n - 1] &= static_cast<unsigned char>(0xff << (8 - cols % 8));
    }
}

// True when a strip of contiguous rows has exactly the image memory's row
// layout, so it can be decoded in place.
bool strip_is_direct(const Layout &l, const TiffDest &dst, TiffTransfer transfer)
{
    if (l.row_bytes != static_cast<uint64_t>(dst.bytes_per_line))
        return false;
    if (transfer == transfer_RGB_contig_8bit)
        return l.samples == 3 && dst.bytes_per_pixel == 3;
    if (transfer == transfer_nbit_cmap)
        return (l.bits == 1 && dst.bytes_per_pixel == 0) ||
               (l.bits == 8 && dst.bytes_per_pixel == 1);
    return false;
}

// Returns 1 when every strip was read into the image, 0 otherwise.
int tiff_read_strip_contiguous(TIFF *tif, const Layout &l, TiffTransfer transfer,
                               const TiffDest &image)
{
    bool direct = strip_is_direct(l, image, transfer);
    Buffer buf;
    if (!direct && !buf.allocate(l.piece_bytes))
        return 0;
    for (uint32_t r = 0; r < l.height; r += l.rows_per_strip) {
        uint32_t rows = l.height - r < l.rows_per_strip ? l.height - r : l.rows_per_strip;
        tmsize_t want = static_cast<tmsize_t>(rows * l.row_bytes);
        unsigned char *row = image.start + static_cast<ptrdiff_t>(r) * image.bytes_per_line;
        unsigned char *into = direct ? row : buf.get();
        if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, r, 0), into, want) < want)
            return 0;
        if (direct) {
            if (image.bytes_per_pixel == 0)
                finish_bit_rows(row, image.bytes_per_line, static_cast<int>(rows),
                                static_cast<int>(l.width), image.invert);
            continue;
        }
        TiffPiece piece{{buf.get(), nullptr, nullptr},
                        static_cast<ptrdiff_t>(l.row_bytes),
                        static_cast<int>(rows),
                        static_cast<int>(l.width),
                        l.samples,
                        l.bits};
        TiffDest dst = image;
        dst.start = row;
        transfer(piece, dst);
    }
    return 1;
}

// Returns 1 when every strip of the three planes was read, 0 otherwise.
int tiff_read_strip_separate(TIFF *tif, const Layout &l, TiffTransfer transfer,
                             const TiffDest &image)
{
    Buffer buf[3];
    for (Buffer &b : buf)
        if (!b.allocate(l.piece_bytes))
            return 0;
    for (uint32_t r = 0; r < l.height; r += l.rows_per_strip) {
        uint32_t rows = l.height - r < l.rows_per_strip ? l.height - r : l.rows_per_strip;
        tmsize_t want = static_cast<tmsize_t>(rows * l.row_bytes);
        for (uint16_t s = 0; s < 3; s++)
            if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, r, s), buf[s].get(), want) < want)
                return 0;
        TiffPiece piece{{buf[0].get(), buf[1].get(), buf[2].get()},
                        static_cast<ptrdiff_t>(l.row_bytes),
                        static_cast<int>(rows),
                        static_cast<int>(l.width),
                        1,
                        l.bits};
        TiffDest dst = image;
        dst.start = image.start + static_cast<ptrdiff_t>(r) * image.bytes_per_line;
        transfer(piece, dst);
    }
    return 1;
}

// Reads the tiles of the given planes (one for contiguous data, three for
// separate planes); returns 1 when all were read, 0 otherwise.
int read_tiles(TIFF *tif, const Layout &l, TiffTransfer transfer, const TiffDest &image, int planes)
{
    Buffer buf[3];
    for (int s = 0; s < planes; s++)
        if (!buf[s].allocate(l.piece_bytes))
            return 0;
    tmsize_t want = static_cast<tmsize_t>(l.piece_bytes);
    for (uint32_t r = 0; r < l.height; r += l.tile_length) {
        uint32_t rows = l.height - r < l.tile_length ? l.height - r : l.tile_length;
        for (uint32_t c = 0; c < l.width; c += l.tile_width) {
            uint32_t cols = l.width - c < l.tile_width ? l.width - c : l.tile_width;
            for (int s = 0; s < planes; s++)
                if (TIFFReadTile(tif, buf[s].get(), c, r, 0, static_cast<uint16_t>(s)) < want)
                    return 0;
            TiffPiece piece{{buf[0].get(), buf[1].get(), buf[2].get()},
                            static_cast<ptrdiff_t>(l.row_bytes),
                            static_cast<int>(rows),
                            static_cast<int>(cols),
                            planes == 1 ? l.samples : 1,
                            l.bits};
            TiffDest dst = image;
            dst.start = image.start + static_cast<ptrdiff_t>(r) * image.bytes_per_line +
                        column_offset(image, c);
            transfer(piece, dst);
        }
    }
    return 1;
}

// Returns 1 when every tile was read into the image, 0 otherwise.
int tiff_read_tile_contiguous(TIFF *tif, const Layout &l, TiffTransfer transfer,
                              const TiffDest &image)
{
    return read_tiles(tif, l, transfer, image, 1);
}

// Returns 1 when every tile of the three planes was read, 0 otherwise.
int tiff_read_tile_separate(TIFF *tif, const Layout &l, TiffTransfer transfer,
                            const TiffDest &image)
{
    return read_tiles(tif, l, transfer, image, 3);
}

// Chooses the reader and the transfer for the file's layout.
void obtain_image_functions(const Layout &l, Reader *reader, TiffTransfer *transfer)
{
    if (l.tiled)
        *reader = l.separate ? tiff_read_tile_separate : tiff_read_tile_contiguous;
    else
        *reader = l.separate ? tiff_read_strip_separate : tiff_read_strip_contiguous;
    if (l.photometric == PHOTOMETRIC_RGB)
        *transfer = l.separate ? transfer_RGB_separate_8bit : transfer_RGB_contig_8bit;
    else if (l.bits == 4)
        *transfer = transfer_4bit_cmap;
    else
        *transfer = transfer_nbit_cmap;
}

// Reads and checks the tags that describe the pixels; false (with the
// verbose diagnostic where there is one) when the file cannot be loaded.
bool read_layout(TIFF *tif, Layout *l)
{
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l->bits);
    if (l->bits > 8)
        return refuse(catmsg(1, 346, "tiff.c: 8-bits per sample max permitted\n"));
    uint16_t samples = 1;
    if (TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) == 1 && samples != 1 && samples != 3 &&
        samples != 4)
        return refuse(catmsg(1, 347, "tiff.c : 1,3 or 4 chanel images only allowed\n"));
    l->samples = samples;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l->width) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l->height) != 1)
        return false;
    if (l->width == 0 || l->height == 0 || l->width > MAX_IMAGE_SIDE || l->height > MAX_IMAGE_SIDE)
        return false;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l->photometric) != 1)
        return refuse(catmsg(1, 348, "tiff.c: This type of image not supported\n"));
    // Only layouts the transfers can place: one sample of 1 to 8 bits, or
    // 8-bit red, green and blue (and a fourth sample that is skipped).
    bool grey =
        l->photometric == PHOTOMETRIC_MINISWHITE || l->photometric == PHOTOMETRIC_MINISBLACK;
    bool palette = l->photometric == PHOTOMETRIC_PALETTE;
    bool rgb = l->photometric == PHOTOMETRIC_RGB;
    if (!((grey || palette) && l->samples == 1 && l->bits >= 1) &&
        !(rgb && l->samples >= 3 && l->bits == 8))
        return refuse(catmsg(1, 348, "tiff.c: This type of image not supported\n"));
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    l->separate = planar == PLANARCONFIG_SEPARATE && l->bits > 1 && l->samples > 1;
    l->tiled = TIFFIsTiled(tif) != 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l->compression);
    if (TIFFIsCODECConfigured(l->compression) != 1)
        return false;
    l->depth = rgb ? 24 : (grey && l->bits == 1 ? 1 : 8);
    if (l->tiled) {
        if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &l->tile_width) != 1 ||
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &l->tile_length) != 1)
            return false;
        // A tile may overhang the picture, but not by more than a sane tile.
        auto fits = [](uint32_t tile, uint32_t side) {
            uint64_t limit = (static_cast<uint64_t>(side) + 15) / 16 * 16;
            return tile > 0 && tile <= (limit > kMaxSpareTileSide ? limit : kMaxSpareTileSide);
        };
        if (!fits(l->tile_width, l->width) || !fits(l->tile_length, l->height))
            return false;
        // Packed 1-bit tiles must start on a byte of the image row.
        if (l->depth == 1 && l->tile_width % 8 != 0)
            return false;
        l->piece_bytes = TIFFTileSize64(tif);
        l->row_bytes = TIFFTileRowSize64(tif);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &l->rows_per_strip);
        if (l->rows_per_strip == 0)
            return false;
        if (l->rows_per_strip > l->height)
            l->rows_per_strip = l->height;
        l->row_bytes = TIFFScanlineSize64(tif);
        l->piece_bytes = l->row_bytes * l->rows_per_strip;
    }
    // Each row of a piece must hold the columns the transfers read.
    uint64_t per_pixel_bits = static_cast<uint64_t>(l->bits) * (l->separate ? 1 : l->samples);
    uint64_t cols = l->tiled ? l->tile_width : l->width;
    return l->row_bytes > 0 && l->piece_bytes > 0 && l->row_bytes * 8 >= cols * per_pixel_bits;
}

// Returns the most pixel bytes one byte of data of the given compression
// can decode to (row_bytes: decoded bytes of one row).
double max_expansion(unsigned compression, int64_t row_bytes)
{
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64; // 2 bytes repeat one byte 128 times
    case COMPRESSION_LZW:
        return 4096; // a code of at least 9 bits, a string of at most 4094 bytes
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE:
        return 1100; // deflate's limit is 258 bytes from 2 bits
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return 8.0 * static_cast<double>(row_bytes > 0 ? row_bytes : 1); // a row from 1 bit
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return 512; // a block of 64 samples from at least 1 bit
    default:
        return 32768;
    }
}

// True when a file of file_bytes can decode to the picture and the machine
// can hold the picture and the reader's buffers.
bool sizes_are_plausible(const Layout &l, int64_t file_bytes)
{
    uint64_t planes = l.separate ? 3 : 1;
    uint64_t rows_per_piece = l.tiled ? l.tile_length : l.rows_per_strip;
    uint64_t pieces_down = (l.height + rows_per_piece - 1) / rows_per_piece;
    uint64_t pieces_across = l.tiled ? (l.width + l.tile_width - 1) / l.tile_width : 1;
    // Decoded bytes the file must supply; each factor is below 2^32.
    double decoded = static_cast<double>(pieces_down) * pieces_across * planes *
                     static_cast<double>(l.piece_bytes);
    if (decoded > static_cast<double>(file_bytes) *
                      max_expansion(l.compression, static_cast<int64_t>(l.row_bytes)))
        return false;
    int64_t row = l.depth == 1 ? (static_cast<int64_t>(l.width) + 7) / 8
                               : static_cast<int64_t>(l.width) * (l.depth / 8);
    double memory = static_cast<double>(row) * l.height +
                    static_cast<double>(l.piece_bytes) * (l.separate ? 3 : 1);
    return memory < static_cast<double>(INT64_MAX) && memory_can_hold(static_cast<int64_t>(memory));
}

// Asks for huge pages under the whole 2 MB blocks of a large image's
// memory: decoding then touches a few dozen fresh pages instead of tens of
// thousands, which is most of what decoding costs beyond libtiff itself.
// Only a hint; the memory stays the image's.
void prefer_huge_pages(unsigned char *data, size_t bytes)
{
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

// Replaces the record's colormap by n entries from the given function.
template <typename Entry>
bool set_colormap(ImageRec *image, int n, Entry entry)
{
    std::free(image->red);
    std::free(image->green);
    std::free(image->blue);
    image->red = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    image->green = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    image->blue = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(n)));
    image->ncolors = 0;
    if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return false;
    for (int i = 0; i < n; i++)
        entry(i, &image->red[i], &image->green[i], &image->blue[i]);
    image->ncolors = n;
    return true;
}

// Fills the record's colormap for a grey or palette file.  A 1-bit grey
// image holds 1 for black whatever the file's photometric (the transfer
// inverts black-is-zero rows), so its map is white, black.
bool make_colormap(TIFF *tif, const Layout &l, ImageRec *image)
{
    int n = 1 << l.bits;
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 1 || r == nullptr || g == nullptr ||
            b == nullptr)
            return refuse(catmsg(1, 348, "tiff.c: This type of image not supported\n"));
        // Some writers store 8-bit values; libtiff's own reader takes a map
        // without any value above 255 as one.
        bool eight_bit = true;
        for (int i = 0; i < n && eight_bit; i++)
            eight_bit = r[i] < 256 && g[i] < 256 && b[i] < 256;
        int shift = eight_bit ? 0 : 8;
        return set_colormap(image, n,
                            [&](int i, unsigned char *pr, unsigned char *pg, unsigned char *pb) {
                                *pr = static_cast<unsigned char>(r[i] >> shift);
                                *pg = static_cast<unsigned char>(g[i] >> shift);
                                *pb = static_cast<unsigned char>(b[i] >> shift);
                            });
    }
    bool white_is_zero = l.photometric == PHOTOMETRIC_MINISWHITE || l.bits == 1;
    return set_colormap(image, n,
                        [&](int i, unsigned char *pr, unsigned char *pg, unsigned char *pb) {
                            int v = (white_is_zero ? n - 1 - i : i) * 255 / (n - 1);
                            *pr = *pg = *pb = static_cast<unsigned char>(v);
                        });
}

// Copies valid resolution tags into the record.
void read_resolution(TIFF *tif, ImageRec *image)
{
    float x = 0, y = 0;
    uint16_t unit = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) == 1 && std::isfinite(x) && x > 0)
        image->hres = x;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) == 1 && std::isfinite(y) && y > 0)
        image->vres = y;
    if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) == 1 && unit >= RESUNIT_NONE &&
        unit <= RESUNIT_CENTIMETER)
        image->res_unit = unit;
}

// Copies width pixels of a 1-bit row that starts bit_offset bits into src.
void copy_bits(const unsigned char *src, int bit_offset, int width, unsigned char *out)
{
    size_t n = (static_cast<size_t>(width) + 7) / 8;
    if (bit_offset == 0) {
        std::memcpy(out, src, n);
    } else {
        for (size_t i = 0; i < n; i++) {
            unsigned v = static_cast<unsigned>(src[i]) << bit_offset;
            if (static_cast<size_t>(width) + static_cast<size_t>(bit_offset) > 8 * (i + 1))
                v |= src[i + 1] >> (8 - bit_offset);
            out[i] = static_cast<unsigned char>(v);
        }
    }
    if (width % 8 != 0)
        out[n - 1] &= static_cast<unsigned char>(0xff << (8 - width % 8));
}

// Sets the tags of a picture of the given size and depth; false when
// libtiff refuses one.
bool set_tags(TIFF *tif, const ImageRec *image, int width, int height, int depth)
{
    bool ok =
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(image->hres)) == 1 &&
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(image->vres)) == 1 &&
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, image->res_unit) == 1 &&
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
        TIFFSetField(tif, TIFFTAG_COMPRESSION,
                     image->compression == COMP_LZW ? COMPRESSION_LZW : COMPRESSION_NONE) == 1;
    if (!ok)
        return false;
    if (depth == 1) {
        ok = TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
             TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
             TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1;
    } else if (depth == 8) {
        // 8-bit colours scaled to 16 bits; an image without a colormap is
        // grey.
        uint16_t map[3][256] = {};
        int n = image->ncolors < 256 ? image->ncolors : 256;
        bool have_map =
            n > 0 && image->red != nullptr && image->green != nullptr && image->blue != nullptr;
        for (int i = 0; i < 256; i++) {
            if (!have_map) {
                map[0][i] = map[1][i] = map[2][i] = static_cast<uint16_t>(i * 257);
            } else if (i < n) {
                map[0][i] = static_cast<uint16_t>(image->red[i] * 257);
                map[1][i] = static_cast<uint16_t>(image->green[i] * 257);
                map[2][i] = static_cast<uint16_t>(image->blue[i] * 257);
            }
        }
        ok = TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) == 1 &&
             TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
             TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
             TIFFSetField(tif, TIFFTAG_COLORMAP, map[0], map[1], map[2]) == 1;
    } else {
        ok = TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
             TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) == 1 &&
             TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) == 1;
    }
    // Strips of libtiff's usual size keep every reader's buffers small.
    return ok && TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width)) == 1 &&
           TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height)) == 1 &&
           TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0)) == 1;
}

} // namespace

void transfer_RGB_contig_8bit(const TiffPiece &src, const TiffDest &dst)
{
    for (int y = 0; y < src.rows; y++) {
        const unsigned char *s = src.plane[0] + y * src.stride;
        unsigned char *d = dst.start + y * dst.bytes_per_line;
        if (src.samples == 3 && dst.bytes_per_pixel == 3) {
            std::memcpy(d, s, static_cast<size_t>(src.cols) * 3);
            continue;
        }
        for (int x = 0; x < src.cols; x++, s += src.samples, d += dst.bytes_per_pixel) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
}

void transfer_RGB_separate_8bit(const TiffPiece &src, const TiffDest &dst)
{
    for (int y = 0; y < src.rows; y++) {
        const unsigned char *r = src.plane[0] + y * src.stride;
        const unsigned char *g = src.plane[1] + y * src.stride;
        const unsigned char *b = src.plane[2] + y * src.stride;
        unsigned char *d = dst.start + y * dst.bytes_per_line;
        for (int x = 0; x < src.cols; x++, d += dst.bytes_per_pixel) {
            d[0] = r[x];
            d[1] = g[x];
            d[2] = b[x];
        }
    }
}

void transfer_nbit_cmap(const TiffPiece &src, const TiffDest &dst)
{
    const int bits = src.bits;
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < src.rows; y++) {
        const unsigned char *s = src.plane[0] + y * src.stride;
        unsigned char *d = dst.start + y * dst.bytes_per_line;
        if (dst.bytes_per_pixel == 0) {
            std::memcpy(d, s, (static_cast<size_t>(src.cols) + 7) / 8);
            finish_bit_rows(d, dst.bytes_per_line, 1, src.cols, dst.invert);
        } else if (bits == 8 && dst.bytes_per_pixel == 1) {
            std::memcpy(d, s, static_cast<size_t>(src.cols));
        } else {
            // Samples are packed MSB first and may straddle two bytes.
            for (int x = 0; x < src.cols; x++, d += dst.bytes_per_pixel) {
                size_t bit = static_cast<size_t>(x) * bits;
                size_t byte = bit / 8;
                int off = static_cast<int>(bit % 8);
                unsigned v = off + bits <= 8
                                 ? static_cast<unsigned>(s[byte]) >> (8 - off - bits)
                                 : ((static_cast<unsigned>(s[byte]) << 8) | s[byte + 1]) >>
                                       (16 - off - bits);
                *d = static_cast<unsigned char>(v & mask);
            }
        }
    }
}

void transfer_4bit_cmap(const TiffPiece &src, const TiffDest &dst)
{
    for (int y = 0; y < src.rows; y++) {
        const unsigned char *s = src.plane[0] + y * src.stride;
        unsigned char *d = dst.start + y * dst.bytes_per_line;
        for (int x = 0; x < src.cols; x++, d += dst.bytes_per_pixel) {
            unsigned char v = s[x / 2];
            *d = static_cast<unsigned char>(x % 2 == 0 ? v >> 4 : v & 0x0f);
        }
    }
}

int tiff_load(ImageRec *image)
{
    // 1. libtiff reads a real file: a copy of in-memory contents, or the
    //    decompressed copy of a compressed file.
    const char *path = file_to_open(image->file, image->realfile, image->compression == COMP_UNIX,
                                    image->data, image->file_size);
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    // Not mapped: a file that shrinks while it is read must fail, not crash.
    TiffHandle tif = open_tiff(path, "rm", st.st_size);
    if (tif == nullptr)
        return -1;

    // 2.-4. The layout, checked before anything is allocated.
    Layout l;
    if (!read_layout(tif.get(), &l) || !sizes_are_plausible(l, st.st_size))
        return -1;
    if (l.depth != 24 && !make_colormap(tif.get(), l, image))
        return -1;
    image->width = static_cast<int>(l.width);
    image->height = static_cast<int>(l.height);
    image->depth = l.depth;
    if (l.depth == 24)
        image->rgb_order = 1;

    // 5. Resolution.
    read_resolution(tif.get(), image);

    // 6.-8. Read every piece into the image memory.
    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = create_data(image, &pixel_stride, &row_stride);
    if (data == nullptr)
        return -1;
    image->bytes_per_line = row_stride;
    prefer_huge_pages(data, static_cast<size_t>(row_stride) * l.height);
    Reader reader = nullptr;
    TiffTransfer transfer = nullptr;
    obtain_image_functions(l, &reader, &transfer);
    TiffDest dest{data, pixel_stride, row_stride,
                  l.depth == 1 && l.photometric == PHOTOMETRIC_MINISBLACK};
    int ok = reader(tif.get(), l, transfer, dest);

    // 9. A picture that could not be read whole is not kept.
    tif.reset();
    vela_import(image->orig_image, 1);
    if (!ok) {
        vela_destroy(image->orig_image);
        image->orig_image = nullptr;
        return -1;
    }
    return 0;
}

int tiff_save(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    if (img == nullptr)
        return -1;
    int width = vela_get_width(img), height = vela_get_height(img);
    int depth = retrieve_depth(vela_get_nbands(img), vela_get_datatype(img));

    // 1. libtiff writes the temporary file that replaces the target.
    SafeFile out(image->file);
    if (!out.ok())
        return -1;
    out.close_stream();
    TiffHandle tif = open_tiff(out.temp_path(), "w", 0);
    if (tif == nullptr)
        return -1;
    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = retrieve_data(img, &pixel_stride, &row_stride);
    if (data == nullptr)
        return -1;
    VelaMemoryStorage storage{};
    int bit_offset = depth == 1 && vela_get_memory_storage(img, &storage) ? storage.bit_offset : 0;

    // 2.-3. Tags.  Pixels go out red first whatever the memory's order:
    //    the row copy swaps them, so the image itself stays as it was.
    bool ok = set_tags(tif.get(), image, width, height, depth);
    bool swap = depth == 24 && !image->rgb_order;
    size_t line = depth == 1 ? (static_cast<size_t>(width) + 7) / 8
                             : static_cast<size_t>(width) * (depth / 8);
    Buffer row;
    ok = ok && row.allocate(line);

    // 4. One scanline at a time.
    for (int y = 0; ok && y < height; y++) {
        const unsigned char *src = data + static_cast<ptrdiff_t>(y) * row_stride;
        unsigned char *dst = row.get();
        if (depth == 1) {
            copy_bits(src, bit_offset, width, dst);
        } else if (depth == 8) {
            std::memcpy(dst, src, line);
        } else if (!swap && pixel_stride == 3) {
            std::memcpy(dst, src, line);
        } else {
            for (int x = 0; x < width; x++, src += pixel_stride, dst += 3) {
                dst[0] = src[swap ? 2 : 0];
                dst[1] = src[1];
                dst[2] = src[swap ? 0 : 2];
            }
        }
        if (TIFFWriteScanline(tif.get(), row.get(), static_cast<uint32_t>(y), 0) < 0) {
            if (prog != nullptr && prog->verbose)
                std::fprintf(stderr, catmsg(1, 350, "%d: Error writing TIFF scanline\n"), y);
            ok = false;
        }
    }

    // 5. The memory goes back unchanged; the file counts only once it is
    //    flushed, on the disk and renamed over the target.
    reimport_image(img, 0);
    ok = ok && TIFFFlush(tif.get()) == 1 && fsync(TIFFFileno(tif.get())) == 0;
    tif.reset();
    return ok && out.commit() ? 0 : -1;
}
