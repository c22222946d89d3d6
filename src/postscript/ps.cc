// ps.cc - PostScript documents: paging and the interpreter.
#include "app/menus.h"
#include "app/ui_corvat.h"
#include "postscript/paging.h"

// PostScript documents do not open yet, so no page control is ever
// sensitive and there is no interpreter to stop.
void PageSliderCallback(Widget, XtPointer, XtPointer) {}
void PgfwdButtonCallback(Widget, XtPointer, XtPointer) {}
void PgbackButtonCallback(Widget, XtPointer, XtPointer) {}
void close_ps(int, int) {}

void PgOverviewCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("The page overview");
}

void PgControlsCallback(Widget, XtPointer, XtPointer)
{
    not_available_alert("The page viewing controls");
}

// Without a PostScript document there is no page to turn.
void next_page() {}
void prev_page() {}
void first_page() {}
void last_page() {}
