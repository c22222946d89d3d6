// state.h - the view state of the current document: zoom, rotation, flips,
// pan and selection, scroll position and the view matrices.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

#include "platform/vela/vela.h"

struct ImageRec;

// Last operation, for undo.
enum { OP_HFLIP = 0, OP_VFLIP = 1, OP_ROTATE_LEFT = 2, OP_ROTATE_RIGHT = 3, OP_ZOOM = 4,
       OP_NONE = 5 };

// A 2 x 3 affine matrix: x' = m0 x + m2 y + m4, y' = m1 x + m3 y + m5, in
// image pixels with y downwards.
using Matrix = float[6];

struct ViewState {
    float zoom;                 // cumulative factor, 1.0 = 100 %
    float zoom_step;            // factor of the last zoom request
    int rotation_step;          // degrees of the last rotation; negative = right
    int rotation;               // total degrees, 0..359
    int ps_orientation;         // 1
    int hflip, vflip;           // flip toggles
    int last_op;                // OP_*
    float prev_zoom;
    int pan_mode, select_mode;
    int selection_shown;
    int pan_uncovered;          // clear only the strips a pan uncovered
    int16_t sel_x, sel_y;       // selection rectangle, canvas pixels
    uint16_t sel_width, sel_height;
    int start_x, start_y, end_x, end_y; // drag corners
    int sel_copy_x, sel_copy_y;
    int prev_scroll_x, prev_scroll_y;
    int scroll_x, scroll_y;     // canvas position of the image's top left (<= 0)
    int current_page;           // PostScript paging
    int reverse_order, dsc, ps_timeout;
    int hfit, vfit;             // 0 smaller than the canvas, 1 equal, 2 larger
    int scrolling;              // set by the scroll bars: no background clear
    Matrix matrix;              // view matrix
    Matrix prev_matrix;         // before the last step, for undo
};

extern ViewState *current_state;

void identity_xform(float *m);
void zoom_xform(double sx, double sy, float *m);
void rotate_xform(double degrees, float *m);
void hflip_xform(float *m);
void vflip_xform(float *m);
// dst = a after b; dst may be b.
void matrix_mul(const float *a, const float *b, float *dst);
void matrix_copy(const float *src, float *dst);
void swap_matrix(float *a, float *b);

// Returns a new view state for a document of the given format code; the
// caller owns it.
ViewState *init_state(int format_code);
// Returns the current state to its first values.
void revert_state();
// Width and height of a width x height rectangle turned by the current
// rotation.
void get_dimensions(int width, int height, int *w, int *h);

// The raster transform functions of an image record.
void image_zoom_func(VelaImage *);
void image_rotate_func(VelaImage *);
void image_hflip_func(VelaImage *);
void image_vflip_func(VelaImage *);
void image_turnover_func(VelaImage *);
void image_revert_func(VelaImage *);
// Installs the transform functions of the record's format.
void set_transform_funcs(ImageRec *image);

// The palette's and the Edit menu's callbacks.
void ZoomCallback(Widget w, XtPointer client, XtPointer call);
void RotateCallback(Widget w, XtPointer client, XtPointer call);
void HflipCallback(Widget w, XtPointer client, XtPointer call);
void VflipCallback(Widget w, XtPointer client, XtPointer call);
void RevertCallback(Widget w, XtPointer client, XtPointer call);
void PanCallback(Widget w, XtPointer client, XtPointer call);
void SelectCallback(Widget w, XtPointer client, XtPointer call);
void ZoomValueCallback(Widget w, XtPointer client, XtPointer call);
void RotateValueCallback(Widget w, XtPointer client, XtPointer call);
void ZoomScaleCallback(Widget w, XtPointer client, XtPointer call);
void RotateScaleCallback(Widget w, XtPointer client, XtPointer call);
// Ends select mode (erasing a shown box) and pan mode.
void reset_select();
void reset_pan();
