// msg.cc - message catalog access with built-in defaults.
#include "app/msg.h"

#include <cstdlib>
#include <string>

#include "app/corvat.h"
#include "app/paths.h"

const char *catmsg(int set, int number, const char *dflt)
{
    if (prog == nullptr || prog->catalog == (nl_catd)-1 || prog->catalog == nullptr)
        return dflt;
    return catgets(prog->catalog, set, number, dflt);
}

nl_catd open_catalog(const char *name)
{
    // The installed catalogs live in <prefix>/share/orvimage/nls/<locale>;
    // add that folder after whatever the user's NLSPATH already names.
    std::string ours = share_dir() + "/nls/%L/%N.cat:" + share_dir() + "/nls/C/%N.cat";
    const char *old = std::getenv("NLSPATH");
    std::string path = (old != nullptr && *old != '\0') ? std::string(old) + ":" + ours : ours;
    setenv("NLSPATH", path.c_str(), 1);
    return catopen(name, NL_CAT_LOCALE);
}
