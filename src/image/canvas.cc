// canvas.cc - the document canvas.
#include "image/canvas.h"

#include <Xm/Xm.h>

#include <string>

#include "app/corvat.h"

void set_labels(const char *name)
{
    if (app_shell == nullptr)
        return;
    std::string title = std::string(prog->name) + " - " + name;
    if (appresources->title == nullptr)
        XtVaSetValues(app_shell, XmNtitle, title.c_str(), nullptr);
    if (appresources->icon_name == nullptr)
        XtVaSetValues(app_shell, XmNiconName, prog->name, nullptr);
}

void view_state_created(ViewState *)
{
}
