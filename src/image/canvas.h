// canvas.h - the document canvas: painting, exposure, scrolling, fitting
// the frame to the picture, and the main window's small state setters.
#pragma once

#include <X11/Intrinsic.h>

#include "image/image.h"

struct ViewState;

// Pan limits of the scroll position (canvas pixels).
extern int min_x, max_x, min_y, max_y;

// Makes the PostScript or the raster display current for the current image.
void set_current_display();
// The canvas's expose callback, and the repaint after every change (call
// with a null call for the whole canvas).
void CanvasRepaintCallback(Widget w, XtPointer client, XtPointer call);
void CanvasResizeCallback(Widget w, XtPointer client, XtPointer call);
// Copies the display image into the window at the scroll position.
void update_image();
// Adds the strips a pan uncovered to roi.
void set_roi_on_display(VelaRoi *roi);
// Fit states, pan limits and scroll-bar ranges for a picture of that size.
void check_canvas(int width, int height, DisplayRec *display);
void ShowScrollbars();
void ScrollBarCallback(Widget w, XtPointer client, XtPointer call);
void adjust_scrollbars();
// Sizes the main window to show the whole picture where the screen allows.
void fit_frame_to_image(ImageRec *image);
// Matches the canvas to the view image and makes a new window image.
void resize_canvas();
// Destroys and remakes the window image for the canvas window.
void create_window_image();

void SetFooter(Widget label, const char *text);
void setbusy();
void setactive();
// Sets the window title "<title> - <base name of path>" and the icon name,
// unless the user gave them as resources.
void set_labels(const char *path);
// The menu and control sensitivity after a change of document.
void set_tool_options(ImageRec *old_image, ImageRec *new_image);
void set_undo_option(int on);
void set_save_selection(int on);
void set_zoom_and_rotate();
void update_page_number(int page, int total, int previous);
// Returns a pixmap of the root window cleared to 0.
Pixmap create_pixmap(DisplayRec *display, int width, int height, int depth, int remember);
// Returns the 0-based position of the selected list item, or -1.
int GetListSelection(Widget list);

// Brings a new view state in line with the window: both scroll bars at 0,
// pan and select modes as the palette's buttons show.
void view_state_created(ViewState *state);
