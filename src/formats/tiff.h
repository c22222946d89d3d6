// tiff.h - TIFF load and save through libtiff: 1- to 8-bit grey and palette
// images and 8-bit RGB (an alpha sample is ignored), in strips or tiles,
// contiguous or planar.
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageRec;

// Loads the first picture of the record's file; 0 on success, -1 on failure.
int tiff_load(ImageRec *image);
// Writes the record's image (depth 1, 8 or 24; LZW when the record's
// compression is COMP_LZW) to its file name; 0 on success, -1 on failure.
int tiff_save(ImageRec *image);

// One decoded strip or tile, as a transfer sees it.
struct TiffPiece {
    const unsigned char *plane[3]; // contiguous data in plane[0]; else one plane per sample
    ptrdiff_t stride;              // bytes from one source row to the next
    int rows, cols;                // pixels of this piece inside the image
    int samples;                   // samples per pixel in plane[0] (contiguous data)
    int bits;                      // bits per sample
};

// Where a piece goes in the image memory.
struct TiffDest {
    unsigned char *start; // the piece's first pixel (its byte for 1-bit images)
    int bytes_per_pixel;  // 0 for 1-bit images
    ptrdiff_t bytes_per_line;
    bool invert; // 1-bit rows: flip every bit (black-is-zero files)
};

using TiffTransfer = void (*)(const TiffPiece &src, const TiffDest &dst);

// The transfers: three 8-bit samples of each pixel to red, green, blue.
void transfer_RGB_contig_8bit(const TiffPiece &src, const TiffDest &dst);
void transfer_RGB_separate_8bit(const TiffPiece &src, const TiffDest &dst);
// Rows of one sample: kept packed for a 1-bit image, copied at 8 bits,
// otherwise unpacked to one byte per pixel.
void transfer_nbit_cmap(const TiffPiece &src, const TiffDest &dst);
// Rows of 4-bit samples to one byte per pixel, high nibble first.
void transfer_4bit_cmap(const TiffPiece &src, const TiffDest &dst);
