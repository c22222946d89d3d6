// ui_corvat.h - the main window: menus, tool bar, scrolled canvas, footers,
// and the two canvases made on demand.
#pragma once

#include <X11/Intrinsic.h>
#include <Xm/Xm.h>

struct BaseRec {
    XtAppContext app;
    Widget shell;
    Widget main_window;         // "MainWindow"
    Widget form;                // "BaseForm"
    Widget toolbar_form;        // "ToolBarForm"
    Widget menu_bar;            // "MenuBar"
    Widget file_button, file_menu;
    Widget open_item, open_as_item, save_item, save_as_item, save_sel_item, save_page_item;
    Widget print_one_item, print_doc_item, print_prev_item, print_item, exit_item;
    Widget view_button, view_menu;
    Widget image_info_item, overview_item, controls_item;
    Widget edit_button, edit_menu;
    Widget undo_item, palette_item;
    Widget options_item, snapshot_item;
    Widget help_button;
    Widget page_label;          // "PageLabel"
    Widget page_scale;          // "PageScale"
    Widget page_number;         // "PageNumber"
    Widget pg_fwd_button, pg_back_button;
    Widget scrolled_window;     // "ScrolledW"
    Widget canvas;              // "Canvas"
    Widget hscrollbar, vscrollbar;
    Widget ps_canvas;           // "PSCanvas"
    Widget left_footer, right_footer;
    Dimension footer_height;    // right footer's height + 5
    Dimension scrollbar_allowance; // vertical scroll bar's width + 4
    Dimension frame_allowance;  // main window height minus scrolled window height
};

extern BaseRec *base;

// Builds the main window in the shell; returns the record.
BaseRec *BaseObjectsInitialize(BaseRec *b, Widget shell);
Widget FileMenuCreate(BaseRec *b, Widget menu_bar);
Widget EditMenuCreate(BaseRec *b, Widget menu_bar);
Widget ViewMenuCreate(BaseRec *b, Widget menu_bar);
Widget HelpMenuCreate(BaseRec *b, Widget menu_bar);
// Sets the shell's icon pixmap and mask from the "ORvimage" icon files.
void CreateApplicationIcon(Widget shell, Pixel foreground, Pixel background);
// Creates the image canvas and opens the imaging library for it; sets the
// program record's image-canvas-created flag on success.
void BaseImageCanvasObjectsCreate(BaseRec *b);
// 1 and the visual's information when the screen has a visual of the class
// whose gamma is exactly 1.0; 0 otherwise.
int get_first_linear_visual(Display *display, int screen, int klass, XVisualInfo *info);
// Returns the shared 16 x 16 stipple bitmap of the canvases.
Pixmap create_stipple_pixmap(Display *display, Window window);

// Returns the path of an installed icon or pixmap file, "" when missing.
const char *icon_path(const char *name);
// Loads an icon file as a pixmap in the given colours (XPM or bitmap by
// suffix); XmUNSPECIFIED_PIXMAP when it cannot.
Pixmap load_icon(Widget w, const char *name, Pixel foreground, Pixel background);

// Tells the user that a part of the program is not available yet.
void not_available_alert(const char *what);

// The server's gamma of a visual.  This server has no gamma query, so every
// visual counts as linear (1.0).
double visual_gamma(Display *display, VisualID visual);

void ExitCallback(Widget w, XtPointer client, XtPointer call);
