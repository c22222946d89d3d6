// props_dialog.cc - the Options dialog.
#include "app/menus.h"
#include "app/ui_corvat.h"

void PropsCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("The Options dialog");
}
