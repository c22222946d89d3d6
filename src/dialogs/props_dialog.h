// props_dialog.h - the Options dialog.
#pragma once

#include <X11/Intrinsic.h>

struct PropertiesRec {
    Widget shell;               // "PropsShell"
    Widget dialog;              // "PropsDialog"
    Widget form;                // "PropsForm"
    Widget radio1, radio2, radio3; // "PropsRadio1" .. "PropsRadio3"
    Widget gray_button, color_button;      // nullptr when the screen lacks them
    Widget bw, c16, c256, thousands, millions;
    Widget color_ps_toggle, bw_ps_toggle;
    Widget opendoc_button;
    Widget ok_button, apply_button, reset_button, cancel_button, help_button;
    int showing;
};
extern PropertiesRec *properties; // nullptr until first use

void PropertiesObjectsInitialize(Widget parent);
// Shows the current settings in the dialog.
void PropsSetValues(Widget dialog);
// The dialog's choices as setting values.
const char *PropsViewValue();
const char *PropsColorValue();
const char *PropsPSValue();
// What closing the window through the window manager does.
void props_quit(Widget w);
