// events.h - the event handlers of the main window and the canvases:
// paging keys, the Options key, panning and the selection rubber band,
// scroll-bar management when the window changes size.
#pragma once

#include <X11/Intrinsic.h>

void MainWEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void MainWClientMessageHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void CanvasEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void KeyEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void PropsKeyEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void CanvasInputCallback(Widget w, XtPointer client, XtPointer call);
void SelectEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
void FormEventHandler(Widget w, XtPointer client, XEvent *event, Boolean *cont);
// Unmanages a scroll bar and sets its value to 0.
void DetachScrollbar(Widget bar);
void AttachScrollbar(Widget bar);
