// popup.cc - dialog placement beside the main window.
#include "dialogs/popup.h"

#include <Xm/Xm.h>

#include "app/corvat.h"

void PositionPopup(Widget shell)
{
    if (app_shell == nullptr || !XtIsRealized(app_shell))
        return;
    Position x = 0, y = 0;
    Dimension w = 0, h = 0, sw = 0, sh = 0;
    XtVaGetValues(app_shell, XmNx, &x, XmNy, &y, XmNwidth, &w, XmNheight, &h, nullptr);
    XtVaGetValues(shell, XmNwidth, &sw, XmNheight, &sh, nullptr);
    Screen *screen = XtScreen(app_shell);
    int nx = x + w + 10;
    if (nx + sw > WidthOfScreen(screen))
        nx = x - sw - 10;
    if (nx < 0)
        nx = 0;
    int ny = y;
    if (ny + sh > HeightOfScreen(screen))
        ny = HeightOfScreen(screen) - sh;
    if (ny < 0)
        ny = 0;
    XtVaSetValues(shell, XmNx, static_cast<Position>(nx), XmNy, static_cast<Position>(ny), nullptr);
}
