// gif.cc - the GIF decoder: header, colormaps and extensions, then the
// LZW data of the first image decoded straight into the image memory.
#include "formats/gif.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/corvat.h"
#include "app/reader.h"
#include "formats/limits.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

constexpr int STAB_SIZE = 4096;     // string table entries (12-bit codes)
constexpr int PSTK_SIZE = 1024;     // first size of the pixel stack, bytes
constexpr int PSTK_STEP = 128;      // its growth, bytes
// The stack only ever holds one string (at most the table's size) and the
// placeholder byte of a code not yet in the table.
constexpr int PSTK_LIMIT = STAB_SIZE + PSTK_STEP;
constexpr size_t INPUT_CHUNK = 65536; // bytes asked of the reader at once

// Results of the decoder's steps.
enum class GifStatus : int {
    Ok = 0,
    Done = 1,           // trailer before any image
    BadAspect = -1,     // non-zero pixel-aspect byte
    BadSeparator = -2,  // unexpected block introducer
    BadSignature = -3,
    EndOfData = -4,     // zero-length data block
    EndOfFile = -5,     // read error, short read or end code
    FileOpen = -6,
    ImageOpen = -7,
    NoFile = -8,
    BadCode = -9,       // a code beyond the string table
    PixelStack = -10,
};

struct GifColormap {
    unsigned char red[256], green[256], blue[256];
    int ncolors;                // entries read, 0 when there is none
};

// Decoder state: one decode at a time.
struct GifDecoder {
    // Logical screen.
    int rast_width, rast_height;    // pixels
    bool g_cmap_flag;
    int g_color_res;                // bits per primary
    int g_pixel_bits;
    int bg_color;
    GifColormap g_cmap;

    // Image descriptor.
    int img_left, img_top, img_width, img_height; // pixels
    bool l_cmap_flag;
    bool interlace_flag;
    int l_pixel_bits;
    GifColormap l_cmap;

    // LZW.
    int root_size;                  // minimum code size, bits
    int clr_code, eoi_code;
    int code_size, code_mask;       // current code width, bits, and its mask
    int table_size;                 // entries in the string table
    int prev_code;                  // -1 right after a clear
    uint32_t work_data;             // bit accumulator, low bits first
    int work_bits;                  // bits held in work_data
    unsigned char buf[256];         // current data block
    int buf_cnt, buf_idx;           // its length and the next byte

    // String table: each entry is its prefix entry plus one byte.
    int16_t prefix[STAB_SIZE];      // -1 for a root
    unsigned char extnsn[STAB_SIZE]; // last byte of the string
    uint16_t length[STAB_SIZE];     // bytes of the string

    // Pixel stack: the part of a string that did not fit in the row.
    unsigned char *pstk;            // malloc'ed, pstk_size bytes
    int pstk_size = PSTK_SIZE;      // kept between decodes once grown
    int pstk_idx;                   // bytes held; the top is the next pixel

    bool file_open, image_open;
    bool fatal;
    char error_text[120];

    // Read-ahead of the input.
    unsigned char in[INPUT_CHUNK];
    size_t in_pos, in_len;
    int64_t in_consumed;            // bytes of the input used so far
};

GifDecoder gd;

// Returns the next byte of the input, or EOF.
inline int gif_getc()
{
    if (gd.in_pos == gd.in_len) {
        gd.in_len = im_fread(gd.in, 1, sizeof gd.in);
        gd.in_pos = 0;
        if (gd.in_len == 0)
            return EOF;
    }
    gd.in_consumed++;
    return gd.in[gd.in_pos++];
}

// Reads n bytes into out; false when the input ends first.
bool gif_read(unsigned char *out, size_t n)
{
    while (n > 0) {
        if (gd.in_pos == gd.in_len) {
            gd.in_len = im_fread(gd.in, 1, sizeof gd.in);
            gd.in_pos = 0;
            if (gd.in_len == 0)
                return false;
        }
        size_t k = gd.in_len - gd.in_pos < n ? gd.in_len - gd.in_pos : n;
        std::memcpy(out, gd.in + gd.in_pos, k);
        gd.in_pos += k;
        gd.in_consumed += static_cast<int64_t>(k);
        out += k;
        n -= k;
    }
    return true;
}

// Returns the 16-bit little-endian value at p.
int get16(const unsigned char *p)
{
    return p[0] | (p[1] << 8);
}

// Records a fatal error; returns the status to pass on.
GifStatus gifin_fatal(const char *msg)
{
    gd.fatal = true;
    std::snprintf(gd.error_text, sizeof gd.error_text, "Error reading GIF file: %s", msg);
    return GifStatus::PixelStack;
}

// Reads 2^bits RGB triples into cmap.
GifStatus gifin_load_cmap(GifColormap *cmap, int bits)
{
    int n = 1 << bits;
    unsigned char rgb[3 * 256];
    if (!gif_read(rgb, static_cast<size_t>(3 * n)))
        return GifStatus::EndOfFile;
    for (int i = 0; i < n; i++) {
        cmap->red[i] = rgb[3 * i];
        cmap->green[i] = rgb[3 * i + 1];
        cmap->blue[i] = rgb[3 * i + 2];
    }
    cmap->ncolors = n;
    return GifStatus::Ok;
}

// Reads the next data block into the block buffer; EndOfData for the
// zero-length block, EndOfFile when the input ends.
GifStatus gifin_read_data_block()
{
    int count = gif_getc();
    if (count == EOF)
        return GifStatus::EndOfFile;
    if (count == 0)
        return GifStatus::EndOfData;
    gd.buf_cnt = count;
    gd.buf_idx = 0;
    return gif_read(gd.buf, static_cast<size_t>(count)) ? GifStatus::Ok
                                                        : GifStatus::EndOfFile;
}

// Skips an extension: its label, then data blocks up to the zero-length one.
GifStatus gifin_skip_extension()
{
    if (gif_getc() == EOF)
        return GifStatus::EndOfFile;
    GifStatus rc;
    while ((rc = gifin_read_data_block()) == GifStatus::Ok) {
    }
    return rc == GifStatus::EndOfData ? GifStatus::Ok : rc;
}

// Reads the signature, the logical screen descriptor and the global
// colormap.
GifStatus gifin_open_file()
{
    if (gd.file_open)
        return GifStatus::FileOpen;
    unsigned char sig[6], lsd[7];
    if (!gif_read(sig, 6))
        return GifStatus::EndOfFile;
    if (std::memcmp(sig, "GIF87a", 6) != 0 && std::memcmp(sig, "GIF89a", 6) != 0)
        return GifStatus::BadSignature;
    if (!gif_read(lsd, 7))
        return GifStatus::EndOfFile;
    gd.rast_width = get16(lsd);
    gd.rast_height = get16(lsd + 2);
    gd.g_cmap_flag = (lsd[4] & 0x80) != 0;
    gd.g_color_res = ((lsd[4] >> 4) & 0x07) + 1;
    gd.g_pixel_bits = (lsd[4] & 0x07) + 1;
    gd.bg_color = lsd[5];
    if (lsd[6] != 0)
        return GifStatus::BadAspect;
    gd.g_cmap.ncolors = 0;
    if (gd.g_cmap_flag) {
        GifStatus rc = gifin_load_cmap(&gd.g_cmap, gd.g_pixel_bits);
        if (rc != GifStatus::Ok)
            return rc;
    }
    gd.file_open = true;
    return GifStatus::Ok;
}

// Moves to the first image: skips extensions, reads the image descriptor,
// the local colormap and the minimum code size, and sets up the decoder.
GifStatus gifin_open_image()
{
    if (!gd.file_open)
        return GifStatus::NoFile;
    if (gd.image_open)
        return GifStatus::ImageOpen;
    for (;;) {
        int c = gif_getc();
        if (c == EOF)
            return GifStatus::EndOfFile;
        if (c == ';')
            return GifStatus::Done;
        if (c == ',')
            break;
        if (c != '!')
            return GifStatus::BadSeparator;
        GifStatus rc = gifin_skip_extension();
        if (rc != GifStatus::Ok)
            return rc;
    }
    unsigned char desc[9];
    if (!gif_read(desc, 9))
        return GifStatus::EndOfFile;
    gd.img_left = get16(desc);
    gd.img_top = get16(desc + 2);
    gd.img_width = get16(desc + 4);
    gd.img_height = get16(desc + 6);
    gd.l_cmap_flag = (desc[8] & 0x80) != 0;
    gd.interlace_flag = (desc[8] & 0x40) != 0;
    gd.l_pixel_bits = (desc[8] & 0x07) + 1;
    gd.l_cmap.ncolors = 0;
    if (gd.l_cmap_flag) {
        GifStatus rc = gifin_load_cmap(&gd.l_cmap, gd.l_pixel_bits);
        if (rc != GifStatus::Ok)
            return rc;
    }
    int c = gif_getc();
    if (c == EOF)
        return GifStatus::EndOfFile;
    // Pixels are bytes: wider roots cannot be stored, and 12 bits leave no
    // room for a table.
    if (c < 1 || c > 8)
        return GifStatus::BadCode;
    gd.root_size = c;
    gd.clr_code = 1 << gd.root_size;
    gd.eoi_code = gd.clr_code + 1;
    gd.code_size = gd.root_size + 1;
    gd.code_mask = (1 << gd.code_size) - 1;
    // A stream that starts without a clear code decodes as after one.
    gd.table_size = gd.eoi_code + 1;
    gd.prev_code = -1;
    gd.work_data = 0;
    gd.work_bits = 0;
    gd.buf_cnt = 0;
    gd.buf_idx = 0;
    for (int i = 0; i < STAB_SIZE; i++) {
        gd.prefix[i] = -1;
        gd.extnsn[i] = static_cast<unsigned char>(i);
        gd.length[i] = 1;
    }
    gd.pstk_idx = 0;
    gd.image_open = true;
    return GifStatus::Ok;
}

// Marks the file and its image closed, ready for the next decode.
void gifin_close_file()
{
    gd.file_open = false;
    gd.image_open = false;
}

// Pushes one byte onto the pixel stack, growing it when full.
GifStatus push_pixel(unsigned char p)
{
    if (gd.pstk_idx == gd.pstk_size) {
        int size = gd.pstk_size + PSTK_STEP;
        auto *grown = size <= PSTK_LIMIT
                          ? static_cast<unsigned char *>(std::realloc(gd.pstk, static_cast<size_t>(size)))
                          : nullptr;
        if (grown == nullptr)
            return gifin_fatal("pixel stack overflow in PUSH_PIXEL()");
        gd.pstk = grown;
        gd.pstk_size = size;
    }
    gd.pstk[gd.pstk_idx++] = p;
    return GifStatus::Ok;
}

// Pushes the string of code, last byte first, so that it pops in order.
GifStatus gifin_push_string(int code)
{
    while (gd.prefix[code] != -1) {
        if (push_pixel(gd.extnsn[code]) != GifStatus::Ok)
            return GifStatus::PixelStack;
        code = gd.prefix[code];
    }
    return push_pixel(gd.extnsn[code]);
}

// Adds the string of p followed by e to the table, widening the codes when
// the table reaches the current code width; a full table stays as it is.
inline void gifin_add_string(int p, int e)
{
    if (gd.table_size >= STAB_SIZE)
        return;
    gd.prefix[gd.table_size] = static_cast<int16_t>(p);
    gd.extnsn[gd.table_size] = static_cast<unsigned char>(e);
    gd.length[gd.table_size] = static_cast<uint16_t>(gd.length[p] + 1);
    if (gd.table_size == gd.code_mask && gd.code_size < 12) {
        gd.code_size++;
        gd.code_mask = (1 << gd.code_size) - 1;
    }
    gd.table_size++;
}

// Writes the string of code into out (length[code] bytes); returns its
// first byte.
inline int write_string(int code, unsigned char *out)
{
    for (int k = gd.length[code] - 1; k > 0; k--) {
        out[k] = gd.extnsn[code];
        code = gd.prefix[code];
    }
    out[0] = static_cast<unsigned char>(code);
    return code;
}

// Fills n pixels at out: first from the pixel stack, then from the codes
// of the data.  Strings that fit go straight to out; the rest of one that
// does not is left on the stack for the next call.  Returns Success, or
// why the data ended (the pixels before that are written).
GifStatus gifin_get_pixels(unsigned char *out, int n)
{
    for (;;) {
        while (gd.pstk_idx > 0 && n > 0) {
            *out++ = gd.pstk[--gd.pstk_idx];
            n--;
        }
        if (n == 0)
            return GifStatus::Ok;

        // Next code.
        while (gd.work_bits < gd.code_size) {
            if (gd.buf_idx == gd.buf_cnt) {
                GifStatus rc = gifin_read_data_block();
                if (rc != GifStatus::Ok)
                    return rc;
            }
            gd.work_data |= static_cast<uint32_t>(gd.buf[gd.buf_idx++]) << gd.work_bits;
            gd.work_bits += 8;
        }
        int code = static_cast<int>(gd.work_data & static_cast<uint32_t>(gd.code_mask));
        gd.work_data >>= gd.code_size;
        gd.work_bits -= gd.code_size;

        if (code == gd.clr_code) {
            gd.code_size = gd.root_size + 1;
            gd.code_mask = (1 << gd.code_size) - 1;
            gd.prev_code = -1;
            gd.table_size = gd.eoi_code + 1;
            continue;
        }
        if (code == gd.eoi_code)
            return GifStatus::EndOfFile;

        int first;
        if (gd.prev_code == -1) {
            // The first code after a clear names a root.
            if (code >= gd.clr_code)
                return GifStatus::BadCode;
            *out++ = static_cast<unsigned char>(code);
            n--;
            gd.prev_code = code;
            continue;
        }
        if (code < gd.table_size) {
            int len = gd.length[code];
            if (len <= n) {
                first = write_string(code, out);
                out += len;
                n -= len;
            } else {
                if (gifin_push_string(code) != GifStatus::Ok)
                    return GifStatus::PixelStack;
                first = gd.pstk[gd.pstk_idx - 1];
            }
        } else if (code == gd.table_size) {
            // Not yet in the table: the previous string and its own first
            // byte.
            int len = gd.length[gd.prev_code] + 1;
            if (len <= n) {
                first = write_string(gd.prev_code, out);
                out[len - 1] = static_cast<unsigned char>(first);
                out += len;
                n -= len;
            } else {
                if (push_pixel(255) != GifStatus::Ok)
                    return GifStatus::PixelStack;
                int placeholder = gd.pstk_idx - 1;
                if (gifin_push_string(gd.prev_code) != GifStatus::Ok)
                    return GifStatus::PixelStack;
                first = gd.pstk[gd.pstk_idx - 1];
                gd.pstk[placeholder] = static_cast<unsigned char>(first);
            }
        } else {
            return GifStatus::BadCode;
        }
        gifin_add_string(gd.prev_code, first);
        gd.prev_code = code;
    }
}

// Copies a colormap into the record's newly allocated arrays; false when
// memory runs out.
bool set_colormap(ImageRec *image, const GifColormap &cmap)
{
    image->ncolors = cmap.ncolors;
    if (cmap.ncolors == 0)
        return true;
    size_t n = static_cast<size_t>(cmap.ncolors);
    image->red = static_cast<unsigned char *>(std::malloc(n));
    image->green = static_cast<unsigned char *>(std::malloc(n));
    image->blue = static_cast<unsigned char *>(std::malloc(n));
    if (image->red == nullptr || image->green == nullptr || image->blue == nullptr)
        return false;
    std::memcpy(image->red, cmap.red, n);
    std::memcpy(image->green, cmap.green, n);
    std::memcpy(image->blue, cmap.blue, n);
    return true;
}

// Decodes the rows into the image memory, in the interlace order when the
// image has it.  Returns Success, a status that ends the data early (the
// rows so far stay), or PixelStack.
GifStatus read_rows(unsigned char *data, int row_stride)
{
    static const int start[4] = {0, 4, 2, 1};
    static const int step[4] = {8, 8, 4, 2};
    int passes = gd.interlace_flag ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int first = gd.interlace_flag ? start[pass] : 0;
        int inc = gd.interlace_flag ? step[pass] : 1;
        for (int y = first; y < gd.img_height; y += inc) {
            GifStatus rc = gifin_get_pixels(data + static_cast<ptrdiff_t>(y) * row_stride,
                                            gd.img_width);
            if (rc != GifStatus::Ok)
                return rc;
        }
    }
    return GifStatus::Ok;
}

} // namespace

int gif_load(ImageRec *image)
{
    gd.fatal = false;
    if (openfile(image->file, image->realfile, image->compression == COMP_UNIX, image->data,
                 image->file_size) != 0)
        return -1;
    gd.in_pos = gd.in_len = 0;
    gd.in_consumed = 0;
    bool ok = gifin_open_file() == GifStatus::Ok && gifin_open_image() == GifStatus::Ok;

    // The image must fit in memory, and the data left in the input must be
    // able to hold its pixels.
    int64_t pixels = ok ? static_cast<int64_t>(gd.img_width) * gd.img_height : 0;
    ok = ok && pixels > 0 && memory_can_hold(pixels) &&
         input_can_hold(image, gd.in_consumed + gif_min_data_bytes(pixels));

    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = nullptr;
    if (ok) {
        image->width = gd.img_width;
        image->height = gd.img_height;
        image->depth = 8;
        data = create_data(image, &pixel_stride, &row_stride);
        ok = data != nullptr &&
             set_colormap(image, gd.l_cmap_flag ? gd.l_cmap : gd.g_cmap);
    }
    if (ok) {
        image->bytes_per_line = row_stride;
        gd.pstk = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(gd.pstk_size)));
        ok = gd.pstk != nullptr;
    }
    if (ok && read_rows(data, row_stride) == GifStatus::PixelStack && gd.fatal) {
        if (prog->verbose)
            std::fprintf(stderr, "%s: %s\n", prog->name, gd.error_text);
        ok = false;
    }
    std::free(gd.pstk);
    gd.pstk = nullptr;
    gifin_close_file();
    closefile();
    if (!ok) {
        if (data != nullptr)
            vela_import(image->orig_image, 1);
        return -1;
    }
    vela_import(image->orig_image, 1);
    return 0;
}
