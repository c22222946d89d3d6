// alert.h - modal alerts and the showing and hiding of dialogs.
#pragma once

#include <Xm/Xm.h>

#include <cstddef>

// Keys of AlertPrompt's argument list.
enum {
    ALERT_TYPE = 1,       // int: XmDIALOG_ERROR, XmDIALOG_QUESTION or XmDIALOG_WARNING
    ALERT_TITLE = 2,      // const char *
    ALERT_STYLE = 3,      // int: dialog style, e.g. XmDIALOG_FULL_APPLICATION_MODAL
    ALERT_LIST_LINES = 4, // int: visible lines of a scrolled list
    ALERT_LIST_TEXT = 5,  // const char *: lines for the list, split at '\n'
    ALERT_MESSAGE = 6,    // const char *
    ALERT_BUTTON = 7,     // int answer, const char *label
    ALERT_HELP = 8        // const char *: help location
};

// Shows a modal message dialog "DialogPopup" built from key/value pairs
// ending with 0 and waits in a nested event loop.  Returns the answer of the
// button pressed, 0 when the window manager closes it.  Without a display
// the message goes to standard error and the first button's answer is
// returned.
int AlertPrompt(Widget parent, ...);

// Returns the widget alerts are parented to: the main shell, or nullptr
// when the program runs without a display.
Widget alert_parent();

// Pops the dialog's shell up next to the main window (if not yet showing).
void ShowDialog(Widget dialog, int showing);
// Pops the dialog's shell down.
void DismissDialog(Widget dialog);
// Structure-notify handler for dialog shells; client data points to the
// dialog's showing flag (an int), which follows MapNotify and UnmapNotify.
void PopupEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);

// Copies the text of a compound string into buffer (size bytes, always
// terminated; longer texts are cut).  Returns buffer.
char *ConvertCompoundToChar(XmString string, char *buffer, size_t size = 1024);
