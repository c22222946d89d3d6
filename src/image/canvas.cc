// canvas.cc - painting the document, scrolling, fitting the frame, and the
// main window's state setters.
#include "image/canvas.h"

#include <X11/cursorfont.h>
#include <Xm/DrawingA.h>
#include <Xm/List.h>
#include <Xm/Scale.h>
#include <Xm/ScrollBar.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/corvat.h"
#include "app/events.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/palette.h"
#include "formats/save.h"
#include "image/display.h"
#include "image/select.h"
#include "image/state.h"
#include "image/vela_iface.h"

int min_x = 0, max_x = 0, min_y = 0, max_y = 0;

static int scrolled_border();

namespace {

bool have_window_image()
{
    return image_display != nullptr && image_display->window_image != nullptr;
}

Dimension dim(Widget w, const char *resource)
{
    Dimension d = 0;
    if (w != nullptr)
        XtVaGetValues(w, resource, &d, nullptr);
    return d;
}

void set_bar(Widget bar, int value, int maximum, int slider)
{
    if (bar == nullptr)
        return;
    maximum = std::max(maximum, 1);
    slider = std::clamp(slider, 1, maximum);
    value = std::clamp(value, 0, maximum - slider);
    XtVaSetValues(bar, XmNminimum, 0, XmNmaximum, maximum, XmNsliderSize, slider, XmNvalue, value,
                  XmNpageIncrement, std::max(1, slider - 10), nullptr);
}

void sensitive(Widget w, bool on)
{
    if (w != nullptr)
        XtSetSensitive(w, on ? True : False);
}

// The canvas in use and its size.
Widget current_canvas()
{
    return current_display != nullptr ? current_display->canvas : nullptr;
}

} // namespace

void set_current_display()
{
    current_display = current_image != nullptr && is_postscript(current_image->type) ? ps_display
                                                                                     : image_display;
}

void create_window_image()
{
    DisplayRec *d = image_display;
    if (d == nullptr || d->state == nullptr || d->canvas == nullptr || !XtIsRealized(d->canvas))
        return;
    if (d->window_image != nullptr)
        vela_destroy(d->window_image);
    d->win = XtWindow(d->canvas);
    d->window_image = vela_create_from_window(d->state, d->xdisplay, d->win);
}

void update_image()
{
    ImageRec *image = current_image;
    if (image == nullptr || current_display != image_display || !have_window_image())
        return;
    ViewState *s = current_state;
    VelaImage *win = image_display->window_image;
    VelaImage *disp = image->display_image;
    if (disp == nullptr)
        return;
    bool smaller = vela_get_width(disp) < vela_get_width(win) ||
                   vela_get_height(disp) < vela_get_height(win);
    if (smaller && s != nullptr && !s->scrolling) {
        if (s->pan_uncovered) {
            VelaRoi *roi = vela_roi_create(image_display->state);
            set_roi_on_display(roi);
            vela_set_roi(win, roi);
            vela_set_value(win, image_display->background);
            vela_set_roi(win, nullptr);
            vela_roi_destroy(roi);
            s->pan_uncovered = 0;
        } else {
            vela_set_value(win, image_display->background);
        }
    }
    if (s != nullptr)
        s->scrolling = 0;
    int sx = s != nullptr ? s->scroll_x : 0, sy = s != nullptr ? s->scroll_y : 0;
    vela_set_origin(disp, static_cast<float>(-sx), static_cast<float>(-sy));
    vela_copy(disp, win);
    vela_set_origin(disp, 0, 0);
}

void set_roi_on_display(VelaRoi *roi)
{
    ViewState *s = current_state;
    if (s == nullptr || current_image == nullptr)
        return;
    int a = std::abs(s->scroll_x - s->prev_scroll_x);
    int b = std::abs(s->scroll_y - s->prev_scroll_y);
    if (a == 0 && b == 0)
        return;
    int W = current_image->width, H = current_image->height;
    if (a > 0) {
        int x = s->scroll_x < s->prev_scroll_x ? s->scroll_x + W : s->prev_scroll_x;
        vela_roi_add_rect(roi, x, s->prev_scroll_y, a, H);
    }
    if (b > 0) {
        int y = s->scroll_y > s->prev_scroll_y ? s->prev_scroll_y : s->scroll_y + H;
        int x = s->scroll_x < s->prev_scroll_x ? s->prev_scroll_x : s->scroll_x;
        vela_roi_add_rect(roi, x, y, std::abs(W - a), b);
    }
}

void CanvasRepaintCallback(Widget w, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmDrawingAreaCallbackStruct *>(call);
    if (cb != nullptr && cb->reason != XmCR_EXPOSE)
        return;
    if (current_display == nullptr || current_display != image_display)
        return;
    DisplayRec *d = image_display;
    Widget canvas = d->canvas;
    if (canvas == nullptr || !XtIsRealized(canvas))
        return;
    if (!have_window_image())
        create_window_image();
    if (!have_window_image())
        return;

    // The palette opens with the first picture once the window is placed.
    static int exposures = 0;
    Position wx = 0, wy = 0;
    if (app_shell != nullptr)
        XtVaGetValues(app_shell, XmNx, &wx, XmNy, &wy, nullptr);
    if (++exposures >= 2 || wx != 0 || wy != 0)
        palette_at_start();

    // Every exposure queued for the window is painted in this one pass.
    VelaRoi *roi = vela_roi_create(d->state);
    if (cb != nullptr && cb->event != nullptr && cb->event->type == Expose) {
        XExposeEvent *e = &cb->event->xexpose;
        vela_roi_add_rect(roi, e->x, e->y, e->width, e->height);
        XEvent next;
        while (XCheckTypedWindowEvent(XtDisplay(canvas), XtWindow(canvas), Expose, &next))
            vela_roi_add_rect(roi, next.xexpose.x, next.xexpose.y, next.xexpose.width,
                              next.xexpose.height);
    } else {
        vela_roi_add_rect(roi, 0, 0, vela_get_width(d->window_image),
                          vela_get_height(d->window_image));
    }
    (void)w;
    ViewState *s = current_state;
    if (s != nullptr && s->selection_shown)
        vela_roi_add_rect(roi, s->sel_x - 1, s->sel_y - 1, s->sel_width + 2, s->sel_height + 2);
    vela_set_roi(d->window_image, roi);
    if (current_image == nullptr)
        vela_set_value(d->window_image, d->background);
    else
        update_image();
    if (current_image != nullptr && s != nullptr && s->selection_shown)
        redraw_selection_box();
    vela_set_roi(d->window_image, nullptr);
    vela_roi_destroy(roi);
    XFlush(XtDisplay(canvas));
}

void check_canvas(int width, int height, DisplayRec *display)
{
    Widget canvas = display != nullptr ? display->canvas : nullptr;
    if (canvas == nullptr)
        return;
    int cw = dim(canvas, XmNwidth), ch = dim(canvas, XmNheight);
    ViewState *s = current_state;
    int sx = s != nullptr ? s->scroll_x : 0, sy = s != nullptr ? s->scroll_y : 0;
    auto fit = [](int size, int scroll, int canvas_size) {
        return size + scroll < canvas_size ? 0 : size + scroll > canvas_size ? 2 : 1;
    };
    int hfit = fit(width, sx, cw), vfit = fit(height, sy, ch);
    auto limits = [](int state, int size, int scroll, int canvas_size, int *lo, int *hi) {
        if (state == 2) {
            *hi = 0;
            *lo = canvas_size - size;
        } else if (state == 1) {
            *hi = scroll;
            *lo = 0;
        } else {
            *lo = 0;
            *hi = canvas_size - size;
        }
    };
    limits(hfit, width, sx, cw, &min_x, &max_x);
    limits(vfit, height, sy, ch, &min_y, &max_y);
    if (s != nullptr) {
        s->hfit = hfit;
        s->vfit = vfit;
    }
    if (base != nullptr) {
        set_bar(base->hscrollbar, 0, std::max(cw, width), cw);
        set_bar(base->vscrollbar, 0, std::max(ch, height), ch);
    }
    display->width = static_cast<uint16_t>(cw);
    display->height = static_cast<uint16_t>(ch);
}

void ShowScrollbars()
{
    if (base == nullptr || current_image == nullptr)
        return;
    Widget canvas = current_canvas();
    if (canvas == nullptr)
        return;
    DetachScrollbar(base->vscrollbar);
    DetachScrollbar(base->hscrollbar);
    int w = dim(base->scrolled_window, XmNwidth) - scrolled_border();
    int h = dim(base->scrolled_window, XmNheight) - scrolled_border();
    int iw = current_image->width, ih = current_image->height;
    int allowance = base->scrollbar_allowance;
    bool vbar = false, hbar = false;
    if (h < ih) {
        vbar = true;
        w -= allowance;
    }
    if (w < iw) {
        hbar = true;
        h -= allowance;
        if (!vbar && h < ih) {
            vbar = true;
            w -= allowance;
        }
    }
    if (vbar)
        AttachScrollbar(base->vscrollbar);
    if (hbar)
        AttachScrollbar(base->hscrollbar);
    set_bar(base->vscrollbar, 0, std::max(ih, h), h);
    set_bar(base->hscrollbar, 0, std::max(iw, w), w);
}

void ScrollBarCallback(Widget, XtPointer client, XtPointer call)
{
    auto *cb = static_cast<XmScrollBarCallbackStruct *>(call);
    ViewState *s = current_state;
    if (s == nullptr || cb == nullptr)
        return;
    if (reinterpret_cast<intptr_t>(client) == 1)
        s->scroll_y = -cb->value;
    else
        s->scroll_x = -cb->value;
    s->scrolling = 1;
    update_image();
    XFlush(XtDisplay(base->shell));
}

void adjust_scrollbars()
{
    ViewState *s = current_state;
    if (s == nullptr || base == nullptr)
        return;
    if (s->hfit == 2)
        XtVaSetValues(base->hscrollbar, XmNvalue, -s->scroll_x, nullptr);
    if (s->vfit == 2)
        XtVaSetValues(base->vscrollbar, XmNvalue, -s->scroll_y, nullptr);
}

// Returns the main window's height minus the scrolled window's.
static Dimension frame_allowance()
{
    if (base->frame_allowance == 0) {
        Dimension mw = dim(base->main_window, XmNheight), sw = dim(base->scrolled_window, XmNheight);
        if (mw > sw)
            base->frame_allowance = static_cast<Dimension>(mw - sw);
    }
    return base->frame_allowance;
}

// The scrolled window's own border around the canvas, in pixels.
static int scrolled_border()
{
    return 2 * dim(base->scrolled_window, XmNshadowThickness);
}

void CanvasResizeCallback(Widget, XtPointer, XtPointer)
{
    if (base != nullptr)
        frame_allowance();
}

void fit_frame_to_image(ImageRec *image)
{
    if (base == nullptr || image == nullptr)
        return;
    // The shell's size limits are ints, unset (negative) when there is none.
    auto limit = [](const char *resource, int unset) {
        int v = -1;
        XtVaGetValues(base->shell, resource, &v, nullptr);
        return v < 0 ? unset : v;
    };
    int min_w = limit(XmNminWidth, 1), max_w = limit(XmNmaxWidth, INT_MAX);
    int min_h = limit(XmNminHeight, 1), max_h = limit(XmNmaxHeight, INT_MAX);
    // What surrounds the scrolled window: the form's sides, the menu bar,
    // tool bar and footers.
    int side = dim(base->shell, XmNwidth) - dim(base->scrolled_window, XmNwidth);
    int frame = frame_allowance();
    int border = scrolled_border();
    int allowance = base->scrollbar_allowance;
    int w = side + border + image->width + allowance;
    int h = frame + border + image->height + allowance;
    w = std::clamp(w, min_w, std::max(min_w, max_w));
    h = std::clamp(h, min_h, std::max(min_h, max_h));
    // Without a scroll bar there is no need for its room.
    if (h != max_h && w != max_w && w - allowance >= min_w)
        w -= allowance;
    if (w != max_w && h != max_h && h - allowance >= min_h)
        h -= allowance;
    XtVaSetValues(base->shell, XmNwidth, static_cast<Dimension>(w), XmNheight,
                  static_cast<Dimension>(h), nullptr);
}

void resize_canvas()
{
    ImageRec *image = current_image;
    ViewState *s = current_state;
    DisplayRec *d = current_display;
    if (image == nullptr || s == nullptr || d == nullptr || d->canvas == nullptr)
        return;
    int W = image->width, H = image->height;
    int cw = dim(d->canvas, XmNwidth), ch = dim(d->canvas, XmNheight);
    // The canvas window is only as large as the visible area: the window
    // image is made again only when it no longer has the window's size.
    if (d == image_display) {
        VelaImage *wi = d->window_image;
        if (wi == nullptr || vela_get_width(wi) != cw || vela_get_height(wi) != ch)
            create_window_image();
    }
    if (base != nullptr) {
        set_bar(base->hscrollbar, 0, std::max(W, cw), cw);
        set_bar(base->vscrollbar, 0, std::max(H, ch), ch);
    }
    s->scroll_x = 0;
    s->scroll_y = 0;
}

void SetFooter(Widget label, const char *text)
{
    if (label == nullptr)
        return;
    XmString s = XmStringCreateLocalized(const_cast<char *>(text));
    XtVaSetValues(label, XmNlabelString, s, nullptr);
    XmStringFree(s);
}

void setbusy()
{
    if (app_shell == nullptr || !XtIsRealized(app_shell))
        return;
    static Cursor watch = 0;
    Display *dpy = XtDisplay(app_shell);
    if (watch == 0)
        watch = XCreateFontCursor(dpy, XC_watch);
    XDefineCursor(dpy, XtWindow(app_shell), watch);
    XSync(dpy, False);
}

void setactive()
{
    if (app_shell == nullptr || !XtIsRealized(app_shell))
        return;
    Display *dpy = XtDisplay(app_shell);
    XUndefineCursor(dpy, XtWindow(app_shell));
    XSync(dpy, False);
}

void set_labels(const char *path)
{
    if (app_shell == nullptr)
        return;
    const char *name = prog->input_from_stdin && prog->stdin_copy != nullptr &&
                               std::strcmp(path, prog->stdin_copy) == 0
                           ? catmsg(1, 434, "Standard Input")
                           : basename(path);
    std::string title = std::string(prog->name) + " - " + name;
    if (appresources->title == nullptr)
        XtVaSetValues(app_shell, XmNtitle, title.c_str(), nullptr);
    if (appresources->icon_name == nullptr) {
        const char *icon = std::strcmp(name, catmsg(1, 388, "(None)")) == 0 ? catmsg(1, 6, "Lumora")
                                                                            : name;
        XtVaSetValues(app_shell, XmNiconName, icon, nullptr);
    }
}

void set_tool_options(ImageRec *old_image, ImageRec *new_image)
{
    if (base == nullptr || new_image == nullptr)
        return;
    BaseRec *b = base;
    if (old_image == nullptr)
        for (Widget w : {b->save_as_item, b->print_prev_item, b->print_one_item, b->print_item,
                         b->image_info_item, b->palette_item})
            sensitive(w, true);
    bool old_ps = old_image != nullptr && is_postscript(old_image->type);
    if (is_postscript(new_image->type)) {
        bool pages = new_image->pages >= 2;
        sensitive(b->overview_item, pages);
        sensitive(b->pg_fwd_button, pages);
        sensitive(b->pg_back_button, false);
        if (b->canvas != nullptr && XtIsRealized(b->canvas))
            XLowerWindow(XtDisplay(b->canvas), XtWindow(b->canvas));
        sensitive(b->save_sel_item, false);
        sensitive(b->save_page_item, true);
        sensitive(b->controls_item, pages || !old_ps);
        if (!old_ps) {
            XmString s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 467, "Print Page")));
            XtVaSetValues(b->print_one_item, XmNlabelString, s, nullptr);
            XmStringFree(s);
            XtManageChild(b->print_doc_item);
            sensitive(b->save_as_item, false);
            sensitive(b->save_item, true);
        }
    } else {
        if (old_ps) {
            XmString s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 466, "Print Image")));
            XtVaSetValues(b->print_one_item, XmNlabelString, s, nullptr);
            XmStringFree(s);
            XtUnmanageChild(b->print_doc_item);
        }
        if (old_ps || old_image == nullptr) {
            sensitive(b->save_as_item, true);
            for (Widget w : {b->save_sel_item, b->save_page_item, b->overview_item,
                             b->pg_fwd_button, b->pg_back_button, b->controls_item})
                sensitive(w, false);
            sensitive(b->save_item, true);
            SetFooter(b->right_footer, "");
        } else {
            sensitive(b->save_item, true);
            sensitive(b->save_as_item, true);
            sensitive(b->save_sel_item, false);
        }
        if (b->ps_canvas != nullptr && XtIsRealized(b->ps_canvas))
            XLowerWindow(XtDisplay(b->ps_canvas), XtWindow(b->ps_canvas));
    }
    sensitive(b->save_item, new_image->type != nullptr && new_image->type->save != nullptr);
    sensitive(b->undo_item, false);
    set_labels(new_image->file);
}

void set_undo_option(int on)
{
    if (base != nullptr)
        sensitive(base->undo_item, on == 1);
}

void set_save_selection(int on)
{
    if (base == nullptr)
        return;
    bool ps = current_image != nullptr && is_postscript(current_image->type);
    if (on) {
        sensitive(base->save_sel_item, true);
        sensitive(base->save_item, false);
        sensitive(base->save_as_item, false);
        sensitive(base->save_page_item, false);
    } else {
        sensitive(base->save_sel_item, false);
        sensitive(base->save_item, true);
        sensitive(ps ? base->save_page_item : base->save_as_item, true);
    }
    retitle_save_as_for_selection(on);
}

void set_zoom_and_rotate()
{
    bool ps = current_image != nullptr && is_postscript(current_image->type);
    palette_set_positions(ps ? prog->def_ps_zoom : 100, 90);
}

void update_page_number(int page, int total, int previous)
{
    if (base == nullptr)
        return;
    char buf[64];
    auto show_number = [&](int n) {
        std::snprintf(buf, sizeof buf, "%-d", n);
        SetFooter(base->page_number, buf);
    };
    if (total < 0) {
        std::snprintf(buf, sizeof buf, catmsg(1, 14, "Page: %d of %d"), page, 0);
        std::string text = buf;
        if (!text.empty())
            text.back() = 'x';
        SetFooter(base->right_footer, text.c_str());
        int maximum = 0;
        XtVaGetValues(base->page_scale, XmNmaximum, &maximum, nullptr);
        if (maximum < page)
            XtVaSetValues(base->page_scale, XmNmaximum, page, nullptr);
        XtVaSetValues(base->page_scale, XmNvalue, page, nullptr);
        for (Widget w : {base->page_scale, base->page_label, base->page_number})
            sensitive(w, false);
        show_number(page);
    } else if (total < 2) {
        XtVaSetValues(base->page_scale, XmNvalue, 1, nullptr);
        for (Widget w : {base->page_scale, base->page_label, base->page_number})
            sensitive(w, false);
        show_number(1);
    } else {
        XtVaSetValues(base->page_scale, XmNmaximum, total, XmNvalue, page, nullptr);
        for (Widget w : {base->page_scale, base->page_label, base->page_number})
            sensitive(w, true);
        show_number(page);
    }
    if (total >= 0) {
        std::snprintf(buf, sizeof buf, catmsg(1, 15, "Page: %d of %d"), page, total);
        SetFooter(base->right_footer, buf);
    }
    if (previous == total)
        sensitive(base->pg_fwd_button, true);
    else if (previous == 1)
        sensitive(base->pg_back_button, true);
    if (page == total)
        sensitive(base->pg_fwd_button, false);
    else if (page == 1)
        sensitive(base->pg_back_button, false);
}

Pixmap create_pixmap(DisplayRec *display, int width, int height, int depth, int remember)
{
    Display *dpy = display->xdisplay;
    Pixmap p = XCreatePixmap(dpy, DefaultRootWindow(dpy), static_cast<unsigned>(std::max(width, 1)),
                             static_cast<unsigned>(std::max(height, 1)), static_cast<unsigned>(depth));
    GC gc = XCreateGC(dpy, p, 0, nullptr);
    XSetForeground(dpy, gc, 0);
    XFillRectangle(dpy, p, gc, 0, 0, static_cast<unsigned>(std::max(width, 1)),
                   static_cast<unsigned>(std::max(height, 1)));
    XFreeGC(dpy, gc);
    if (remember) {
        display->width = static_cast<uint16_t>(width);
        display->height = static_cast<uint16_t>(height);
    }
    return p;
}

int GetListSelection(Widget list)
{
    int *positions = nullptr, count = 0;
    if (!XmListGetSelectedPos(list, &positions, &count) || count == 0)
        return -1;
    int pos = positions[0] - 1;
    XtFree(reinterpret_cast<char *>(positions));
    return pos;
}

void view_state_created(ViewState *state)
{
    if (base != nullptr) {
        for (Widget bar : {base->hscrollbar, base->vscrollbar})
            if (bar != nullptr)
                XtVaSetValues(bar, XmNvalue, 0, nullptr);
    }
    palette_modes_for(state);
}
