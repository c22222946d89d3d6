// dither.h - private X colormaps for images on 4- and 8-bit displays, the
// canvas's reference colours, and colormaps taken from library lookups.
#pragma once

#include <X11/Xlib.h>

#include "image/image.h"

extern XColor background_color; // (0, 0, 0)
extern XColor black_color;      // (0, 0, 0)
extern XColor white_color;      // (65535, 65535, 65535)

// Returns the pixel of the entry nearest to colour (entry 0's without one).
unsigned long closest_match(const XColor *colour, const XColor *entries, int n);
// Puts colour with the given pixel in front of the n entries; returns pixel.
unsigned long add_color(XColor *entries, int n, const XColor *colour, unsigned long pixel);
// The background and white values of a 24-bit canvas.
void set_canvas_values();
// Finds or adds the background, black and white among the entries and
// stores their pixels in the display records.
void set_canvas_colors(ImageRec *image, XColor *entries, int depth, int *offset, int *count);
// Copies the first n cells of the screen's default colormap into colormap.
void copy_default_cmap(Display *display, Colormap colormap, int n);
// Gives the image a private colormap with its colours at offset..255 and
// the default colours at 0..39; returns the number of colours.
int set_cmap8(Display *display, Window window, ImageRec *image, int depth);
void set_cmap24to8(Display *display, Window window, VelaLookup *lookup, ImageRec *image,
                   int depth);
void set_cmap8to216(Display *display, Window window, VelaLookup *lookup, ImageRec *image,
                    int depth);
void set_cmap4(Display *display, Window window, VelaLookup *lookup, ImageRec *image);
// Replaces the record's colormap by the lookup's entries.
void set_cmap_from_lut(ImageRec *image, VelaLookup *lookup);
// Swaps bytes 0 and 2 of every pixel of the record's rows and toggles its
// RGB-order flag.
void swap_red_blue(ImageRec *image, unsigned char *data, int pixel_stride, int row_stride);
