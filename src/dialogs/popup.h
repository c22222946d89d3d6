// popup.h - where dialogs appear.
#pragma once

#include <X11/Intrinsic.h>

// Places a dialog shell beside the main window, kept on the screen.
void PositionPopup(Widget shell);
