// events.cc - input on the main window and the canvases.
#include "app/events.h"

#include <X11/keysym.h>
#include <Xm/DrawingA.h>
#include <Xm/ScrollBar.h>

#include <algorithm>
#include <cstring>

#include "app/corvat.h"
#include "app/menus.h"
#include "app/ui_corvat.h"
#include "image/canvas.h"
#include "image/image.h"
#include "image/select.h"
#include "image/state.h"
#include "image/vela_iface.h"
#include "postscript/paging.h"

namespace {

// The paging keys of a PostScript document.
struct PagingKey {
    KeySym sym;
    void (*action)();
};
const PagingKey paging_keys[] = {
    {XK_space, next_page},     {XK_Return, next_page},     {XK_Right, next_page},
    {XK_Down, next_page},      {XK_Next, next_page},       {XK_KP_Enter, next_page},
    {XK_KP_Next, next_page},   {XK_F35, next_page},        {XK_BackSpace, prev_page},
    {XK_Left, prev_page},      {XK_Up, prev_page},         {XK_Prior, prev_page},
    {XK_KP_Prior, prev_page},  {XK_F29, prev_page},        {XK_Delete, prev_page},
    {XK_Home, first_page},     {XK_KP_Home, first_page},   {XK_F27, first_page},
    {XK_End, last_page},       {XK_KP_End, last_page},     {XK_F33, last_page},
};

// Pointer position at the last motion (pan mode).
int last_x = 0, last_y = 0;
// Whether a rubber band is drawn, and its anchor.
bool erase_box = false;
int anchor_x = 0, anchor_y = 0;
// The usable size at the previous resize of the form.
int last_width = -1, last_height = -1;

} // namespace

void MainWEventHandler(Widget, XtPointer, XEvent *event, Boolean *)
{
    if (event->type == MapNotify) {
        prog->tt_state1 = 0;
        prog->main_window_mapped = 1;
    }
}

void MainWClientMessageHandler(Widget, XtPointer, XEvent *event, Boolean *)
{
    if (event->type != ClientMessage || event->xclient.format != 8)
        return;
    if (std::strncmp(event->xclient.data.b, "DND_DROP_ACTION", sizeof event->xclient.data.b) == 0)
        DndOpenFile();
}

void CanvasEventHandler(Widget, XtPointer, XEvent *, Boolean *)
{
}

void KeyEventHandler(Widget, XtPointer, XEvent *event, Boolean *)
{
    if (event->type != KeyPress)
        return;
    KeySym sym = XLookupKeysym(&event->xkey, 0);
    for (const PagingKey &k : paging_keys)
        if (k.sym == sym) {
            k.action();
            return;
        }
}

void PropsKeyEventHandler(Widget w, XtPointer, XEvent *event, Boolean *)
{
    if (event->type == KeyPress && XLookupKeysym(&event->xkey, 0) == XK_F13)
        PropsCallback(w, nullptr, nullptr);
}

void CanvasInputCallback(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmDrawingAreaCallbackStruct *>(call);
    ViewState *s = current_state;
    if (s == nullptr || cb == nullptr || cb->event == nullptr)
        return;
    XEvent *e = cb->event;
    if (e->type == ButtonPress && s->pan_mode) {
        last_x = e->xbutton.x;
        last_y = e->xbutton.y;
    } else if (e->type == ButtonPress && s->select_mode) {
        if (s->selection_shown) {
            XRectangle rect = {s->sel_x, s->sel_y, s->sel_width, s->sel_height};
            drawbox(s->start_x, s->start_y, s->end_x, s->end_y, &rect, 0);
            s->selection_shown = 0;
        }
        anchor_x = e->xbutton.x;
        anchor_y = e->xbutton.y;
        erase_box = false;
        s->sel_width = s->sel_height = 0;
    } else if (e->type == ButtonRelease && s->select_mode) {
        XRectangle rect = {s->sel_x, s->sel_y, s->sel_width, s->sel_height};
        if (!erase_box)
            rect = {0, 0, 0, 0};
        drawbox(anchor_x, anchor_y, e->xbutton.x, e->xbutton.y, &rect, erase_box ? 1 : 0);
        s->start_x = anchor_x;
        s->start_y = anchor_y;
        s->end_x = e->xbutton.x;
        s->end_y = e->xbutton.y;
        s->sel_x = rect.x;
        s->sel_y = rect.y;
        s->sel_width = rect.width;
        s->sel_height = rect.height;
        s->selection_shown = 1;
        if (s->sel_width == 0 || s->sel_height == 0)
            s->sel_width = 2;
        set_save_selection(1);
        erase_box = false;
    }
}

void SelectEventHandler(Widget w, XtPointer, XEvent *event, Boolean *)
{
    ViewState *s = current_state;
    if (s == nullptr || event->type != MotionNotify)
        return;
    // Only the newest of the queued motions counts.
    Display *dpy = XtDisplay(w);
    while (XEventsQueued(dpy, QueuedAfterFlush) > 0) {
        XEvent next;
        XPeekEvent(dpy, &next);
        if (next.type != MotionNotify)
            break;
        XNextEvent(dpy, event);
    }
    int x = event->xmotion.x, y = event->xmotion.y;
    if (s->pan_mode) {
        int nx = std::clamp(s->scroll_x + (x - last_x), min_x, std::max(min_x, max_x));
        int ny = std::clamp(s->scroll_y + (y - last_y), min_y, std::max(min_y, max_y));
        if (nx != s->scroll_x || ny != s->scroll_y) {
            s->prev_scroll_x = s->scroll_x;
            s->prev_scroll_y = s->scroll_y;
            s->scroll_x = nx;
            s->scroll_y = ny;
            s->pan_uncovered = 1;
            adjust_scrollbars();
            update_image();
        }
        last_x = x;
        last_y = y;
    } else if (s->select_mode) {
        XRectangle rect = {s->sel_x, s->sel_y, s->sel_width, s->sel_height};
        drawbox(anchor_x, anchor_y, x, y, &rect, erase_box ? 1 : 0);
        s->sel_x = rect.x;
        s->sel_y = rect.y;
        s->sel_width = rect.width;
        s->sel_height = rect.height;
        erase_box = true;
    }
}

void DetachScrollbar(Widget bar)
{
    if (bar == nullptr)
        return;
    XtUnmanageChild(bar);
    XtVaSetValues(bar, XmNvalue, 0, nullptr);
}

void AttachScrollbar(Widget bar)
{
    if (bar != nullptr)
        XtManageChild(bar);
}

void FormEventHandler(Widget, XtPointer, XEvent *event, Boolean *)
{
    if (event->type != ConfigureNotify || base == nullptr || current_image == nullptr ||
        current_display == nullptr || current_display->canvas == nullptr)
        return;
    BaseRec *b = base;
    Widget canvas = current_display->canvas;

    // 1. Which bars the picture needs in the scrolled window's room.
    DetachScrollbar(b->vscrollbar);
    DetachScrollbar(b->hscrollbar);
    Dimension sw = 0, sh = 0;
    XtVaGetValues(b->scrolled_window, XmNwidth, &sw, XmNheight, &sh, nullptr);
    Dimension shadow = 0;
    XtVaGetValues(b->scrolled_window, XmNshadowThickness, &shadow, nullptr);
    int width = sw - 2 * shadow, height = sh - 2 * shadow;
    int allowance = b->scrollbar_allowance;
    for (auto [bar, size] : {std::pair{b->hscrollbar, width}, std::pair{b->vscrollbar, height}})
        XtVaSetValues(bar, XmNpageIncrement, size - allowance - 10 > 10 ? size - allowance - 10 : size,
                      nullptr);
    int iw = current_image->width, ih = current_image->height;
    bool vbar = false;
    if (height < ih) {
        AttachScrollbar(b->vscrollbar);
        vbar = true;
        width -= allowance;
    }
    if (width < iw) {
        AttachScrollbar(b->hscrollbar);
        height -= allowance;
        if (!vbar && height < ih) {
            AttachScrollbar(b->vscrollbar);
            width -= allowance;
        }
    }
    // 3. Nothing more to do when the room did not change.
    if (width == last_width && height == last_height)
        return;

    // 4. A window image of the canvas's new size.
    Dimension cw = 0, ch = 0;
    XtVaGetValues(canvas, XmNwidth, &cw, XmNheight, &ch, nullptr);
    if (current_display == image_display) {
        VelaImage *wi = image_display->window_image;
        if (wi == nullptr || vela_get_width(wi) != cw || vela_get_height(wi) != ch)
            create_window_image();
    }
    current_display->width = cw;
    current_display->height = ch;

    // 5. Back to the top left.
    if (current_state != nullptr)
        current_state->scroll_x = current_state->scroll_y = 0;
    check_canvas(iw, ih, current_display);
    auto set = [](Widget bar, int image_size, int usable) {
        usable = std::max(usable, 1);
        XtVaSetValues(bar, XmNvalue, 0, XmNmaximum, std::max(image_size, usable), XmNsliderSize,
                      usable, nullptr);
    };
    set(b->hscrollbar, iw, width);
    set(b->vscrollbar, ih, height);
    update_image();
    last_width = width;
    last_height = height;
}
