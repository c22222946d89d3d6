// fileui.h - the Open and Open As dialogs.
#pragma once

#include <X11/Intrinsic.h>

struct FormatEntry;

struct OpenAsRec {
    Widget shell;               // "OpenAsShell"
    Widget dialog;              // "OpenAsDialog"
    Widget label;               // "FileFormatLabel"
    Widget list;                // "PrinterList"
    int showing;
};

extern Widget open_dialog;      // "OpenDialog", or nullptr before first use
extern int open_showing;
extern OpenAsRec *openas;       // nullptr before first use

// Returns a file selection box in a dialog shell, as every file dialog of
// the viewer has it: the current directory, relative names, modal.
Widget file_box(const char *shell_name, const char *box_name, const char *title,
                XtCallbackProc ok, XtCallbackProc cancel, const char *help, int *showing);

void OpenOKCallback(Widget w, XtPointer client, XtPointer call);
void OpenAsOKCallback(Widget w, XtPointer client, XtPointer call);
void OpenCancelCallback(Widget w, XtPointer client, XtPointer call);
void OpenAsCancelCallback(Widget w, XtPointer client, XtPointer call);

// Fills a format list with the display names of the given rows, sorted;
// selects "Kestrel Raster" at the top.  only_writable keeps the rows that
// have a save function.
void set_format_list(Widget list, bool only_writable);
void set_openas_list(Widget list);
// Inserts name keeping the list sorted by strcoll.
void InsertInList(Widget list, const char *name);
// Returns the row whose display name is the item at the 0-based position.
FormatEntry *GetFileFormat(Widget list, int position);
// Puts name in the box's text field and selects it in the file list.
void SetCurrentDoc(Widget box, const char *name);
// Refreshes the Open and Open As dialogs showing the folder dir.
void reread_open_choosers(const char *dir);
