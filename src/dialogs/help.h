// help.h - the help system: topics of the help volume "Orvimage", item
// help and the About box.
#pragma once

#include <X11/Intrinsic.h>

// Shows the help topic for a help location (the home topic when the
// volume has none of that name).
void help_dispatch(Widget w, const char *location);
// True when the help volume is installed, so Help buttons can be offered.
bool help_available();
// The location the help dialog shows, or nullptr when it is not showing.
const char *help_current_location();
// The nearest widget from w upwards that has help callbacks, or nullptr.
Widget help_ancestor_with_help(Widget w);
// Help callback of a widget: shows the topic named by client (a location).
void HelpItemCallback(Widget w, XtPointer client, XtPointer call);
