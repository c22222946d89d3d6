/*
 * window.h - what the rest of the library needs to know of window images:
 * writes into one must be painted, and destroying one releases its X
 * resources.
 */
#ifndef VELA_WINDOW_H
#define VELA_WINDOW_H

#include <cstddef>
#include <cstdint>

#include "image.h"

namespace vela {

bool is_window_image(const VelaImage *img);
// Paints the given areas of a window image (does nothing for other images).
void window_paint(VelaImage *img, const Rect *rects, size_t n);
// Paints the areas of a window image straight from src, whose pixel
// (x + ox, y + oy) belongs at (x, y); the areas are inside both images.
// false when img is not a window image.
bool window_paint_from(VelaImage *img, const VelaImage *src, int64_t ox, int64_t oy,
                       const Rect *rects, size_t n);
// Frees the X side of a window image before the image itself goes.
void window_release(VelaImage *img);

} // namespace vela

#endif
