// jfif.h - the JPEG (JFIF) codec: loading and saving through the imaging
// library's "Jpeg" compressed image sequence.  Loads decode straight into
// the display's colours; saves convert them to full-range Y, Cb, Cr.
#pragma once

#include <cstddef>
#include <cstdio>

struct ImageRec;

// The JFIF APP0 segment every saved file carries after its SOI marker:
// version 1.1, no units, 1:1 aspect, no thumbnail.
constexpr unsigned char JFIF_APP0[18] = {0xff, 0xe0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                         0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};

// Video range back to full range, after the "ycc601" conversion of a save.
// Chroma keeps its centre: 128 stays 128 (an offset of -16 * 255 / 224
// would put it at 127.5, which rounds to 127 and tints every grey).
constexpr float JFIF_SAVE_SCALE[3] = {1.1643835f, 1.1383928f, 1.1383928f};
constexpr float JFIF_SAVE_OFFSET[3] = {-18.630136f, -17.714285f, -17.714285f};

// Loads the record's JPEG file; 0 on success, -1 on failure.
int jfif_load(ImageRec *image);
// Writes the record's image as a JFIF file through a temporary file; 0 on
// success, -1 on failure (an existing file is kept).
int jfif_save(ImageRec *image);

// Writes the SOI marker that begins the length bytes of data, if they begin
// with one.  Returns the bytes of data written (2 or 0), -1 on a failed write.
int write_soi_marker(FILE *file, const unsigned char *data, size_t length);
// Writes JFIF_APP0; returns 0, or -1 on a failed write.
int write_jfif_header(FILE *file);
// The library's release callback for the buffer of a load: frees it.
void jfif_done_with_data(void *data);
