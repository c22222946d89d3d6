// tmpdir.cc - the private temporary folder.
#include "app/tmpdir.h"

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

std::string &dir_path()
{
    static std::string path;
    return path;
}

} // namespace

const std::string &private_tmpdir()
{
    std::string &path = dir_path();
    if (!path.empty())
        return path;
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = (base != nullptr && *base != '\0') ? base : "/tmp";
    tmpl += "/orvimage.XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        return path;
    path = tmpl;
    std::atexit(remove_private_tmpdir);
    return path;
}

void remove_private_tmpdir()
{
    std::string &path = dir_path();
    if (path.empty())
        return;
    // Only our own flat files live here, so one level is enough.
    if (DIR *d = opendir(path.c_str())) {
        while (struct dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                unlink((path + "/" + n).c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
    path.clear();
}
