// state.cc - view states and the raster view transforms.
#include "image/state.h"

#include <X11/cursorfont.h>
#include <Xm/SSpinB.h>
#include <Xm/Scale.h>
#include <Xm/TextF.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/corvat.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/palette.h"
#include "image/canvas.h"
#include "image/display.h"
#include "image/image.h"
#include "image/select.h"
#include "image/vela_iface.h"

ViewState *current_state = nullptr;

void identity_xform(float *m)
{
    m[0] = 1; m[1] = 0; m[2] = 0; m[3] = 1; m[4] = 0; m[5] = 0;
}

void zoom_xform(double sx, double sy, float *m)
{
    m[0] = static_cast<float>(sx); m[1] = 0; m[2] = 0; m[3] = static_cast<float>(sy);
    m[4] = 0; m[5] = 0;
}

void rotate_xform(double degrees, float *m)
{
    // Exact values at multiples of 90 degrees keep such turns pixel exact.
    double k, n;
    long quarter = std::lround(degrees / 90.0);
    if (std::fabs(degrees - 90.0 * quarter) < 1e-9) {
        static const int cosines[4] = {1, 0, -1, 0}, sines[4] = {0, 1, 0, -1};
        int q = static_cast<int>(((quarter % 4) + 4) % 4);
        k = cosines[q];
        n = sines[q];
    } else {
        double r = degrees * M_PI / 180.0;
        k = std::cos(r);
        n = std::sin(r);
    }
    m[0] = static_cast<float>(k); m[1] = static_cast<float>(-n);
    m[2] = static_cast<float>(n); m[3] = static_cast<float>(k);
    m[4] = 0; m[5] = 0;
}

void hflip_xform(float *m)
{
    m[0] = 1; m[1] = 0; m[2] = 0; m[3] = -1; m[4] = 0; m[5] = 0;
}

void vflip_xform(float *m)
{
    m[0] = -1; m[1] = 0; m[2] = 0; m[3] = 1; m[4] = 0; m[5] = 0;
}

void matrix_mul(const float *a, const float *b, float *dst)
{
    float r[6];
    r[0] = a[0] * b[0] + a[2] * b[1];
    r[1] = a[1] * b[0] + a[3] * b[1];
    r[2] = a[0] * b[2] + a[2] * b[3];
    r[3] = a[1] * b[2] + a[3] * b[3];
    r[4] = a[0] * b[4] + a[2] * b[5] + a[4];
    r[5] = a[1] * b[4] + a[3] * b[5] + a[5];
    for (int i = 0; i < 6; i++)
        dst[i] = r[i];
}

void matrix_copy(const float *src, float *dst)
{
    for (int i = 0; i < 6; i++)
        dst[i] = src[i];
}

void swap_matrix(float *a, float *b)
{
    for (int i = 0; i < 6; i++)
        std::swap(a[i], b[i]);
}

ViewState *init_state(int format_code)
{
    ViewState *s = static_cast<ViewState *>(std::calloc(1, sizeof(ViewState)));
    if (s == nullptr)
        OutOfMemory();
    bool ps = format_code == FMT_PS || format_code == FMT_EPSF;
    s->zoom = ps ? static_cast<float>(prog->def_ps_zoom) / 100.0f : 1.0f;
    s->ps_orientation = 1;
    s->last_op = OP_NONE;
    identity_xform(s->matrix);
    identity_xform(s->prev_matrix);
    view_state_created(s);
    return s;
}

void revert_state()
{
    ViewState *s = current_state;
    if (s == nullptr)
        return;
    bool ps = current_image != nullptr && is_postscript(current_image->type);
    s->zoom = ps ? static_cast<float>(prog->def_ps_zoom) / 100.0f : 1.0f;
    if (ps && current_image->orientation == 1 && current_image->type->type == FMT_PS) {
        s->rotation_step = -90;
        s->rotation = 90;
    } else {
        s->rotation_step = 0;
        s->rotation = 0;
    }
    s->ps_orientation = 1;
    s->hflip = s->vflip = 0;
    s->last_op = OP_NONE;
    s->prev_zoom = 0;
    s->selection_shown = 0;
    s->start_x = s->start_y = s->end_x = s->end_y = 0;
    s->prev_scroll_x = s->prev_scroll_y = 0;
    s->scroll_x = s->scroll_y = 0;
    identity_xform(s->matrix);
    identity_xform(s->prev_matrix);
}

void get_dimensions(int width, int height, int *w, int *h)
{
    int r = current_state != nullptr ? current_state->rotation : 0;
    double rad = r * M_PI / 180.0, c = std::cos(rad), s = std::sin(rad);
    double cx[4], cy[4];
    const double px[4] = {0, static_cast<double>(width), static_cast<double>(width), 0};
    const double py[4] = {0, 0, static_cast<double>(height), static_cast<double>(height)};
    for (int i = 0; i < 4; i++) {
        cx[i] = c * px[i] + s * py[i];
        cy[i] = -s * px[i] + c * py[i];
    }
    long dw, dh;
    if ((r >= 1 && r <= 90) || (r >= 181 && r <= 270)) {
        dw = static_cast<long>(cx[0] - cx[2]);
        dh = static_cast<long>(cy[1] - cy[3]);
    } else {
        dw = static_cast<long>(cx[1] - cx[3]);
        dh = static_cast<long>(cy[0] - cy[2]);
    }
    *w = static_cast<uint16_t>(std::labs(dw));
    *h = static_cast<uint16_t>(std::labs(dh));
}

// Sets view = m after view, keeping the old view for undo.
static void apply_step(const float *m)
{
    matrix_copy(current_state->matrix, current_state->prev_matrix);
    matrix_mul(m, current_state->matrix, current_state->matrix);
}

void image_zoom_func(VelaImage *)
{
    ViewState *s = current_state;
    // A zoom step of 0 is the state's first showing: nothing to apply.  A
    // step that brings the total back to 1.0 (50 % then 200 %) still
    // applies, so the picture returns to its size.
    if (s == nullptr || s->zoom_step == 0.0f)
        return;
    float m[6];
    zoom_xform(s->zoom_step, s->zoom_step, m);
    apply_step(m);
}

void image_rotate_func(VelaImage *)
{
    if (current_state == nullptr)
        return;
    float m[6];
    rotate_xform(current_state->rotation_step, m);
    apply_step(m);
}

void image_hflip_func(VelaImage *)
{
    if (current_state == nullptr)
        return;
    float m[6];
    hflip_xform(m);
    apply_step(m);
}

void image_vflip_func(VelaImage *)
{
    if (current_state == nullptr)
        return;
    float m[6];
    vflip_xform(m);
    apply_step(m);
}

void image_turnover_func(VelaImage *)
{
}

void image_revert_func(VelaImage *)
{
    ImageRec *image = current_image;
    if (image == nullptr || image->orig_image == nullptr)
        return;
    if (image->view_image != nullptr)
        vela_destroy(image->view_image);
    int w = vela_get_width(image->orig_image), h = vela_get_height(image->orig_image);
    // The first view is the picture itself: a child shares its memory.
    image->view_image = vela_create_child(image->orig_image, 0, 0, w, h, 0,
                                          vela_get_nbands(image->orig_image));
    if (image->display_image != nullptr)
        vela_destroy(image->display_image);
    image->display_image = nullptr;
    if (image->view_image != nullptr && image->display_func != nullptr)
        image->display_image = image->display_func(image->view_image);
    image->width = w;
    image->height = h;
    image->bands = vela_get_nbands(image->orig_image);
    image->datatype = vela_get_datatype(image->orig_image);
}

void set_transform_funcs(ImageRec *image)
{
    if (is_postscript(image->type))
        return; // the PostScript transforms come with the PostScript canvas
    image->rotate_func = image_rotate_func;
    image->zoom_func = image_zoom_func;
    image->hflip_func = image_hflip_func;
    image->vflip_func = image_vflip_func;
    image->turnover_func = image_turnover_func;
    image->revert_func = image_revert_func;
}

// --- the palette's callbacks ---------------------------------------------------

namespace {

bool document_shown()
{
    return current_image != nullptr && current_state != nullptr;
}

// Reads a spin box's typed value, clamped to its limits; corrects the spin
// box and its text when they differ.
int spin_value(Widget spin, int dflt)
{
    int minimum = 0, maximum = 0, position = dflt;
    Widget text = nullptr;
    XtVaGetValues(spin, XmNminimumValue, &minimum, XmNmaximumValue, &maximum, XmNposition,
                  &position, XmNtextField, &text, nullptr);
    int value = position;
    if (text != nullptr) {
        char *typed = XmTextFieldGetString(text);
        if (typed != nullptr) {
            if (typed[0] != '\0')
                value = std::atoi(typed);
            XtFree(typed);
        }
    }
    value = std::clamp(value, minimum, maximum);
    if (value != position)
        XtVaSetValues(spin, XmNposition, value, nullptr);
    if (text != nullptr) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%-d", value);
        char *shown = XmTextFieldGetString(text);
        if (shown == nullptr || std::strcmp(shown, buf) != 0)
            XmTextFieldSetString(text, buf);
        XtFree(shown);
    }
    return value;
}

void clear_left_footer()
{
    if (base != nullptr)
        SetFooter(base->left_footer, "");
}

void set_canvas_cursor(Cursor c)
{
    DisplayRec *d = current_display;
    if (d != nullptr && d->canvas != nullptr && XtIsRealized(d->canvas))
        XDefineCursor(XtDisplay(d->canvas), XtWindow(d->canvas), c);
}

} // namespace

void reset_pan()
{
    if (palette != nullptr)
        show_pressed(palette->pan_button, false);
    if (current_state != nullptr)
        current_state->pan_mode = 0;
    reset_cursor();
    clear_left_footer();
}

void reset_select()
{
    if (palette != nullptr)
        show_pressed(palette->select_button, false);
    ViewState *s = current_state;
    if (s != nullptr) {
        if (s->selection_shown) {
            redraw_selection_box();
            s->selection_shown = 0;
            set_save_selection(0);
        }
        s->select_mode = 0;
    }
    reset_cursor();
    clear_left_footer();
}

void ZoomCallback(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmAnyCallbackStruct *>(call);
    if (palette == nullptr)
        return;
    if (cb != nullptr && cb->reason == XmCR_ARM) {
        show_pressed(palette->zoom_button, true);
        return;
    }
    clear_left_footer();
    int value = spin_value(palette->zoom_spin, 100);
    XmScaleSetValue(palette->zoom_scale, value);
    if (document_shown()) {
        reset_select();
        reset_pan();
        setbusy();
        set_undo_option(1);
        ViewState *s = current_state;
        s->last_op = OP_ZOOM;
        s->prev_zoom = s->zoom;
        s->zoom_step = static_cast<float>(value) * 0.01f;
        s->zoom *= s->zoom_step;
        current_image->zoom_func(current_image->orig_image);
        display_new_image();
        setactive();
    }
    show_pressed(palette->zoom_button, false);
}

void RotateCallback(Widget w, XtPointer, XtPointer)
{
    if (palette == nullptr)
        return;
    int value = spin_value(palette->rotate_spin, 90);
    XmScaleSetValue(palette->rotate_scale, value);
    if (!document_shown())
        return;
    reset_select();
    reset_pan();
    setbusy();
    set_undo_option(1);
    ViewState *s = current_state;
    if (w == palette->rotate_l_button) {
        s->last_op = OP_ROTATE_LEFT;
        s->rotation -= value;
        if (s->rotation < 0)
            s->rotation += 360;
        s->rotation_step = value;
    } else {
        s->last_op = OP_ROTATE_RIGHT;
        s->rotation += value;
        if (s->rotation >= 360)
            s->rotation -= 360;
        s->rotation_step = -value;
    }
    current_image->rotate_func(current_image->orig_image);
    display_new_image();
    setactive();
}

void HflipCallback(Widget, XtPointer, XtPointer)
{
    if (!document_shown())
        return;
    clear_left_footer();
    ViewState *s = current_state;
    s->hflip = !s->hflip;
    s->last_op = OP_HFLIP;
    setbusy();
    set_undo_option(1);
    current_image->hflip_func(current_image->orig_image);
    display_new_image();
    setactive();
}

void VflipCallback(Widget, XtPointer, XtPointer)
{
    if (!document_shown())
        return;
    reset_select();
    reset_pan();
    ViewState *s = current_state;
    s->vflip = !s->vflip;
    s->last_op = OP_VFLIP;
    setbusy();
    set_undo_option(1);
    current_image->vflip_func(current_image->orig_image);
    display_new_image();
    setactive();
}

void UndoCallback(Widget, XtPointer, XtPointer)
{
    if (!document_shown())
        return;
    setbusy();
    // One step: the matrices swap, so a second undo redoes.
    swap_matrix(current_state->matrix, current_state->prev_matrix);
    display_new_image();
    setactive();
}

void RevertCallback(Widget, XtPointer, XtPointer)
{
    clear_left_footer();
    if (!document_shown())
        return;
    setbusy();
    revert_state();
    set_undo_option(0);
    set_zoom_and_rotate();
    current_image->revert_func(current_image->orig_image);
    display_new_image();
    setactive();
}

void PanCallback(Widget, XtPointer, XtPointer)
{
    if (palette == nullptr)
        return;
    clear_left_footer();
    reset_select();
    if (button_pressed(palette->pan_button)) {
        reset_pan();
        return;
    }
    show_pressed(palette->pan_button, true);
    if (base != nullptr)
        SetFooter(base->left_footer, catmsg(1, 345, "Drag SELECT in View window to pan image."));
    set_canvas_cursor(pan_cursor());
    if (current_state != nullptr)
        current_state->pan_mode = 1;
}

void SelectCallback(Widget, XtPointer, XtPointer)
{
    if (palette == nullptr)
        return;
    reset_pan();
    if (button_pressed(palette->select_button)) {
        reset_select();
        return;
    }
    show_pressed(palette->select_button, true);
    if (base != nullptr)
        SetFooter(base->left_footer, catmsg(1, 337, "Drag SELECT to select a region within the image."));
    static Cursor cross = 0;
    if (cross == 0 && app_shell != nullptr)
        cross = XCreateFontCursor(XtDisplay(app_shell), XC_crosshair);
    set_canvas_cursor(cross);
    if (current_state != nullptr)
        current_state->select_mode = 1;
}

namespace {

// Shared by both spin boxes: refuses typing that does not start with a
// digit, keeps the scale in step, and runs the transform on Return.
void spin_changed(Widget w, XtPointer call, Widget spin, Widget scale_w, XtCallbackProc apply,
                  Widget apply_button)
{
    auto *any = static_cast<XmAnyCallbackStruct *>(call);
    if (any == nullptr)
        return;
    if (any->reason == XmCR_MODIFYING_TEXT_VALUE) {
        auto *v = static_cast<XmTextVerifyCallbackStruct *>(call);
        if (v->text != nullptr && v->text->length > 0 && v->startPos == 0 &&
            !std::isdigit(static_cast<unsigned char>(v->text->ptr[0])))
            v->doit = False;
        return;
    }
    if (any->reason == XmCR_ACTIVATE) {
        apply(apply_button, nullptr, nullptr);
        return;
    }
    int position = 0;
    XtVaGetValues(spin, XmNposition, &position, nullptr);
    XmScaleSetValue(scale_w, position);
    (void)w;
}

} // namespace

void ZoomValueCallback(Widget w, XtPointer, XtPointer call)
{
    if (palette != nullptr)
        spin_changed(w, call, palette->zoom_spin, palette->zoom_scale, ZoomCallback,
                     palette->zoom_button);
}

void RotateValueCallback(Widget w, XtPointer, XtPointer call)
{
    if (palette != nullptr)
        spin_changed(w, call, palette->rotate_spin, palette->rotate_scale, RotateCallback,
                     palette->rotate_r_button);
}

void ZoomScaleCallback(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmScaleCallbackStruct *>(call);
    if (palette != nullptr && cb != nullptr)
        XtVaSetValues(palette->zoom_spin, XmNposition, cb->value, nullptr);
}

void RotateScaleCallback(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmScaleCallbackStruct *>(call);
    if (palette != nullptr && cb != nullptr)
        XtVaSetValues(palette->rotate_spin, XmNposition, cb->value, nullptr);
}
