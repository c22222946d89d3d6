// help.cc - finding help topics.
#include "dialogs/help.h"

#include <string>
#include <sys/stat.h>

#include "app/paths.h"

// Returns the folder of the help volume.
static std::string help_volume()
{
    return share_dir() + "/help/Orvimage";
}

bool help_available()
{
    struct stat st;
    return stat(help_volume().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void help_dispatch(Widget, const char *)
{
}
