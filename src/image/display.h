// display.h - turning decoded images into images for the canvas (or, with
// the record's output-conversion flag, for a file of a chosen depth).
#pragma once

#include "image/image.h"

// Chooses the record's display function for a display (or file) depth of
// 1, 4, 8 or 24 bits, preparing colormaps and lookups.  Returns 0 when the
// record has a display function afterwards, -1 when it has none.
int assign_display_func(ImageRec *image, int depth);
// Rebuilds the current image's view and display images and repaints.
void display_new_image();
// Rebuilds only the view image of a record (output conversion).
void image_geo_op(ImageRec *image);
// Returns the number of distinct colours + 1 of a 3-band image, 0 when it
// has limit or more, -1 when memory ran out.
int check_number_of_colours(HashTable *table, ImageRec *image, int limit);
// Compacts the colormap to the colours the pixels use.
void compress_colors(ImageRec *image);

// Creates the record's image for its width, height and depth (1 band below
// 24 bits, else 3; 1-bit at depth 1) and exports it.  Returns its pixel
// memory (owned by the image), with the strides in bytes; nullptr on
// failure.  The loader fills it and calls vela_import(image, 1).
unsigned char *create_data(ImageRec *image, int *pixel_stride, int *row_stride);
// Exports an existing image and returns its pixel memory and strides, or
// nullptr; end with reimport_image.
unsigned char *retrieve_data(VelaImage *image, int *pixel_stride, int *row_stride);
void reimport_image(VelaImage *image, int changed);
// Returns the depth in bits of an image of that band count and type.
int retrieve_depth(int bands, int datatype);

// The display functions: each returns a new image made from the view image.
VelaImage *image_1to1(VelaImage *src);
VelaImage *image_1to8(VelaImage *src);
VelaImage *image_1to24(VelaImage *src);
VelaImage *image_8to1(VelaImage *src);
VelaImage *image_8to4(VelaImage *src);
VelaImage *image_24to4(VelaImage *src);
VelaImage *image_8to8(VelaImage *src);
VelaImage *image_copy8to8(VelaImage *src);
VelaImage *image_24to8(VelaImage *src);
VelaImage *image_24to8_no_dither(VelaImage *src);
VelaImage *image_8to24(VelaImage *src);
VelaImage *image_24to24(VelaImage *src);

// Builds a view image of src under the matrix m (x' = m0 x + m2 y + m4, y' =
// m1 x + m3 y + m5, around the centres), filling uncovered corners of turns
// that are not multiples of 90 degrees.  Returns it, or nullptr.
VelaImage *transform_image(VelaImage *src, const float *m, int *width, int *height);
