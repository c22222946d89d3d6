// paths.cc - installed data and program locations.
#include "app/paths.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

const std::string &exe_dir()
{
    static const std::string dir = [] {
        char buf[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n <= 0)
            return std::string(".");
        std::string p(buf, static_cast<size_t>(n));
        size_t slash = p.rfind('/');
        return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
    }();
    return dir;
}

const std::string &share_dir()
{
    static const std::string dir = [] {
        const char *env = std::getenv("ORVIMAGE_SHARE");
        if (env != nullptr && *env != '\0')
            return std::string(env);
        return exe_dir() + "/../share/orvimage";
    }();
    return dir;
}
