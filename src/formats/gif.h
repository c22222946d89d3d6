// gif.h - the GIF codec: the decoder reads the first image of a GIF87a or
// GIF89a stream into an 8-bit record with a colormap; the encoder writes a
// GIF87a file with one global colormap and LZW-compressed data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ImageRec;

// Loads the first image of the record's file; 0 on success (a file whose
// data ends early keeps the rows it has), -1 on failure.
int gif_load(ImageRec *image);
// Writes the record's 1- or 8-bit image to its file name through a
// temporary file; 0 on success, -1 on failure (an existing file is kept).
int gif_save(ImageRec *image);

// Fewest bytes of LZW data that can hold the given number of pixels: a
// code w bits wide stands for at most 2^w pixels, and 2^w / w is largest
// (4096 / 12) at the widest code, so each byte holds at most 8192 / 3.
constexpr int64_t gif_min_data_bytes(int64_t pixels)
{
    return (pixels * 3 + 8191) / 8192;
}

// The encoder's walk over the picture: the pixel memory and which pixel
// comes next, row by row or in the four interlace passes.
struct GifPicture {
    const unsigned char *data;  // one byte per pixel
    ptrdiff_t row_stride;       // bytes from one row to the next
    int Width, Height;          // pixels
    int Interlace;              // 1: rows in the order 0, 4, 2, 1 mod 8
    int curx, cury;             // next pixel
    int64_t CountDown;          // pixels left
    int Pass;                   // interlace pass 0..3
};

// Returns the pixel at (x, y).
inline int gif_get_pixel(const GifPicture &p, int x, int y)
{
    return p.data[x + y * p.row_stride];
}

// Moves to the next pixel: the next column, or the first column of the next
// row of the current pass (passes with no row inside the picture are
// skipped).
inline void BumpPixel(GifPicture &p)
{
    if (++p.curx < p.Width)
        return;
    p.curx = 0;
    if (!p.Interlace) {
        ++p.cury;
        return;
    }
    static const int step[4] = {8, 8, 4, 2};
    static const int next_start[3] = {4, 2, 1};
    p.cury += step[p.Pass];
    while (p.cury >= p.Height && p.Pass < 3) {
        p.cury = next_start[p.Pass];
        ++p.Pass;
    }
}

// Returns the next pixel value, or -1 when every pixel has been given.
inline int GIFNextPixel(GifPicture &p)
{
    if (p.CountDown == 0)
        return -1;
    --p.CountDown;
    int r = gif_get_pixel(p, p.curx, p.cury);
    BumpPixel(p);
    return r;
}

// Writes the picture's LZW data blocks with codes starting init_bits wide,
// then the end code.  Returns 0, or -1 when writing fails.
int gif_compress(int init_bits, FILE *outfile, GifPicture &picture);

// Writes a whole GIF87a stream of a width x height picture of
// bits_per_pixel (1..8) to outfile: 2^bits_per_pixel colormap entries from
// red, green and blue (arrays of that many bytes), then the image.  The
// pixels are bytes at data + x + y * row_stride.  Returns 0, or -1 when
// the sizes cannot be written or writing fails.
int GIFEncode(FILE *outfile, int width, int height, int interlace, int background,
              int bits_per_pixel, const unsigned char *red, const unsigned char *green,
              const unsigned char *blue, const unsigned char *data, ptrdiff_t row_stride);
