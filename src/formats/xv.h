// xv.h - the X pixmap (XPM) and X bitmap (XBM) codecs.
//
// With a display, pictures are realised the way the X server shows them:
// XPM through libXpm on the canvas's visual, XBM through a server bitmap.
// Without one (batch conversion), XPM is read by libXpm's display-free
// parser and XBM by our own, giving the pixels a 24-bit TrueColor screen
// would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ImageRec;

// Loads the record's XPM file; 0 on success, -1 on failure.
int xpm_load(ImageRec *image);
// Writes the record's image as XPM to its file name; 0 or -1.  A picture of
// more than 256 colours is first reduced to the 216-colour cube, and the
// record then holds the reduced 8-bit image.
int xpm_save(ImageRec *image);
// Loads the record's XBM file as a 1-bit image; 0 on success, -1 on failure.
int xbm_load(ImageRec *image);

// The display-free loaders that xpm_load and xbm_load use without a
// display; 0 or -1.
int xpm_load_no_display(ImageRec *image);
int xbm_load_no_display(ImageRec *image);

// The values line of an XPM file.
struct XpmValues {
    uint32_t width = 0, height = 0;     // pixels
    uint32_t ncolors = 0;
    uint32_t cpp = 0;                   // characters per pixel
};
// Finds the values of an XPM text (read up to its first NUL) where libXpm's
// parser finds them, before libXpm allocates anything on their word.
// Returns false when there are none, or when the text is one libXpm might
// read otherwise (a word too long, bytes outside ASCII before the values).
bool xpm_scan_values(const char *text, size_t length, XpmValues *values);
// True when every colour and pixel string the values call for begins and
// ends inside the text (read up to its first NUL), as libXpm's parser,
// which reads past the end of a shorter buffer, needs.
bool xpm_strings_complete(const char *text, size_t length);

// An XBM picture: rows of (width + 7) / 8 bytes, leftmost pixel in the
// least significant bit, as the file stores them; 1 is black.
struct XbmBitmap {
    int width = 0, height = 0;          // pixels
    std::vector<unsigned char> bits;
};
// Parses an XBM text (X11 or X10).  Strict: hexadecimal values with commas
// between them, exactly as many as the width and height defines ask for, and
// only what Xlib's reader reads the same way.  Returns false otherwise, and
// before allocating for sizes the text or the memory cannot hold.
bool xbm_parse(const char *text, size_t length, XbmBitmap *bitmap);

// Returns true and the colour (0xRRGGBB) a 24-bit TrueColor X server gives
// a colour ("#RGB" to "#RRRRGGGGBBBB", "rgb:r/g/b", or a name
// of its colour database); false when it does not know it.
bool x_colour_rgb(const char *colour, uint32_t *rgb);
