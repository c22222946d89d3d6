// photocd.h - the Kodak Photo CD loader: the imaging library's Photo CD
// device decodes the image pack at the resolution of the table entry, and
// the picture is turned upright and converted from PhotoYCC.
#pragma once

struct ImageRec;

// Loads the record's image pack at the resolution its format entry names
// (Base/16, Base/4, Base, 4Base); 0 on success, -1 on failure.
int photocd_load(ImageRec *image);
