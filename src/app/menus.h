// menus.h - the callbacks of the main window's menus and controls.  Each
// lives with the part of the program it opens; this header gathers them
// for the window that installs them.
#pragma once

#include <X11/Intrinsic.h>

// File menu.
void OpenCallback(Widget w, XtPointer client, XtPointer call);
void OpenAsCallback(Widget w, XtPointer client, XtPointer call);
void SaveCallback(Widget w, XtPointer client, XtPointer call);
void SaveAsCallback(Widget w, XtPointer client, XtPointer call); // client: 5, 6 or 7
void PopupSnapshotCallback(Widget w, XtPointer client, XtPointer call);
void PrintOneCallback(Widget w, XtPointer client, XtPointer call);
void PrintDocCallback(Widget w, XtPointer client, XtPointer call);
void PrintPrevCallback(Widget w, XtPointer client, XtPointer call);
void PrintCallback(Widget w, XtPointer client, XtPointer call);
void PropsCallback(Widget w, XtPointer client, XtPointer call);
// Edit menu.
void UndoCallback(Widget w, XtPointer client, XtPointer call);
void PaletteCallback(Widget w, XtPointer client, XtPointer call);
// View menu.
void ImageInfoCallback(Widget w, XtPointer client, XtPointer call);
void PgOverviewCallback(Widget w, XtPointer client, XtPointer call);
void PgControlsCallback(Widget w, XtPointer client, XtPointer call);
// Help menu.
void HelpMenuCallback(Widget w, XtPointer client, XtPointer call); // client: 7001..7007
void HelpOnItemCallback(Widget w, XtPointer client, XtPointer call);
void HelpAboutCallback(Widget w, XtPointer client, XtPointer call);
// Page controls of the tool bar.
void PageSliderCallback(Widget w, XtPointer client, XtPointer call);
void PgfwdButtonCallback(Widget w, XtPointer client, XtPointer call);
void PgbackButtonCallback(Widget w, XtPointer client, XtPointer call);

// Asks whether an unsaved snapshot may be dropped; 1 to go on, 0 to stop.
int SaveUnsavedSnapshot();
// Stops the PostScript side.
void close_ps(int destroy_context, int kill_counter);
// Answers the desktop-messaging side before exiting; 1 when the program
// may end.
int TTFailMessage();
// Makes the widget accept dropped files.
void register_drop_site(Widget w);
// Opens the file dropped on the window.
void DndOpenFile();
