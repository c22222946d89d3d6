// snap.cc - snapshots of windows, regions and the screen.
#include "app/menus.h"
#include "app/ui_corvat.h"

void PopupSnapshotCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Taking snapshots");
}

// No snapshot can be taken yet, so none is ever unsaved.
int SaveUnsavedSnapshot()
{
    return 1;
}
