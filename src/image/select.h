// select.h - the selection rectangle on the canvas and cropping to it.
#pragma once

#include <X11/Xlib.h>

#include "image/image.h"

// rect = (min x, min y, |x0 - x1|, |y0 - y1|).
void make_rectangle(int x0, int y0, int x1, int y1, XRectangle *rect);
// Erases the old rect (when erase) and draws the new one with the XOR GC;
// rect becomes the new rectangle.
void drawbox(int x0, int y0, int x1, int y1, XRectangle *rect, int erase);
// Draws the shown selection again (after the canvas was repainted).
void redraw_selection_box();
// The canvas window's cursor becomes the default.
void reset_cursor();
// Returns a child image of the view image covering the selection, or
// nullptr after an alert.
VelaImage *crop_region(ImageRec *image, VelaImage *view);
