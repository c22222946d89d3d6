// print.cc - printing through the system's print service.
#include "app/menus.h"
#include "app/ui_corvat.h"

void PrintOneCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Printing");
}

void PrintDocCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Printing");
}

void PrintPrevCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Print preview");
}

void PrintCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("Printing");
}
