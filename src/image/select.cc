// select.cc - the XOR selection box and cropping.
#include "image/select.h"

#include <Xm/Xm.h>

#include <algorithm>
#include <cstdlib>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "image/canvas.h"
#include "image/state.h"
#include "image/vela_iface.h"

namespace {

void draw(const XRectangle &r)
{
    DisplayRec *d = current_display;
    if (d == nullptr || d->canvas == nullptr || !XtIsRealized(d->canvas) || d->xor_gc == nullptr)
        return;
    XDrawRectangle(XtDisplay(d->canvas), XtWindow(d->canvas), d->xor_gc, r.x, r.y, r.width,
                   r.height);
}

} // namespace

void make_rectangle(int x0, int y0, int x1, int y1, XRectangle *rect)
{
    rect->x = static_cast<short>(std::min(x0, x1));
    rect->y = static_cast<short>(std::min(y0, y1));
    rect->width = static_cast<unsigned short>(std::abs(x0 - x1));
    rect->height = static_cast<unsigned short>(std::abs(y0 - y1));
}

void drawbox(int x0, int y0, int x1, int y1, XRectangle *rect, int erase)
{
    if (erase)
        draw(*rect);
    make_rectangle(x0, y0, x1, y1, rect);
    draw(*rect);
}

void redraw_selection_box()
{
    ViewState *s = current_state;
    if (s == nullptr || !s->selection_shown)
        return;
    XRectangle r = {s->sel_x, s->sel_y, s->sel_width, s->sel_height};
    draw(r);
}

void reset_cursor()
{
    DisplayRec *d = current_display;
    if (d != nullptr && d->canvas != nullptr && XtIsRealized(d->canvas))
        XUndefineCursor(XtDisplay(d->canvas), XtWindow(d->canvas));
}

VelaImage *crop_region(ImageRec *, VelaImage *view)
{
    ViewState *s = current_state;
    if (base != nullptr)
        SetFooter(base->left_footer, "");
    if (s == nullptr || view == nullptr)
        return nullptr;
    int x = s->sel_x, y = s->sel_y, w = s->sel_width, h = s->sel_height;
    int sx = s->scroll_x, sy = s->scroll_y;
    int W = vela_get_width(view), H = vela_get_height(view);
    if (w == 0 || h == 0) {
        AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_ERROR, ALERT_TITLE,
                    catmsg(1, 431, "Lumora - Palette"), ALERT_STYLE,
                    XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                    catmsg(1, 338, "Selected region too small.\nPlease select a larger area."),
                    ALERT_BUTTON, 0, catmsg(1, 339, "Continue"), ALERT_HELP, "LumorPaletteDialog", 0);
        return nullptr;
    }
    if (sx + W < x || sy + H < y || x + w < sx || y + h < sy) {
        AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_ERROR, ALERT_TITLE,
                    catmsg(1, 432, "Lumora - Palette"), ALERT_STYLE,
                    XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                    catmsg(1, 340, "Select a region within the image."), ALERT_BUTTON, 0,
                    catmsg(1, 341, "Continue"), ALERT_HELP, "LumorPaletteDialog", 0);
        return nullptr;
    }
    if (x < sx) {
        w -= sx - x;
        x = sx;
    }
    if (y < sy) {
        h -= sy - y;
        y = sy;
    }
    x -= sx;
    y -= sy;
    int width = x + w > W ? W - x : w;
    int height = y + h > H ? H - y : h;
    if (width <= 0 || height <= 0)
        return nullptr;
    return vela_create_child(view, x, y, width, height, 0, vela_get_nbands(view));
}
