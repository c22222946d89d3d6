// palette.cc - the tool palette and the pan cursor.
#include "dialogs/palette.h"

#include <Xm/DialogS.h>
#include <Xm/DrawnB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/SSpinB.h>
#include <Xm/Scale.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/help.h"
#include "dialogs/props.h"
#include "image/canvas.h"
#include "image/state.h"

PaletteRec *palette = nullptr;

namespace {

// A small degree sign for the rotation's spin box.
const unsigned char degrees_bits[32] = {0x00, 0x00, 0x38, 0x00, 0x44, 0x00, 0x44, 0x00,
                                        0x44, 0x00, 0x38, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// The pan cursor: a four-way arrow, and its mask.
const unsigned char pan_bits[32] = {0x80, 0x01, 0xc0, 0x03, 0xe0, 0x07, 0x80, 0x01,
                                    0x80, 0x01, 0x84, 0x21, 0x86, 0x61, 0xff, 0xff,
                                    0xff, 0xff, 0x86, 0x61, 0x84, 0x21, 0x80, 0x01,
                                    0x80, 0x01, 0xe0, 0x07, 0xc0, 0x03, 0x80, 0x01};
const unsigned char pan_mask_bits[32] = {0xc0, 0x03, 0xe0, 0x07, 0xf0, 0x0f, 0xf0, 0x0f,
                                         0xcc, 0x33, 0xce, 0x73, 0xff, 0xff, 0xff, 0xff,
                                         0xff, 0xff, 0xff, 0xff, 0xce, 0x73, 0xcc, 0x33,
                                         0xf0, 0x0f, 0xf0, 0x0f, 0xe0, 0x07, 0xc0, 0x03};

bool opened_at_start = false;

Widget drawn_button(Widget parent, const char *name, const char *pixmap, XtCallbackProc cb)
{
    Pixel fg = 0, bg = 0;
    XtVaGetValues(parent, XmNforeground, &fg, XmNbackground, &bg, nullptr);
    bool mono = DefaultDepthOfScreen(XtScreen(parent)) < 2;
    std::string file = std::string(pixmap) + (mono ? ".m.bm" : ".m.pm");
    Pixmap p = load_icon(parent, file.c_str(), fg, bg);
    Widget w = XtVaCreateManagedWidget(name, xmDrawnButtonWidgetClass, parent, XmNpushButtonEnabled,
                                       True, XmNshadowType, XmSHADOW_OUT, XmNshadowThickness, 2,
                                       nullptr);
    if (p != XmUNSPECIFIED_PIXMAP)
        XtVaSetValues(w, XmNlabelType, XmPIXMAP, XmNlabelPixmap, p, nullptr);
    XtAddCallback(w, XmNactivateCallback, cb, nullptr);
    return w;
}

Widget spin_box(Widget parent, const char *name, int minimum, int maximum, int value,
                XtCallbackProc cb)
{
    Arg args[6];
    int n = 0;
    XtSetArg(args[n], XmNspinBoxChildType, XmNUMERIC);
    n++;
    XtSetArg(args[n], XmNminimumValue, minimum);
    n++;
    XtSetArg(args[n], XmNmaximumValue, maximum);
    n++;
    XtSetArg(args[n], XmNposition, value);
    n++;
    XtSetArg(args[n], XmNcolumns, 3);
    n++;
    Widget w = XmCreateSimpleSpinBox(parent, const_cast<char *>(name), args, static_cast<Cardinal>(n));
    XtAddCallback(w, XmNvalueChangedCallback, cb, nullptr);
    Widget text = nullptr;
    XtVaGetValues(w, XmNtextField, &text, nullptr);
    if (text != nullptr) {
        XtAddCallback(text, XmNmodifyVerifyCallback, cb, nullptr);
        XtAddCallback(text, XmNactivateCallback, cb, nullptr);
    }
    XtManageChild(w);
    return w;
}

Widget scale(Widget parent, const char *name, int minimum, int maximum, int value,
             XtCallbackProc cb)
{
    Widget w = XtVaCreateManagedWidget(name, xmScaleWidgetClass, parent, XmNorientation,
                                       XmHORIZONTAL, XmNminimum, minimum, XmNmaximum, maximum,
                                       XmNvalue, value, XmNshowValue, False, XmNscaleWidth, 120,
                                       nullptr);
    XtAddCallback(w, XmNvalueChangedCallback, cb, nullptr);
    XtAddCallback(w, XmNdragCallback, cb, nullptr);
    return w;
}

Widget row(Widget parent, const char *name)
{
    return XtVaCreateManagedWidget(name, xmRowColumnWidgetClass, parent, XmNorientation,
                                   XmHORIZONTAL, XmNpacking, XmPACK_TIGHT, XmNspacing, 6, nullptr);
}

Widget push(Widget parent, const char *name, const char *label, XtCallbackProc cb, XtPointer client)
{
    XmString s = XmStringCreateLocalized(const_cast<char *>(label));
    Widget w = XtVaCreateManagedWidget(name, xmPushButtonWidgetClass, parent, XmNlabelString, s,
                                       nullptr);
    XmStringFree(s);
    XtAddCallback(w, XmNactivateCallback, cb, client);
    return w;
}

} // namespace

bool button_pressed(Widget button)
{
    unsigned char shadow = XmSHADOW_OUT;
    if (button != nullptr)
        XtVaGetValues(button, XmNshadowType, &shadow, nullptr);
    return shadow == XmSHADOW_IN;
}

void show_pressed(Widget button, bool pressed)
{
    if (button != nullptr)
        XtVaSetValues(button, XmNshadowType, pressed ? XmSHADOW_IN : XmSHADOW_OUT, nullptr);
}

Cursor pan_cursor()
{
    static Cursor cursor = 0;
    if (cursor == 0 && app_shell != nullptr) {
        Display *dpy = XtDisplay(app_shell);
        Window root = DefaultRootWindow(dpy);
        Pixmap src = XCreateBitmapFromData(dpy, root, reinterpret_cast<const char *>(pan_bits), 16, 16);
        Pixmap mask = XCreateBitmapFromData(dpy, root, reinterpret_cast<const char *>(pan_mask_bits), 16, 16);
        XColor black = {0, 0, 0, 0, DoRed | DoGreen | DoBlue, 0};
        XColor white = {0, 65535, 65535, 65535, DoRed | DoGreen | DoBlue, 0};
        cursor = XCreatePixmapCursor(dpy, src, mask, &black, &white, 8, 8);
        XFreePixmap(dpy, src);
        XFreePixmap(dpy, mask);
    }
    return cursor;
}

void PaletteObjectsInitialize(Widget parent)
{
    if (palette != nullptr)
        return;
    palette = new PaletteRec{};
    PaletteRec *p = palette;
    p->shell = XtVaCreatePopupShell("PaletteShell", xmDialogShellWidgetClass, parent, XmNtitle,
                                    catmsg(1, 512, "Lumora - Palette"), XmNallowShellResize, True,
                                    XmNdeleteResponse, XmUNMAP, nullptr);
    p->form = XtVaCreateWidget("PaletteForm", xmFormWidgetClass, p->shell, XmNhorizontalSpacing, 8,
                               XmNverticalSpacing, 8, nullptr);
    Widget tools = row(p->form, "ToolRow");
    XtVaSetValues(tools, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, nullptr);
    p->pan_button = drawn_button(tools, "PanButton", "ORvimage.move", PanCallback);
    p->select_button = drawn_button(tools, "SelectButton", "ORvimage.select", SelectCallback);
    p->vflip_button = drawn_button(tools, "VFlipButton", "ORvimage.flipV", VflipCallback);
    p->hflip_button = drawn_button(tools, "HFlipButton", "ORvimage.flipH", HflipCallback);

    Widget rotate = row(p->form, "RotateRow");
    XtVaSetValues(rotate, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, tools,
                  XmNleftAttachment, XmATTACH_FORM, nullptr);
    p->rotate_l_button = drawn_button(rotate, "RotateLButton", "ORvimage.rotateL", RotateCallback);
    p->rotate_r_button = drawn_button(rotate, "RotateRButton", "ORvimage.rotateR", RotateCallback);
    p->rotate_spin = spin_box(rotate, "RotateSpinBox", 0, 180, 90, RotateValueCallback);
    Pixel fg = 0, bg = 0;
    XtVaGetValues(rotate, XmNforeground, &fg, XmNbackground, &bg, nullptr);
    int depth = DefaultDepthOfScreen(XtScreen(rotate));
    Pixmap deg = XCreatePixmapFromBitmapData(XtDisplay(rotate), RootWindowOfScreen(XtScreen(rotate)),
                                             const_cast<char *>(reinterpret_cast<const char *>(degrees_bits)),
                                             16, 16, fg, bg, static_cast<unsigned>(depth));
    XtVaCreateManagedWidget("DegreesLabel", xmLabelWidgetClass, rotate, XmNlabelType, XmPIXMAP,
                            XmNlabelPixmap, deg, nullptr);
    p->rotate_scale = scale(rotate, "RotateScale", 0, 180, 90, RotateScaleCallback);

    Widget zoom = row(p->form, "ZoomRow");
    XtVaSetValues(zoom, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, rotate,
                  XmNleftAttachment, XmATTACH_FORM, nullptr);
    p->zoom_button = drawn_button(zoom, "ZoomButton", "ORvimage.scale", ZoomCallback);
    XtAddCallback(p->zoom_button, XmNarmCallback, ZoomCallback, nullptr);
    p->zoom_spin = spin_box(zoom, "ZoomSpinBox", 25, 400, 100, ZoomValueCallback);
    XmString pct = XmStringCreateLocalized(const_cast<char *>("%"));
    XtVaCreateManagedWidget("PercentLabel", xmLabelWidgetClass, zoom, XmNlabelString, pct, nullptr);
    XmStringFree(pct);
    p->zoom_scale = scale(zoom, "ZoomScale", 25, 400, 100, ZoomScaleCallback);

    Widget sep = XtVaCreateManagedWidget("Separator", xmSeparatorWidgetClass, p->form,
                                         XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, zoom,
                                         XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                         XmATTACH_FORM, nullptr);
    Widget buttons = XtVaCreateManagedWidget("ButtonRow", xmFormWidgetClass, p->form, XmNfractionBase,
                                             3, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, sep,
                                             XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                             XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
    p->revert_button = push(buttons, "PaletteRevertButton", catmsg(1, 513, "Revert"),
                            RevertCallback, nullptr);
    p->cancel_button = push(buttons, "PaletteCancelButton", catmsg(1, 2, "Close"),
                            PaletteCancelCallback, nullptr);
    p->help_button = push(buttons, "PaletteHelpButton", catmsg(1, 231, "Help"), HelpItemCallback,
                          const_cast<char *>("LumorPaletteDialog"));
    Widget bs[3] = {p->revert_button, p->cancel_button, p->help_button};
    for (int i = 0; i < 3; i++)
        XtVaSetValues(bs[i], XmNleftAttachment, XmATTACH_POSITION, XmNleftPosition, i,
                      XmNrightAttachment, XmATTACH_POSITION, XmNrightPosition, i + 1,
                      XmNleftOffset, 4, XmNrightOffset, 4, nullptr);
    XtAddCallback(p->form, XmNhelpCallback, HelpItemCallback, const_cast<char *>("LumorPaletteDialog"));
    XtAddEventHandler(p->shell, StructureNotifyMask, False, PopupEventHandler, &p->showing);
}

void palette_set_positions(int zoom, int rotation)
{
    if (palette == nullptr)
        return;
    XtVaSetValues(palette->zoom_spin, XmNposition, zoom, nullptr);
    XmScaleSetValue(palette->zoom_scale, zoom);
    XtVaSetValues(palette->rotate_spin, XmNposition, rotation, nullptr);
    XmScaleSetValue(palette->rotate_scale, rotation);
}

void palette_modes_for(ViewState *state)
{
    if (palette == nullptr || state == nullptr)
        return;
    state->pan_mode = button_pressed(palette->pan_button) ? 1 : 0;
    state->select_mode = button_pressed(palette->select_button) ? 1 : 0;
}

void PaletteCallback(Widget, XtPointer, XtPointer)
{
    if (palette == nullptr)
        PaletteObjectsInitialize(app_shell);
    set_zoom_and_rotate();
    ShowDialog(palette->form, palette->showing);
}

void PaletteCancelCallback(Widget, XtPointer, XtPointer)
{
    if (palette != nullptr)
        XtPopdown(palette->shell);
}

void palette_at_start()
{
    if (opened_at_start || current_image == nullptr || current_props == nullptr ||
        !current_props->display_palette)
        return;
    opened_at_start = true;
    PaletteCallback(nullptr, nullptr, nullptr);
    set_zoom_and_rotate();
}
