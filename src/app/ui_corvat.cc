// ui_corvat.cc - building the main window and the image canvas.
#include "app/ui_corvat.h"

#include <X11/xpm.h>
#include <X11/Xutil.h>
#include <Xm/CascadeB.h>
#include <Xm/DrawingA.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/MainW.h>
#include <Xm/Protocols.h>
#include <Xm/PushB.h>
#include <Xm/PushBG.h>
#include <Xm/RepType.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/ScrollBar.h>
#include <Xm/ScrolledW.h>
#include <Xm/SeparatoG.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/DrawingAVis.h"
#include "app/alert.h"
#include "app/corvat.h"
#include "app/events.h"
#include "app/menus.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/paths.h"
#include "dialogs/help.h"
#include "dialogs/props.h"
#include "image/canvas.h"
#include "image/image.h"
#include "image/vela_iface.h"

BaseRec *base = nullptr;

namespace {

// The 16 x 16 stipple of the area outside the picture.
const unsigned char stipple_bits[32] = {0x01, 0x01, 0x00, 0x00, 0x80, 0x80, 0x00, 0x00,
                                        0x08, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x01, 0x01, 0x00, 0x00, 0x80, 0x80, 0x00, 0x00,
                                        0x08, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// Returns a push button in a menu with its catalog label.
Widget menu_item(Widget menu, const char *name, const char *label, XtCallbackProc activate,
                 XtPointer client, const char *help)
{
    XmString text = XmStringCreateLocalized(const_cast<char *>(label));
    Widget w = XtVaCreateManagedWidget(name, xmPushButtonGadgetClass, menu, XmNlabelString, text,
                                       nullptr);
    XmStringFree(text);
    if (activate != nullptr)
        XtAddCallback(w, XmNactivateCallback, activate, client);
    if (help != nullptr)
        XtAddCallback(w, XmNhelpCallback, HelpItemCallback, const_cast<char *>(help));
    return w;
}

void separator(Widget menu)
{
    XtVaCreateManagedWidget("Separator", xmSeparatorGadgetClass, menu, nullptr);
}

// Returns a pull-down menu and its cascade button in the menu bar.
Widget cascade(Widget menu_bar, const char *button_name, const char *menu_name, const char *label,
               Widget *menu, const char *help)
{
    *menu = XmCreatePulldownMenu(menu_bar, const_cast<char *>(menu_name), nullptr, 0);
    XmString text = XmStringCreateLocalized(const_cast<char *>(label));
    Widget b = XtVaCreateManagedWidget(button_name, xmCascadeButtonWidgetClass, menu_bar,
                                       XmNsubMenuId, *menu, XmNlabelString, text, nullptr);
    XmStringFree(text);
    XtAddCallback(b, XmNhelpCallback, HelpItemCallback, const_cast<char *>(help));
    XtAddCallback(*menu, XmNhelpCallback, HelpItemCallback, const_cast<char *>(help));
    return b;
}

void set_help(Widget w, const char *location)
{
    XtAddCallback(w, XmNhelpCallback, HelpItemCallback, const_cast<char *>(location));
}

Dimension width_of(Widget w)
{
    Dimension d = 0;
    XtVaGetValues(w, XmNwidth, &d, nullptr);
    return d;
}

Dimension height_of(Widget w)
{
    Dimension d = 0;
    XtVaGetValues(w, XmNheight, &d, nullptr);
    return d;
}

// Returns the pixel of a grey level in the canvas's colormap and visual.
unsigned long grey_pixel(Display *dpy, const XVisualInfo &vi, Colormap cmap, unsigned short level)
{
    if (vi.c_class == TrueColor || vi.c_class == DirectColor) {
        auto scale = [level](unsigned long mask) {
            if (mask == 0)
                return 0UL;
            int shift = 0;
            while (!((mask >> shift) & 1))
                shift++;
            unsigned long max = mask >> shift;
            return ((static_cast<unsigned long>(level) * max + 32767) / 65535) << shift;
        };
        return scale(vi.red_mask) | scale(vi.green_mask) | scale(vi.blue_mask);
    }
    XColor c = {};
    c.red = c.green = c.blue = level;
    c.flags = DoRed | DoGreen | DoBlue;
    if (cmap != 0 && XAllocColor(dpy, cmap, &c))
        return c.pixel;
    return level >= 0x8000 ? 1 : 0;
}

} // namespace

const char *icon_path(const char *name)
{
    static std::string found;
    found = share_dir() + "/icons/" + name;
    struct stat st;
    if (stat(found.c_str(), &st) != 0)
        found.clear();
    return found.c_str();
}

Pixmap load_icon(Widget w, const char *name, Pixel foreground, Pixel background)
{
    const char *path = icon_path(name);
    if (*path == '\0')
        return XmUNSPECIFIED_PIXMAP;
    Display *dpy = XtDisplay(w);
    Window root = RootWindowOfScreen(XtScreen(w));
    size_t n = std::strlen(name);
    if (n > 3 && std::strcmp(name + n - 3, ".bm") == 0) {
        unsigned int bw = 0, bh = 0;
        unsigned char *bits = nullptr;
        int xh, yh;
        if (XReadBitmapFileData(path, &bw, &bh, &bits, &xh, &yh) != BitmapSuccess)
            return XmUNSPECIFIED_PIXMAP;
        int depth = 0;
        XtVaGetValues(w, XmNdepth, &depth, nullptr);
        Pixmap p = XCreatePixmapFromBitmapData(dpy, root, reinterpret_cast<char *>(bits), bw, bh,
                                               foreground, background,
                                               static_cast<unsigned>(depth > 0 ? depth : 1));
        XFree(bits);
        return p != 0 ? p : XmUNSPECIFIED_PIXMAP;
    }
    // Transparent pixels take the widget's background.
    XpmColorSymbol none = {nullptr, const_cast<char *>("None"), background};
    XpmAttributes attr = {};
    attr.valuemask = XpmColorSymbols | XpmDepth | XpmColormap | XpmVisual;
    attr.colorsymbols = &none;
    attr.numsymbols = 1;
    int depth = 0;
    Colormap cmap = 0;
    Visual *visual = nullptr;
    XtVaGetValues(w, XmNdepth, &depth, XmNcolormap, &cmap, nullptr);
    visual = DefaultVisualOfScreen(XtScreen(w));
    attr.depth = static_cast<unsigned>(depth);
    attr.colormap = cmap;
    attr.visual = visual;
    Pixmap p = 0, mask = 0;
    int rc = XpmReadFileToPixmap(dpy, root, const_cast<char *>(path), &p, &mask, &attr);
    if (mask != 0)
        XFreePixmap(dpy, mask);
    XpmFreeAttributes(&attr);
    (void)foreground;
    return rc == XpmSuccess && p != 0 ? p : XmUNSPECIFIED_PIXMAP;
}

void not_available_alert(const char *what)
{
    char text[512];
    std::snprintf(text, sizeof text, catmsg(1, 511, "%s is not available in this version of %s."),
                  what, prog->name);
    AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_WARNING, ALERT_TITLE, prog->name, ALERT_STYLE,
                XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE, text, ALERT_BUTTON, 0,
                catmsg(1, 108, "Continue"), 0);
}

void CreateApplicationIcon(Widget shell, Pixel foreground, Pixel background)
{
    Display *dpy = XtDisplay(shell);
    bool mono = DefaultDepthOfScreen(XtScreen(shell)) == 1;
    Window root = RootWindowOfScreen(XtScreen(shell));
    Pixmap icon = 0, mask = 0;
    if (mono) {
        icon = load_icon(shell, "ORvimage.m.bm", foreground, background);
        if (icon == XmUNSPECIFIED_PIXMAP)
            icon = 0;
    } else {
        const char *path = icon_path("ORvimage.m.pm");
        XpmAttributes attr = {};
        if (*path != '\0')
            XpmReadFileToPixmap(dpy, root, const_cast<char *>(path), &icon, &mask, &attr);
        XpmFreeAttributes(&attr);
    }
    if (mask == 0) {
        unsigned int bw, bh;
        int xh, yh;
        const char *mpath = icon_path("ORvimage.m_m.bm");
        if (*mpath != '\0')
            XReadBitmapFile(dpy, root, mpath, &bw, &bh, &mask, &xh, &yh);
    }
    if (icon != 0)
        XtVaSetValues(shell, XmNiconPixmap, icon, nullptr);
    if (mask != 0)
        XtVaSetValues(shell, XmNiconMask, mask, nullptr);
}

Pixmap create_stipple_pixmap(Display *display, Window window)
{
    static Pixmap stipple = 0;
    if (stipple == 0)
        stipple = XCreateBitmapFromData(display, window, reinterpret_cast<const char *>(stipple_bits),
                                        16, 16);
    return stipple;
}

Widget FileMenuCreate(BaseRec *b, Widget menu_bar)
{
    Widget m;
    b->file_button = cascade(menu_bar, "FileButton", "FileMenu", catmsg(1, 354, "File"), &m,
                             "LumorFileMenu");
    b->file_menu = m;
    b->open_item = menu_item(m, "OpenItem", catmsg(1, 355, "Open..."), OpenCallback, nullptr,
                             "LumorOpenDialog");
    b->open_as_item = menu_item(m, "OpenAsItem", catmsg(1, 356, "Open As..."), OpenAsCallback,
                                nullptr, "LumorOpenAsDialog");
    separator(m);
    b->save_item = menu_item(m, "SaveItem", catmsg(1, 357, "Save..."), SaveCallback, nullptr,
                             "LumorSaveDialog");
    b->save_as_item = menu_item(m, "SaveAsItem", catmsg(1, 358, "Save As..."), SaveAsCallback,
                                reinterpret_cast<XtPointer>(5), "LumorSaveAsDialog");
    b->save_sel_item = menu_item(m, "SaveSelItem", catmsg(1, 359, "Save Selection As..."),
                                 SaveAsCallback, reinterpret_cast<XtPointer>(6),
                                 "LumorSaveSelectionAsDialog");
    b->save_page_item = menu_item(m, "SavePageItem", catmsg(1, 360, "Save Page As Image..."),
                                  SaveAsCallback, reinterpret_cast<XtPointer>(7),
                                  "LumorSavePageAsDialog");
    separator(m);
    b->snapshot_item = menu_item(m, "SnapshotItem", catmsg(1, 451, "Snapshot..."),
                                 PopupSnapshotCallback, nullptr, nullptr);
    separator(m);
    b->print_one_item = menu_item(m, "PrintOneItem", catmsg(1, 466, "Print Image"),
                                  PrintOneCallback, nullptr, "LumorFileMenu");
    b->print_doc_item = menu_item(m, "PrintDocItem", catmsg(1, 468, "Print Document"),
                                  PrintDocCallback, nullptr, "LumorFileMenu");
    XtUnmanageChild(b->print_doc_item);
    b->print_prev_item = menu_item(m, "PrintPrevItem", catmsg(1, 362, "Print Preview..."),
                                   PrintPrevCallback, nullptr, "LumorPrintPreviewDialog");
    b->print_item = menu_item(m, "PrintItem", catmsg(1, 363, "Print..."), PrintCallback, nullptr,
                              "LumorPrintDialog");
    separator(m);
    b->options_item = menu_item(m, "OptionsItem", catmsg(1, 364, "Options..."), PropsCallback,
                                nullptr, "LumorOptionsDialog");
    separator(m);
    b->exit_item = menu_item(m, "ExitItem", catmsg(1, 365, "Exit"), ExitCallback, nullptr,
                             "LumorFileMenu");
    for (Widget w : {b->save_item, b->save_as_item, b->save_sel_item, b->save_page_item,
                     b->print_one_item, b->print_prev_item, b->print_item})
        XtSetSensitive(w, False);
    return b->file_button;
}

Widget EditMenuCreate(BaseRec *b, Widget menu_bar)
{
    Widget m;
    b->edit_button = cascade(menu_bar, "EditButton", "EditMenu", catmsg(1, 370, "Edit"), &m,
                             "LumorEditMenu");
    b->edit_menu = m;
    b->undo_item = menu_item(m, "UndoItem", catmsg(1, 371, "Undo"), UndoCallback, nullptr,
                             "LumorEditMenu");
    separator(m);
    b->palette_item = menu_item(m, "PaletteItem", catmsg(1, 372, "Palette..."), PaletteCallback,
                                nullptr, "LumorPaletteDialog");
    XtSetSensitive(b->undo_item, False);
    XtSetSensitive(b->palette_item, False);
    return b->edit_button;
}

Widget ViewMenuCreate(BaseRec *b, Widget menu_bar)
{
    Widget m;
    b->view_button = cascade(menu_bar, "ViewButton", "ViewMenu", catmsg(1, 366, "View"), &m,
                             "LumorViewMenu");
    b->view_menu = m;
    b->image_info_item = menu_item(m, "ImageInfoItem", catmsg(1, 367, "Image Info..."),
                                   ImageInfoCallback, nullptr, "LumorImageInfoDialog");
    separator(m);
    b->overview_item = menu_item(m, "OverviewItem", catmsg(1, 368, "Page Overview..."),
                                 PgOverviewCallback, nullptr, "LumorPageOverviewDialog");
    b->controls_item = menu_item(m, "ControlsItem", catmsg(1, 369, "Page Viewing Controls..."),
                                 PgControlsCallback, nullptr, "LumorPageViewingControlsDialog");
    for (Widget w : {b->image_info_item, b->overview_item, b->controls_item})
        XtSetSensitive(w, False);
    return b->view_button;
}

Widget HelpMenuCreate(BaseRec *b, Widget menu_bar)
{
    Widget m;
    b->help_button = cascade(menu_bar, "HelpButton", "HelpMenu", catmsg(1, 373, "Help"), &m,
                             "LumorHelpMenu");
    menu_item(m, "OverviewItem", catmsg(1, 374, "Overview..."), HelpMenuCallback,
              reinterpret_cast<XtPointer>(7001), "LumorHelpMenu");
    separator(m);
    menu_item(m, "TasksItem", catmsg(1, 375, "Tasks..."), HelpMenuCallback,
              reinterpret_cast<XtPointer>(7003), "LumorHelpMenu");
    menu_item(m, "RefItem", catmsg(1, 376, "Reference..."), HelpMenuCallback,
              reinterpret_cast<XtPointer>(7004), "LumorHelpMenu");
    menu_item(m, "OnItem", catmsg(1, 377, "On Item"), HelpOnItemCallback,
              reinterpret_cast<XtPointer>(7006), "LumorHelpMenu");
    separator(m);
    menu_item(m, "UsingHelpItem", catmsg(1, 378, "Using Help..."), HelpMenuCallback,
              reinterpret_cast<XtPointer>(7007), "LumorHelpMenu");
    separator(m);
    menu_item(m, "AboutItem", catmsg(1, 379, "About Lumora..."), HelpAboutCallback, nullptr,
              "LumorHelpMenu");
    XtVaSetValues(menu_bar, XmNmenuHelpWidget, b->help_button, nullptr);
    return b->help_button;
}

BaseRec *BaseObjectsInitialize(BaseRec *b, Widget shell)
{
    b->app = XtWidgetToApplicationContext(shell);
    b->shell = shell;
    Display *dpy = XtDisplay(shell);
    Screen *screen = XtScreen(shell);

    // 1. Window-manager protocols: closing the window exits.
    Atom wm_delete = XmInternAtom(dpy, const_cast<char *>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(shell, wm_delete, ExitCallback, nullptr);
    XmRepTypeInstallTearOffModelConverter();

    // 2. Titles.
    if (appresources->title != nullptr) {
        XtVaSetValues(shell, XmNtitle, appresources->title, nullptr);
    } else {
        std::string title = std::string(catmsg(1, 433, "Lumora")) + " " + prog->rel;
        XtVaSetValues(shell, XmNtitle, title.c_str(), nullptr);
    }
    if (appresources->icon_name != nullptr)
        XtVaSetValues(shell, XmNiconName, appresources->icon_name, nullptr);

    // 3. The main window and its event handlers.
    b->main_window = XmCreateMainWindow(shell, const_cast<char *>("MainWindow"), nullptr, 0);
    if (b->main_window == nullptr)
        OutOfMemory();
    XtAddEventHandler(b->main_window, StructureNotifyMask | SubstructureNotifyMask, False,
                      MainWEventHandler, nullptr);
    XtAddEventHandler(b->main_window, NoEventMask, True, MainWClientMessageHandler, nullptr);

    // 4. The display records.
    if (ps_display == nullptr)
        ps_display = static_cast<DisplayRec *>(std::calloc(1, sizeof(DisplayRec)));
    if (image_display == nullptr)
        image_display = static_cast<DisplayRec *>(std::calloc(1, sizeof(DisplayRec)));
    if (ps_display == nullptr || image_display == nullptr)
        OutOfMemory();
    image_display->xdisplay = dpy;

    // 5. Never larger than the screen.
    XtVaSetValues(shell, XmNmaxWidth, WidthOfScreen(screen) - 30, XmNmaxHeight,
                  HeightOfScreen(screen) - 30, nullptr);

    // 6. The base form and the application icon in its colours.
    b->form = XtVaCreateWidget("BaseForm", xmFormWidgetClass, b->main_window, nullptr);
    XtAddEventHandler(b->form, StructureNotifyMask, False, FormEventHandler, nullptr);
    Pixel fg = 0, bg = 0;
    XtVaGetValues(b->form, XmNforeground, &fg, XmNbackground, &bg, nullptr);
    CreateApplicationIcon(shell, fg, bg);

    // 7. Menus.
    b->menu_bar = XmCreateMenuBar(b->form, const_cast<char *>("MenuBar"), nullptr, 0);
    XtVaSetValues(b->menu_bar, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                  XmNrightAttachment, XmATTACH_FORM, nullptr);
    FileMenuCreate(b, b->menu_bar);
    EditMenuCreate(b, b->menu_bar);
    ViewMenuCreate(b, b->menu_bar);
    HelpMenuCreate(b, b->menu_bar);

    // 8. The tool bar with the page controls.
    Widget frame = XtVaCreateWidget("ToolbarFrame", xmFrameWidgetClass, b->form, XmNtopAttachment,
                                    XmATTACH_WIDGET, XmNtopWidget, b->menu_bar, XmNleftAttachment,
                                    XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, nullptr);
    b->toolbar_form = XtVaCreateWidget("ToolBarForm", xmFormWidgetClass, frame, nullptr);
    XtAddEventHandler(b->toolbar_form, KeyPressMask, False, KeyEventHandler, nullptr);
    XmString text = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 381, "Page")));
    b->page_label = XtVaCreateManagedWidget("PageLabel", xmLabelWidgetClass, b->toolbar_form,
                                            XmNlabelString, text, XmNleftAttachment, XmATTACH_FORM,
                                            XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment,
                                            XmATTACH_FORM, nullptr);
    XmStringFree(text);
    b->page_scale = XtVaCreateManagedWidget(
        "PageScale", xmScaleWidgetClass, b->toolbar_form, XmNorientation, XmHORIZONTAL, XmNminimum,
        1, XmNmaximum, 100, XmNvalue, 1, XmNscaleWidth, 125, XmNscaleMultiple, 1, XmNshowValue,
        False, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, b->page_label, XmNleftOffset, 5,
        XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
    Dimension label_height = height_of(b->page_label);
    if (label_height > 21)
        XtVaSetValues(b->page_scale, XmNbottomOffset, label_height / 5, nullptr);
    XtAddCallback(b->page_scale, XmNdragCallback, PageSliderCallback, nullptr);
    XtAddCallback(b->page_scale, XmNvalueChangedCallback, PageSliderCallback, nullptr);
    text = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 382, "1")));
    b->page_number = XtVaCreateManagedWidget(
        "PageNumber", xmLabelWidgetClass, b->toolbar_form, XmNlabelString, text, XmNleftAttachment,
        XmATTACH_WIDGET, XmNleftWidget, b->page_scale, XmNleftOffset, 5, XmNtopAttachment,
        XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
    XmStringFree(text);
    bool mono = DefaultDepthOfScreen(screen) == 1;
    auto page_pixmap = [&](const char *name) {
        std::string file = std::string(name) + (mono ? ".bm" : ".pm");
        return load_icon(b->toolbar_form, file.c_str(), fg, bg);
    };
    b->pg_fwd_button = XtVaCreateManagedWidget(
        "PgFwdButton", xmPushButtonWidgetClass, b->toolbar_form, XmNlabelType, XmPIXMAP,
        XmNlabelPixmap, page_pixmap("ORvimage.pgR.s"), XmNlabelInsensitivePixmap,
        page_pixmap("ORvimage.pgRdim.s"), XmNrightAttachment, XmATTACH_FORM, XmNtopAttachment,
        XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
    b->pg_back_button = XtVaCreateManagedWidget(
        "PgBackButton", xmPushButtonWidgetClass, b->toolbar_form, XmNlabelType, XmPIXMAP,
        XmNlabelPixmap, page_pixmap("ORvimage.pgL.s"), XmNlabelInsensitivePixmap,
        page_pixmap("ORvimage.pgLdim.s"), XmNrightAttachment, XmATTACH_WIDGET, XmNrightWidget,
        b->pg_fwd_button, XmNrightOffset, 2, XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment,
        XmATTACH_FORM, nullptr);
    XtAddCallback(b->pg_fwd_button, XmNactivateCallback, PgfwdButtonCallback, nullptr);
    XtAddCallback(b->pg_back_button, XmNactivateCallback, PgbackButtonCallback, nullptr);
    for (Widget w : {b->page_label, b->page_scale, b->page_number, b->pg_fwd_button, b->pg_back_button})
        XtSetSensitive(w, False);
    XtManageChild(b->toolbar_form);
    XtManageChild(frame);

    // 10. The footers (made first: the scrolled window is attached above them).
    b->left_footer = XtVaCreateManagedWidget(
        "LeftFooter", xmLabelWidgetClass, b->form, XmNlabelString, nullptr, XmNleftAttachment,
        XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, XmNalignment, XmALIGNMENT_BEGINNING,
        nullptr);
    b->right_footer = XtVaCreateManagedWidget(
        "RightFooter", xmLabelWidgetClass, b->form, XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM, XmNalignment, XmALIGNMENT_END, nullptr);
    SetFooter(b->left_footer, "");
    SetFooter(b->right_footer, "");
    b->footer_height = static_cast<Dimension>(height_of(b->right_footer) + 5);

    // 9. The scrolled window, scrolled by the program itself.
    b->scrolled_window = XtVaCreateWidget(
        "ScrolledW", xmScrolledWindowWidgetClass, b->form, XmNscrollingPolicy, XmAPPLICATION_DEFINED,
        XmNscrollBarDisplayPolicy, XmSTATIC, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, frame,
        XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, XmNbottomAttachment,
        XmATTACH_FORM, XmNbottomOffset, b->footer_height, nullptr);
    XtAddEventHandler(b->scrolled_window, KeyPressMask, False, PropsKeyEventHandler, nullptr);
    b->vscrollbar = XtVaCreateManagedWidget("VerticalScrollbar", xmScrollBarWidgetClass,
                                            b->scrolled_window, XmNorientation, XmVERTICAL,
                                            XmNincrement, 15, nullptr);
    b->hscrollbar = XtVaCreateManagedWidget("HorizontalScrollbar", xmScrollBarWidgetClass,
                                            b->scrolled_window, XmNorientation, XmHORIZONTAL,
                                            XmNincrement, 15, nullptr);
    XtVaSetValues(b->scrolled_window, XmNverticalScrollBar, b->vscrollbar, XmNhorizontalScrollBar,
                  b->hscrollbar, nullptr);
    for (auto [bar, which] : {std::pair{b->vscrollbar, 1}, std::pair{b->hscrollbar, 2}}) {
        XtAddCallback(bar, XmNdragCallback, ScrollBarCallback, reinterpret_cast<XtPointer>(which));
        XtAddCallback(bar, XmNvalueChangedCallback, ScrollBarCallback,
                      reinterpret_cast<XtPointer>(which));
    }
    register_drop_site(b->scrolled_window);

    // 11. Help.
    for (Widget w : {b->form, b->menu_bar, b->scrolled_window, b->vscrollbar, b->hscrollbar,
                     b->left_footer, b->right_footer})
        set_help(w, "LumorViewWindow");
    for (Widget w : {b->page_label, b->page_scale, b->pg_fwd_button, b->pg_back_button})
        set_help(w, "PagingThroughTA");

    // 12. Manage, and remember the allowances.
    XtManageChild(b->menu_bar);
    XtManageChild(b->scrolled_window);
    XtManageChild(b->form);
    XtManageChild(b->main_window);
    b->footer_height = static_cast<Dimension>(height_of(b->right_footer) + 5);
    b->scrollbar_allowance = static_cast<Dimension>(width_of(b->vscrollbar) + 4);

    // 13. The smallest useful window.
    Dimension buttons = static_cast<Dimension>(width_of(b->file_button) + width_of(b->edit_button) +
                                               width_of(b->view_button) + width_of(b->help_button) + 65);
    Dimension tools = static_cast<Dimension>(width_of(b->page_label) + 125 + width_of(b->page_number) +
                                             width_of(b->pg_fwd_button) + width_of(b->pg_back_button) + 22);
    Dimension min_height = static_cast<Dimension>(b->footer_height + height_of(b->file_button) +
                                                  height_of(b->pg_back_button) + 70);
    XtVaSetValues(shell, XmNminWidth, std::max(buttons, tools), XmNminHeight, min_height, nullptr);
    return b;
}

double visual_gamma(Display *, VisualID)
{
    return 1.0;
}

int get_first_linear_visual(Display *display, int screen, int klass, XVisualInfo *info)
{
    XVisualInfo tmpl;
    tmpl.screen = screen;
    tmpl.c_class = klass;
    int n = 0;
    XVisualInfo *list = XGetVisualInfo(display, VisualScreenMask | VisualClassMask, &tmpl, &n);
    int found = 0;
    for (int i = 0; i < n && !found; i++)
        if (visual_gamma(display, list[i].visualid) == 1.0) {
            *info = list[i];
            found = 1;
        }
    if (list != nullptr)
        XFree(list);
    return found;
}

void BaseImageCanvasObjectsCreate(BaseRec *b)
{
    Display *dpy = XtDisplay(b->shell);
    int screen = DefaultScreen(dpy);

    // 1-3. The visual the settings ask for, or the scrolled window's.
    int depth = canvas_depth_value();
    int klass = canvas_visual_class(depth);
    XVisualInfo vi = {};
    bool found = false;
    if (appresources->linear) {
        found = get_first_linear_visual(dpy, screen, klass, &vi) != 0;
        if (!found)
            appresources->linear = False;
    }
    if (!found)
        found = XMatchVisualInfo(dpy, screen, depth, klass, &vi) != 0;
    if (!found) {
        int sw_depth = 0;
        XtVaGetValues(b->scrolled_window, XmNdepth, &sw_depth, nullptr);
        found = XMatchVisualInfo(dpy, screen, sw_depth, DefaultVisual(dpy, screen)->c_class, &vi) != 0;
        depth = sw_depth;
        if (!found)
            std::fputs(catmsg(1, 383, "Could not find visual to display image.\n"), stderr);
    }

    // 4. The canvas, as large as the visible area.
    Dimension sw_width = width_of(b->scrolled_window), sw_height = height_of(b->scrolled_window);
    Dimension allowance = b->scrollbar_allowance;
    Arg args[4];
    Cardinal n = 0;
    if (found) {
        XtSetArg(args[n], XmNvisual, vi.visual);
        n++;
        XtSetArg(args[n], XmNdepth, vi.depth);
        n++;
    }
    XtSetArg(args[n], XmNwidth, sw_width > allowance ? sw_width - allowance : 1);
    n++;
    XtSetArg(args[n], XmNheight, sw_height > allowance ? sw_height - allowance : 1);
    n++;
    b->canvas = XmCreateDrawingAreaVis(b->scrolled_window, "Canvas", args, n);
    XtAddCallback(b->canvas, XmNexposeCallback, CanvasRepaintCallback, nullptr);
    XtAddCallback(b->canvas, XmNresizeCallback, CanvasResizeCallback, nullptr);
    XtAddCallback(b->canvas, XmNinputCallback, CanvasInputCallback, nullptr);
    set_help(b->canvas, "LumorViewWindow");
    XtAddEventHandler(b->canvas, KeyPressMask, False, PropsKeyEventHandler, nullptr);
    XtAddEventHandler(b->canvas, Button1MotionMask, False, SelectEventHandler, nullptr);
    XtManageChild(b->canvas);
    XtVaSetValues(b->scrolled_window, XmNworkWindow, b->canvas, nullptr);
    if (XtIsRealized(b->canvas))
        XLowerWindow(dpy, XtWindow(b->canvas));

    // 5. The imaging library.
    if (vela_open_for_display() != 0) {
        AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_WARNING, ALERT_TITLE,
                    catmsg(1, 6, "Lumora"), ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL,
                    ALERT_MESSAGE, catmsg(1, 384, "Unable to open VELA Library."), ALERT_BUTTON, 0,
                    catmsg(1, 108, "Continue"), ALERT_HELP, "LumorOpenDialog", 0);
        return;
    }

    // 6. The display record.
    DisplayRec *d = image_display;
    Colormap cmap = 0;
    int real_depth = 0;
    XtVaGetValues(b->canvas, XmNcolormap, &cmap, XmNdepth, &real_depth, nullptr);
    d->depth = real_depth;
    d->cmap = cmap;
    d->visual = found ? vi.visual : DefaultVisual(dpy, screen);
    d->canvas = b->canvas;
    d->win = XtWindow(b->canvas);
    d->xdisplay = dpy;
    d->hres = static_cast<float>(DisplayWidth(dpy, screen) / (DisplayWidthMM(dpy, screen) / 25.4));
    d->vres = static_cast<float>(DisplayHeight(dpy, screen) / (DisplayHeightMM(dpy, screen) / 25.4));
    d->width = width_of(b->canvas);
    d->height = height_of(b->canvas);

    // 7. The plain, background and rubber-band graphics contexts.
    if (!found) {
        vi.visual = d->visual;
        vi.c_class = d->visual->c_class;
        vi.red_mask = d->visual->red_mask;
        vi.green_mask = d->visual->green_mask;
        vi.blue_mask = d->visual->blue_mask;
    }
    if (d->win != 0) {
        XGCValues v;
        v.foreground = grey_pixel(dpy, vi, cmap, 0xffff);
        v.background = grey_pixel(dpy, vi, cmap, 0);
        d->gc = XCreateGC(dpy, d->win, GCForeground | GCBackground, &v);
        unsigned long grey = grey_pixel(dpy, vi, cmap, 0xe6e6);
        v.foreground = grey;
        v.fill_style = FillOpaqueStippled;
        v.stipple = create_stipple_pixmap(dpy, d->win);
        d->bg_gc = XCreateGC(dpy, d->win, GCForeground | GCBackground | GCFillStyle | GCStipple, &v);
        XGCValues x;
        x.function = GXxor;
        x.foreground = grey_pixel(dpy, vi, cmap, 0x9c40);
        x.background = grey_pixel(dpy, vi, cmap, 0);
        x.line_width = 2;
        x.line_style = LineDoubleDash;
        d->xor_gc = XCreateGC(dpy, d->win,
                              GCFunction | GCForeground | GCBackground | GCLineWidth | GCLineStyle, &x);
        for (float &bgv : d->background)
            bgv = d->depth == 24 ? 230.0f : static_cast<float>(grey);
    }

    // 8. A canvas with its own colormap shows it.
    if (d->depth != 24 && d->win != 0 && cmap != 0)
        XSetWindowColormap(dpy, d->win, cmap);
    prog->image_canvas_created = 1;
}

void ExitCallback(Widget, XtPointer, XtPointer)
{
    if (!SaveUnsavedSnapshot())
        return;
    if (current_image != nullptr && is_postscript(current_image->type))
        close_ps(1, 1);
    if (TTFailMessage())
        std::exit(0);
}
