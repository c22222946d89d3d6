// DrawingAVis.h - XmDrawingAreaVis, a Motif drawing area that carries its
// own X visual and colormap, so that a picture can be shown in a visual
// other than the shell's.  A realised instance with an explicit visual is
// listed in its shell's WM_COLORMAP_WINDOWS.
#pragma once

#include <Xm/DrawingA.h>

extern "C" {
extern WidgetClass xmDrawingAreaVisWidgetClass;
}

// Resource: XmNvisual (class XmCVisual, type Visual*); 0 copies the
// parent's visual.  It cannot be changed after creation.

// Returns a new (unmanaged) XmDrawingAreaVis.
Widget XmCreateDrawingAreaVis(Widget parent, const char *name, ArgList args, Cardinal count);

// The widgets listed in the shell's colormap-window list, newest first.
int colormap_windows_of(Widget shell, Widget **widgets);
