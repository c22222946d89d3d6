// gifencod.cc - the GIF encoder's file layout (GIF87a, one global
// colormap, one image) and the save function that feeds it a record's
// pixels.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/corvat.h"
#include "formats/gif.h"
#include "formats/limits.h"
#include "formats/savefile.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// Writes a 16-bit value, low byte first.
void Putword(int w, FILE *fp)
{
    std::fputc(w & 0xff, fp);
    std::fputc((w >> 8) & 0xff, fp);
}

// Returns the pixels of a 1-bit image as one byte each (0 or 1), rows of
// width bytes; empty when memory cannot hold them.
std::vector<unsigned char> unpack_bits(const unsigned char *data, int bit_offset, int row_stride,
                                       int width, int height)
{
    std::vector<unsigned char> out;
    if (!memory_can_hold(static_cast<int64_t>(width) * height))
        return out;
    out.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; y++) {
        const unsigned char *row = data + static_cast<ptrdiff_t>(y) * row_stride;
        unsigned char *o = out.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; x++) {
            int bit = bit_offset + x;
            o[x] = static_cast<unsigned char>((row[bit >> 3] >> (7 - (bit & 7))) & 1);
        }
    }
    return out;
}

} // namespace

int GIFEncode(FILE *outfile, int width, int height, int interlace, int background,
              int bits_per_pixel, const unsigned char *red, const unsigned char *green,
              const unsigned char *blue, const unsigned char *data, ptrdiff_t row_stride)
{
    // The file holds sizes in 16 bits.
    if (width < 1 || height < 1 || width > 65535 || height > 65535 || bits_per_pixel < 1 ||
        bits_per_pixel > 8)
        return -1;
    GifPicture picture{data, row_stride, width, height, interlace ? 1 : 0, 0, 0,
                       static_cast<int64_t>(width) * height, 0};
    int color_map_size = 1 << bits_per_pixel;
    // Two colours still take a code size of 2: the clear and end codes
    // need the room.
    int init_code_size = bits_per_pixel <= 1 ? 2 : bits_per_pixel;

    std::fwrite("GIF87a", 1, 6, outfile);
    Putword(width, outfile);
    Putword(height, outfile);
    std::fputc(0x80 | ((bits_per_pixel - 1) << 5) | (bits_per_pixel - 1), outfile);
    std::fputc(background, outfile);
    std::fputc(0, outfile);
    for (int i = 0; i < color_map_size; i++) {
        std::fputc(red[i], outfile);
        std::fputc(green[i], outfile);
        std::fputc(blue[i], outfile);
    }

    std::fputc(',', outfile);
    Putword(0, outfile);
    Putword(0, outfile);
    Putword(width, outfile);
    Putword(height, outfile);
    std::fputc(interlace ? 0x40 : 0x00, outfile);
    std::fputc(init_code_size, outfile);
    if (gif_compress(init_code_size + 1, outfile, picture) != 0)
        return -1;
    std::fputc(0, outfile);
    std::fputc(';', outfile);
    return std::fflush(outfile) == 0 && !std::ferror(outfile) ? 0 : -1;
}

int gif_save(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    if (img == nullptr)
        return -1;
    int width = 0, height = 0, nbands = 0, datatype = 0;
    vela_get_info(img, &width, &height, &nbands, &datatype);
    if (nbands != 1)
        return -1;
    int depth = datatype == VELA_BIT ? 1 : 8;

    SafeFile out(image->file);
    if (!out.ok()) {
        if (prog->verbose)
            std::fputs("error: could not open output file\n", stderr);
        return -1;
    }

    // The colormap has 2^depth entries: the record's colours, the rest
    // black.  A 1-bit image without colours shows 0 as white and 1 as black.
    unsigned char red[256] = {}, green[256] = {}, blue[256] = {};
    int ncolors = image->red != nullptr && image->green != nullptr && image->blue != nullptr
                      ? image->ncolors
                      : 0;
    ncolors = ncolors < 0 ? 0 : ncolors > (1 << depth) ? (1 << depth) : ncolors;
    if (ncolors > 0) {
        std::memcpy(red, image->red, static_cast<size_t>(ncolors));
        std::memcpy(green, image->green, static_cast<size_t>(ncolors));
        std::memcpy(blue, image->blue, static_cast<size_t>(ncolors));
    } else if (depth == 1) {
        red[0] = green[0] = blue[0] = 255;
    }

    int pixel_stride = 0, row_stride = 0;
    unsigned char *data = retrieve_data(img, &pixel_stride, &row_stride);
    if (data == nullptr)
        return -1;
    int rc = -1;
    if (depth == 8 && pixel_stride == 1) {
        rc = GIFEncode(out.fp(), width, height, 0, 0, depth, red, green, blue, data, row_stride);
    } else if (depth == 1) {
        VelaMemoryStorage storage;
        std::vector<unsigned char> bytes;
        if (vela_get_memory_storage(img, &storage))
            bytes = unpack_bits(data, storage.bit_offset, row_stride, width, height);
        if (!bytes.empty())
            rc = GIFEncode(out.fp(), width, height, 0, 0, depth, red, green, blue, bytes.data(),
                           width);
    }
    reimport_image(img, 0);
    if (rc != 0 || !out.commit()) {
        if (prog->verbose)
            std::fputs("error writing output file\n", stderr);
        return -1;
    }
    return 0;
}
