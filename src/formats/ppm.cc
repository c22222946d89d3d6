// ppm.cc - portable-map decoding (plain and raw PBM, PGM and PPM), directly
// from the file or from the output of a converter program.
//
// Images made: bitmaps (P1 as 8-bit 255/0, P4 as 1-bit rows as in the file),
// grey (8-bit with a 256-entry grey ramp) and colour (3 bytes a pixel,
// blue, green, red).  Colour samples are brought to 0..255; grey samples up
// to 255 keep their values and the ramp reaches white at the maximum.
// Samples above 255 are two bytes in raw files and are scaled to 0..255.
#include "formats/ppm.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include "app/corvat.h"
#include "app/msg.h"
#include "app/reader.h"
#include "formats/limits.h"
#include "image/display.h"
#include "image/image.h"

namespace {

// The maximum value bitmaps take.
constexpr int ppm_pbmmaxval = 1;
// Raw colour and 16-bit samples are read and converted this many bytes at
// a time: few reads, and each piece is still in the cache when converted.
constexpr size_t RAW_CHUNK = 1 << 20;

struct PnmHeader {
    int magic = 0;
    int width = 0, height = 0;  // pixels
    int maxval = 0;             // largest sample value
};

// The input being decoded and what has been said about it.
struct PnmInput {
    int64_t consumed = 0;       // bytes read so far
    bool at_eof = false;        // the input has ended
    bool told_eof = false;      // each diagnostic is given once a load
    bool told_junk = false;
};

// Prints a diagnostic (a catalog text taking the program name) when
// verbose output is on.
void tell(const char *text)
{
    if (prog != nullptr && prog->verbose)
        std::fprintf(stderr, text, prog->name);
}

void tell_eof(PnmInput &in)
{
    if (!in.told_eof)
        tell(catmsg(1, 150, "%s: EOF / read error in pbm_getc.\n"));
    in.told_eof = true;
}

void tell_junk(PnmInput &in)
{
    if (!in.told_junk)
        tell(catmsg(1, 151, "%s: Junk in file where an integer should be in pbm_getint.\n"));
    in.told_junk = true;
}

void tell_short_raw()
{
    tell(catmsg(1, 155, "%s: EOF / read error in pbm_getrawbyte.\n"));
}

void tell_no_memory()
{
    tell(catmsg(1, 156, "%s: Unable to allocate ppm data.\n"));
}

// Returns the next byte, or EOF.
int next_byte(PnmInput &in)
{
    int ch = im_fgetc();
    if (ch == EOF)
        in.at_eof = true;
    else
        in.consumed++;
    return ch;
}

// Returns the next character; a comment from "#" to the line end is read
// as that line end.
int pbm_getc(PnmInput &in)
{
    int ch = next_byte(in);
    if (ch == '#')
        do
            ch = next_byte(in);
        while (ch != EOF && ch != '\n' && ch != '\r');
    return ch;
}

bool pbm_space(int ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

// Returns the next character that is not white space, or EOF.
int pbm_getnonspace(PnmInput &in)
{
    int ch;
    do
        ch = pbm_getc(in);
    while (pbm_space(ch));
    if (ch == EOF)
        tell_eof(in);
    return ch;
}

// Returns the next decimal number (capped at INT_MAX), reading the one
// character after it.  The end of the input gives 0, and so does a junk
// character, which is skipped.
int pbm_getint(PnmInput &in)
{
    int ch = pbm_getnonspace(in);
    if (ch == EOF)
        return 0;
    if (ch < '0' || ch > '9') {
        tell_junk(in);
        return 0;
    }
    int64_t v = 0;
    while (ch >= '0' && ch <= '9') {
        v = std::min<int64_t>(v * 10 + (ch - '0'), INT_MAX);
        ch = pbm_getc(in);
    }
    return static_cast<int>(v);
}

// Reads the two bytes of the magic number; false at the end of the input.
bool pbm_readmagicnumber(PnmInput &in, int *magic)
{
    int c1 = next_byte(in);
    int c2 = c1 == EOF ? EOF : next_byte(in);
    *magic = (c1 << 8) | c2;
    return c2 != EOF;
}

void pbm_readpbminitrest(PnmInput &in, PnmHeader *h)
{
    h->width = pbm_getint(in);
    h->height = pbm_getint(in);
    h->maxval = ppm_pbmmaxval;
}

// Reads the rest of a grey header; false when the maximum is out of range.
bool pgm_readpgminitrest(PnmInput &in, PnmHeader *h)
{
    h->width = pbm_getint(in);
    h->height = pbm_getint(in);
    h->maxval = pbm_getint(in);
    if (h->maxval > PNM_MAXMAXVAL) {
        tell(catmsg(1, 153, "%s: Maxval is too large - try reconfiguring with PGM_BIGGRAYS\n"));
        return false;
    }
    return h->maxval > 0;
}

// Reads the rest of a colour header; false when the maximum is out of range.
bool ppm_readppminitrest(PnmInput &in, PnmHeader *h)
{
    h->width = pbm_getint(in);
    h->height = pbm_getint(in);
    h->maxval = pbm_getint(in);
    if (h->maxval > PNM_MAXMAXVAL) {
        tell(catmsg(1, 152,
                    "%s: Maxval is too large - try reconfiguring with PGM_BIGGRAYS or without "
                    "PPM_PACKCOLORS\n"));
        return false;
    }
    return h->maxval > 0;
}

// Reads the magic number and the header; false when the input is not a
// portable map.
bool ppm_readppminit(PnmInput &in, PnmHeader *h)
{
    if (!pbm_readmagicnumber(in, &h->magic))
        h->magic = 0;
    switch (h->magic) {
    case PBM_MAGIC:
    case RPBM_MAGIC:
        pbm_readpbminitrest(in, h);
        return true;
    case PGM_MAGIC:
    case RPGM_MAGIC:
        return pgm_readpgminitrest(in, h);
    case PPM_MAGIC:
    case RPPM_MAGIC:
        return ppm_readppminitrest(in, h);
    default:
        tell(catmsg(1, 154, "%s: Bad magic number - not a ppm, pgm, or pbm file.\n"));
        return false;
    }
}

bool is_colour(int magic)
{
    return magic == PPM_MAGIC || magic == RPPM_MAGIC;
}

bool is_raw(int magic)
{
    return magic == RPBM_MAGIC || magic == RPGM_MAGIC || magic == RPPM_MAGIC;
}

// Returns the bytes of raw pixel data the header promises.
int64_t raw_bytes(const PnmHeader &h)
{
    int64_t w = h.width, rows = h.height;
    if (h.magic == RPBM_MAGIC)
        return rows * ((w + 7) / 8);
    int64_t sample = h.maxval > 255 ? 2 : 1;
    return w * rows * sample * (h.magic == RPPM_MAGIC ? 3 : 1);
}

// Returns the bytes of image memory the picture takes.
int64_t memory_bytes(const PnmHeader &h)
{
    int64_t w = h.width, rows = h.height;
    if (h.magic == RPBM_MAGIC)
        return rows * ((w + 7) / 8);
    return w * rows * (is_colour(h.magic) ? 3 : 1);
}

// Reads n bytes into dst; false when the input ends first.
bool read_block(PnmInput &in, unsigned char *dst, size_t n)
{
    size_t got = im_fread(dst, 1, n);
    in.consumed += static_cast<int64_t>(got);
    return got == n;
}

// Returns the whole pages inside [p, p + n) as a start and a length.
std::pair<void *, size_t> whole_pages(unsigned char *p, size_t n, uintptr_t page)
{
    uintptr_t start = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
    return {reinterpret_cast<void *>(start), end > start ? end - start : 0};
}

// Fresh image memory costs a page fault a page when first written, and on
// this kind of machine the faults take longer than reading the file: ask
// for huge pages for the whole raster.  Only a hint; failures are harmless.
void advise_huge_pages(unsigned char *p, size_t n)
{
    auto [start, len] = whole_pages(p, n, 2u << 20);
    if (len > 0)
        madvise(start, len, MADV_HUGEPAGE);
}

// Reads n bytes of raster straight into image memory, in pieces, each
// piece's pages mapped in one call just before it is read (a lying header
// on a pipe thus never maps more than what arrived); false when the input
// ends first.
bool read_raster(PnmInput &in, unsigned char *dst, size_t n)
{
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (size_t done = 0; done < n;) {
        size_t piece = std::min(RAW_CHUNK, n - done);
        auto [start, len] = whole_pages(dst + done, piece, page);
        if (len > 0)
            madvise(start, len, MADV_POPULATE_WRITE);
        if (!read_block(in, dst + done, piece))
            return false;
        done += piece;
    }
    return true;
}

// --- plain (ASCII) pixels ------------------------------------------------------------
// Each reads until the input ends; pixels after the end keep the value the
// end gives (0, white for bitmaps).

// Bitmap digits, one a pixel, white space between them optional: 255 for
// 0, 0 for any other digit.
void load_pbmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride)
{
    for (int y = 0; y < h.height; y++)
        std::memset(data + static_cast<ptrdiff_t>(y) * row_stride, 255,
                    static_cast<size_t>(h.width));
    for (int y = 0; y < h.height && !in.at_eof; y++) {
        unsigned char *row = data + static_cast<ptrdiff_t>(y) * row_stride;
        for (int x = 0; x < h.width; x++) {
            int ch = pbm_getnonspace(in);
            if (ch == EOF)
                return;
            if (ch < '0' || ch > '9')
                tell_junk(in);
            else if (ch != '0')
                row[x] = 0;
        }
    }
}

// Stores a plain sample: up to a maximum of 255 its low 8 bits, scaled when
// asked; above, brought to 0..255.
inline unsigned char plain_sample(int v, const PnmHeader &h, const unsigned char *scale)
{
    if (h.maxval > 255)
        return scale[std::min(v, h.maxval)];
    return scale != nullptr ? scale[v & 0xff] : static_cast<unsigned char>(v & 0xff);
}

// Grey numbers, one a pixel.
void load_pgmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride,
                  const unsigned char *scale)
{
    for (int y = 0; y < h.height; y++)
        std::memset(data + static_cast<ptrdiff_t>(y) * row_stride, 0, static_cast<size_t>(h.width));
    for (int y = 0; y < h.height && !in.at_eof; y++) {
        unsigned char *row = data + static_cast<ptrdiff_t>(y) * row_stride;
        for (int x = 0; x < h.width && !in.at_eof; x++)
            row[x] = plain_sample(pbm_getint(in), h, scale);
    }
}

// Colour numbers, red, green, blue a pixel, stored blue, green, red.
void load_ppmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int pixel_stride,
                  int row_stride, const unsigned char *scale)
{
    for (int y = 0; y < h.height; y++)
        std::memset(data + static_cast<ptrdiff_t>(y) * row_stride, 0,
                    static_cast<size_t>(h.width) * pixel_stride);
    for (int y = 0; y < h.height && !in.at_eof; y++) {
        unsigned char *p = data + static_cast<ptrdiff_t>(y) * row_stride;
        for (int x = 0; x < h.width && !in.at_eof; x++, p += pixel_stride) {
            p[2] = plain_sample(pbm_getint(in), h, scale);
            p[1] = plain_sample(pbm_getint(in), h, scale);
            p[0] = plain_sample(pbm_getint(in), h, scale);
        }
    }
}

// --- raw pixels ----------------------------------------------------------------------
// Each reads the whole raster, in as few reads as the layout allows, and
// fails when the input ends first.

// Bitmap rows of (width + 7) / 8 bytes, as in the file.
bool load_rpbmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride)
{
    size_t line = (static_cast<size_t>(h.width) + 7) / 8;
    if (line == static_cast<size_t>(row_stride))
        return read_raster(in, data, line * static_cast<size_t>(h.height));
    for (int y = 0; y < h.height; y++)
        if (!read_block(in, data + static_cast<ptrdiff_t>(y) * row_stride, line))
            return false;
    return true;
}

// Convert big-endian 16-bit samples to bytes through the scale table: n
// grey samples, or pixels of red, green, blue into blue, green, red.
void convert_wide_grey(const unsigned char *src, unsigned char *dst, size_t n, int maxval,
                       const unsigned char *scale)
{
    for (size_t i = 0; i < n; i++) {
        int v = (src[2 * i] << 8) | src[2 * i + 1];
        dst[i] = scale[std::min(v, maxval)];
    }
}

void convert_wide_colour(const unsigned char *src, unsigned char *dst, size_t pixels, int maxval,
                         const unsigned char *scale)
{
    for (size_t i = 0; i < pixels; i++, src += 6, dst += 3) {
        int r = (src[0] << 8) | src[1], g = (src[2] << 8) | src[3], b = (src[4] << 8) | src[5];
        dst[0] = scale[std::min(b, maxval)];
        dst[1] = scale[std::min(g, maxval)];
        dst[2] = scale[std::min(r, maxval)];
    }
}

// Reads rows of 16-bit samples in pieces and converts each piece into the
// image rows: samples per row = width x bands.
bool load_wide_rows(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride,
                    int bands, const unsigned char *scale)
{
    size_t samples = static_cast<size_t>(h.width) * bands;
    size_t line = 2 * samples;
    size_t rows_per_piece = std::max<size_t>(1, RAW_CHUNK / line);
    std::vector<unsigned char> piece(line * std::min<size_t>(rows_per_piece, h.height));
    for (int y = 0; y < h.height;) {
        size_t rows = std::min<size_t>(rows_per_piece, static_cast<size_t>(h.height - y));
        if (!read_block(in, piece.data(), line * rows))
            return false;
        for (size_t r = 0; r < rows; r++, y++) {
            unsigned char *dst = data + static_cast<ptrdiff_t>(y) * row_stride;
            const unsigned char *src = piece.data() + line * r;
            if (bands == 1)
                convert_wide_grey(src, dst, samples, h.maxval, scale);
            else
                convert_wide_colour(src, dst, static_cast<size_t>(h.width), h.maxval, scale);
        }
    }
    return true;
}

// Grey rows as in the file (8-bit samples) or brought to 0..255 (16-bit).
bool load_rpgmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride,
                   const unsigned char *scale)
{
    if (h.maxval > 255)
        return load_wide_rows(in, data, h, row_stride, 1, scale);
    size_t line = static_cast<size_t>(h.width);
    if (line == static_cast<size_t>(row_stride))
        return read_raster(in, data, line * static_cast<size_t>(h.height));
    for (int y = 0; y < h.height; y++)
        if (!read_block(in, data + static_cast<ptrdiff_t>(y) * row_stride, line))
            return false;
    return true;
}

// Swaps the first and third byte of each 3-byte pixel.
void swap_red_blue_bytes(unsigned char *p, size_t pixels)
{
    for (size_t i = 0; i < pixels; i++, p += 3)
        std::swap(p[0], p[2]);
}

#if defined(__x86_64__)
// The same four pixels at a time: each 16-byte load holds 4 pixels and 4
// bytes of the next ones, which are stored back unchanged.  The next load
// comes before the store it overlaps, so no load waits for a store.
__attribute__((target("ssse3"))) void swap_red_blue_ssse3(unsigned char *p, size_t pixels)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    size_t i = 0;
    if (pixels >= 10) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        for (; i + 10 <= pixels; i += 4, p += 12) {
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_shuffle_epi8(v, order));
            v = next;
        }
    }
    swap_red_blue_bytes(p, pixels - i);
}
#endif

// Turns pixels read as red, green, blue into blue, green, red in place,
// through the scale table when given.
void rgb_to_bgr(unsigned char *p, size_t pixels, const unsigned char *scale)
{
    if (scale == nullptr) {
#if defined(__x86_64__)
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        if (ssse3) {
            swap_red_blue_ssse3(p, pixels);
            return;
        }
#endif
        swap_red_blue_bytes(p, pixels);
        return;
    }
    for (size_t i = 0; i < pixels; i++, p += 3) {
        unsigned char r = p[0];
        p[0] = scale[p[2]];
        p[1] = scale[p[1]];
        p[2] = scale[r];
    }
}

// Colour rows read straight into the image memory in large pieces, each
// turned to blue, green, red while it is still in the cache.
bool load_rppmdata(PnmInput &in, unsigned char *data, const PnmHeader &h, int row_stride,
                   const unsigned char *scale)
{
    if (h.maxval > 255)
        return load_wide_rows(in, data, h, row_stride, 3, scale);
    size_t line = static_cast<size_t>(h.width) * 3;
    bool packed = line == static_cast<size_t>(row_stride);
    size_t rows_per_piece = packed ? std::max<size_t>(1, RAW_CHUNK / line) : 1;
    for (int y = 0; y < h.height;) {
        size_t rows = std::min<size_t>(rows_per_piece, static_cast<size_t>(h.height - y));
        unsigned char *dst = data + static_cast<ptrdiff_t>(y) * row_stride;
        if (!read_raster(in, dst, line * rows))
            return false;
        rgb_to_bgr(dst, static_cast<size_t>(h.width) * rows, scale);
        y += static_cast<int>(rows);
    }
    return true;
}

// Gives the record a 256-entry grey colormap with the given levels.
bool set_grey_colormap(ImageRec *image, const unsigned char *levels)
{
    std::free(image->red);
    std::free(image->green);
    std::free(image->blue);
    image->red = static_cast<unsigned char *>(std::malloc(256));
    image->green = static_cast<unsigned char *>(std::malloc(256));
    image->blue = static_cast<unsigned char *>(std::malloc(256));
    image->ncolors = 0;
    if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return false;
    std::memcpy(image->red, levels, 256);
    std::memcpy(image->green, levels, 256);
    std::memcpy(image->blue, levels, 256);
    image->ncolors = 256;
    return true;
}

// Drops the image a failed load made.
void drop_image(ImageRec *image)
{
    if (image->orig_image != nullptr) {
        vela_import(image->orig_image, 0);
        vela_destroy(image->orig_image);
        image->orig_image = nullptr;
    }
}

} // namespace

std::vector<unsigned char> ppm_scale_table(int maxval)
{
    std::vector<unsigned char> table(static_cast<size_t>(std::max(256, maxval + 1)), 255);
    for (int v = 0; v < maxval; v++)
        table[static_cast<size_t>(v)] =
            static_cast<unsigned char>((static_cast<int64_t>(v) * 255 + maxval / 2) / maxval);
    return table;
}

int readppm(ImageRec *image)
{
    PnmInput in;
    PnmHeader h;
    if (!ppm_readppminit(in, &h) || h.width <= 0 || h.height <= 0)
        return 0;
    if (h.width > MAX_IMAGE_SIDE || h.height > MAX_IMAGE_SIDE) {
        tell_no_memory();
        return 0;
    }

    // The raster must be in a file before its memory is taken; plain
    // pixels take at least a byte each.  A pipe's length is unknown.
    int magic = h.magic;
    bool raw = is_raw(magic);
    int64_t needed = raw ? raw_bytes(h) : static_cast<int64_t>(h.width) * h.height;
    if (!im_is_pipe() && !input_can_hold(image, in.consumed + needed)) {
        if (raw)
            tell_short_raw();
        else
            tell_eof(in);
        return 0;
    }
    if (!memory_can_hold(memory_bytes(h))) {
        tell_no_memory();
        return 0;
    }

    image->width = h.width;
    image->height = h.height;
    image->depth = magic == RPBM_MAGIC ? 1 : is_colour(magic) ? 24 : 8;
    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = create_data(image, &pixel_stride, &row_stride);
    if (data == nullptr || (magic != RPBM_MAGIC && pixel_stride != (is_colour(magic) ? 3 : 1))) {
        tell_no_memory();
        drop_image(image);
        return 0;
    }

    // Colour is brought to the full range; grey keeps samples up to 255 and
    // its ramp reaches white at the maximum; wider samples are scaled.
    std::vector<unsigned char> scale = ppm_scale_table(h.maxval);
    const unsigned char *colour_scale = h.maxval != 255 ? scale.data() : nullptr;
    const unsigned char *grey_scale = h.maxval > 255 ? scale.data() : nullptr;
    bool grey = magic == PBM_MAGIC || magic == PGM_MAGIC || magic == RPGM_MAGIC;
    if (grey) {
        std::vector<unsigned char> identity = ppm_scale_table(255);
        bool ramp = magic != PBM_MAGIC && h.maxval < 255;
        if (!set_grey_colormap(image, ramp ? scale.data() : identity.data())) {
            tell_no_memory();
            drop_image(image);
            return 0;
        }
    }

    if (raw)
        advise_huge_pages(data, static_cast<size_t>(row_stride) * static_cast<size_t>(h.height));
    bool ok = true;
    switch (magic) {
    case PBM_MAGIC:
        load_pbmdata(in, data, h, row_stride);
        break;
    case PGM_MAGIC:
        load_pgmdata(in, data, h, row_stride, grey_scale);
        break;
    case PPM_MAGIC:
        load_ppmdata(in, data, h, pixel_stride, row_stride, colour_scale);
        break;
    case RPBM_MAGIC:
        ok = load_rpbmdata(in, data, h, row_stride);
        break;
    case RPGM_MAGIC:
        ok = load_rpgmdata(in, data, h, row_stride, grey_scale);
        break;
    default:
        ok = load_rppmdata(in, data, h, row_stride, colour_scale);
        break;
    }
    if (!ok) {
        tell_short_raw();
        drop_image(image);
        return 0;
    }
    vela_import(image->orig_image, 1);
    image->bytes_per_line = row_stride;
    if (is_colour(magic))
        image->rgb_order = 0;
    return 1;
}

int ppm_load(ImageRec *image)
{
    const char *converter = image->type != nullptr ? image->type->converter : nullptr;
    int compressed = image->compression == COMP_UNIX;
    int opened = converter != nullptr
                     ? openfile_filter(image->file, image->realfile, compressed, image->data,
                                       converter, image->file_size)
                     : openfile(image->file, image->realfile, compressed, image->data,
                                image->file_size);
    int ok = opened == 0 && readppm(image);
    closefile();
    return ok ? 0 : -1;
}
