// help.h - the help system: topics of the help volume "Orvimage".
#pragma once

#include <X11/Intrinsic.h>

// Shows the help topic for a help location.
void help_dispatch(Widget w, const char *location);
// True when the help volume is installed, so Help buttons can be offered.
bool help_available();
