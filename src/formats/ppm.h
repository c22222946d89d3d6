// ppm.h - the portable-map decoder: PBM, PGM and PPM in their plain (ASCII)
// and raw forms, and through them every format that a converter program
// turns into a portable map.
#pragma once

#include <vector>

struct ImageRec;

// Magic numbers: the file's first two bytes as a big-endian number.
enum {
    PBM_MAGIC = 20529,          // "P1" plain bitmap
    PGM_MAGIC = 20530,          // "P2" plain grey
    PPM_MAGIC = 20531,          // "P3" plain colour
    RPBM_MAGIC = 20532,         // "P4" raw bitmap
    RPGM_MAGIC = 20533,         // "P5" raw grey
    RPPM_MAGIC = 20534          // "P6" raw colour
};

// Largest maximum sample value of a portable map; above 255 raw samples
// take two bytes, most significant first.
constexpr int PNM_MAXMAXVAL = 65535;

// Loads the record's file: directly for the portable-map rows of the format
// table, else through the row's converter program.  Returns 0 on success,
// -1 when the input is not (or not wholly) a portable map.
int ppm_load(ImageRec *image);
// Decodes the portable map on the current input (app/reader.h) into the
// record's image.  Returns 1 on success, 0 on failure.
int readppm(ImageRec *image);

// Returns the table that brings samples of 0..maxval to 0..255, rounding
// to nearest and taking values above maxval as maxval.  It has
// max(256, maxval + 1) entries.
std::vector<unsigned char> ppm_scale_table(int maxval);
