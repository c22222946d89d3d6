// palette.h - the tool palette of view transforms: pan, select, flips,
// rotation and zoom with their spin boxes and scales, revert.
#pragma once

#include <X11/Intrinsic.h>

struct ViewState;

struct PaletteRec {
    Widget shell;               // "PaletteShell"
    Widget form;                // "PaletteForm"
    Widget pan_button;          // "PanButton"
    Widget select_button;       // "SelectButton"
    Widget vflip_button;        // "VFlipButton"
    Widget hflip_button;        // "HFlipButton"
    Widget rotate_r_button;     // "RotateRButton"
    Widget rotate_l_button;     // "RotateLButton"
    Widget rotate_spin;         // "RotateSpinBox"
    Widget rotate_scale;        // "RotateScale"
    Widget zoom_button;         // "ZoomButton"
    Widget zoom_spin;           // "ZoomSpinBox"
    Widget zoom_scale;          // "ZoomScale"
    Widget revert_button;       // "PaletteRevertButton"
    Widget cancel_button;       // "PaletteCancelButton"
    Widget help_button;         // "PaletteHelpButton"
    int showing;
};

extern PaletteRec *palette;     // nullptr until first use

// Builds the palette (once).
void PaletteObjectsInitialize(Widget parent);
// Sets the palette's zoom and rotation positions (nothing without a palette).
void palette_set_positions(int zoom, int rotation);
// Gives a new view state the pan and select modes the palette shows.
void palette_modes_for(ViewState *state);
// Opens the palette with the first document when the settings ask for it.
void palette_at_start();
// True when a drawn button of the palette shows pressed.
bool button_pressed(Widget button);
void show_pressed(Widget button, bool pressed);
// The pan cursor (a four-way arrow), made once.
Cursor pan_cursor();

void PaletteCancelCallback(Widget w, XtPointer client, XtPointer call);
