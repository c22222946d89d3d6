// tessera.cc - the legacy settings functions: the per-user settings file,
// the merged resource database, resource names, saving, path expansion and
// the double-click test.
#include "dialogs/tessera.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Name and class are built in buffers of this many bytes, NUL included.
constexpr size_t kSpecifierSize = 120;

// Writes "<prefix>.<app>.<name>" into buf with the first letter of app (and,
// for classes, of name) turned to the given case.  Returns false when the
// result does not fit or a word is empty.
bool build_specifier(char (&buf)[kSpecifierSize], const char *prefix, const char *app,
                     const char *name, bool is_class)
{
    if (app == nullptr || name == nullptr || app[0] == '\0' || name[0] == '\0')
        return false;
    unsigned char a = static_cast<unsigned char>(app[0]);
    unsigned char n = static_cast<unsigned char>(name[0]);
    char app_first = static_cast<char>(is_class ? std::toupper(a) : std::tolower(a));
    char name_first = static_cast<char>(is_class ? std::toupper(n) : n);
    int len = std::snprintf(buf, sizeof buf, "%s.%c%s.%c%s", prefix, app_first, app + 1, name_first,
                            name + 1);
    return len > 0 && static_cast<size_t>(len) < sizeof buf;
}

// Returns the user's home folder: HOME when set and not empty, else the
// password entry's; empty when neither is known.
std::string home_dir()
{
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    struct passwd *pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

// Returns the environment variable's value expanded, or empty when it is
// unset or empty.
std::string env_path(const char *variable)
{
    const char *value = std::getenv(variable);
    if (value == nullptr || value[0] == '\0')
        return {};
    return ts_expand_path(value);
}

bool is_name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Merges the file into *db, its entries overriding.  A missing or
// unreadable file adds nothing, as for any optional resource file.
void combine_file(const std::string &path, XrmDatabase *db)
{
    if (!path.empty())
        XrmCombineFileDatabase(path.c_str(), db, True);
}

// Appends one entry of a database as "<bindings and quarks>\n<value>".
Bool collect_entry(XrmDatabase *, XrmBindingList bindings, XrmQuarkList quarks, XrmRepresentation *type,
                   XrmValue *value, XPointer closure)
{
    auto *out = reinterpret_cast<std::vector<std::string> *>(closure);
    std::string entry;
    for (int i = 0; quarks[i] != NULLQUARK; i++) {
        entry += bindings[i] == XrmBindLoosely ? '*' : '.';
        entry += XrmQuarkToString(quarks[i]);
    }
    entry += '\n';
    entry += XrmQuarkToString(*type);
    entry += '\n';
    if (value->addr != nullptr)
        entry.append(value->addr, value->size);
    out->push_back(std::move(entry));
    return False;
}

// Returns every entry of db in a canonical order.
std::vector<std::string> database_entries(XrmDatabase db)
{
    std::vector<std::string> entries;
    if (db != nullptr) {
        XrmQuark empty = NULLQUARK;
        XrmEnumerateDatabase(db, &empty, &empty, XrmEnumAllLevels, collect_entry,
                             reinterpret_cast<XPointer>(&entries));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Returns true when the file reads back as exactly the entries of db.
bool file_holds(const std::string &path, XrmDatabase db)
{
    XrmDatabase back = XrmGetFileDatabase(path.c_str());
    std::vector<std::string> want = database_entries(db);
    std::vector<std::string> got = database_entries(back);
    if (back != nullptr)
        XrmDestroyDatabase(back);
    // An empty database is written as an empty file, which reads as none.
    return back != nullptr ? got == want : want.empty();
}

// Writes db to a new file beside target and renames it over target.  mode
// (and owner, when target exists) are given to the new file.  Returns true
// when target now holds db.
bool replace_file(const std::string &target, XrmDatabase db, mode_t mode, const struct stat *old)
{
    size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp = dir + "/." + base + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    tmp = name.data();
    bool ok = close(fd) == 0;
    if (ok) {
        // XrmPutFileDatabase reports nothing, so the result is read back and
        // compared, and made durable before it replaces the old file.
        if (db != nullptr)
            XrmPutFileDatabase(db, tmp.c_str());
        ok = file_holds(tmp, db);
    }
    if (ok) {
        // The old file's mode only now: it may lack the owner's write bit.
        int rfd = open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
        ok = rfd >= 0 && fsync(rfd) == 0 && fchmod(rfd, mode) == 0;
        if (ok && old != nullptr && (old->st_uid != geteuid() || old->st_gid != getegid())) {
            // Keep the file's owner when we may (root editing a user's file);
            // when we may not, the new file stays ours, which is what writing
            // it means.
            int kept = fchown(rfd, old->st_uid, old->st_gid);
            static_cast<void>(kept);
        }
        if (rfd >= 0 && close(rfd) != 0)
            ok = false;
    }
    if (ok)
        ok = rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(tmp.c_str());
    return ok;
}

} // namespace

const char *ts_get_resource(XrmDatabase db, const char *app, const char *name)
{
    char res_name[kSpecifierSize], res_class[kSpecifierSize];
    if (db == nullptr || !build_specifier(res_name, "tessera", app, name, false) ||
        !build_specifier(res_class, "Tessera", app, name, true))
        return nullptr;
    char *type = nullptr;
    XrmValue value = {0, nullptr};
    if (!XrmGetResource(db, res_name, res_class, &type, &value) || value.addr == nullptr)
        return nullptr;
    return value.addr;
}

void ts_put_resource(XrmDatabase *db, const char *app, const char *name, const char *value)
{
    char res_name[kSpecifierSize];
    if (db == nullptr || value == nullptr || !build_specifier(res_name, "tessera", app, name, false))
        return;
    XrmInitialize();
    XrmPutStringResource(db, res_name, value);
}

std::string ts_defaults_path()
{
    std::string path = env_path("TESSERADEFAULTS");
    if (!path.empty())
        return path;
    std::string home = home_dir();
    return home.empty() ? std::string() : home + "/.tesseradefaults";
}

XrmDatabase ts_load_tessera_defs()
{
    std::string path = ts_defaults_path();
    if (path.empty())
        return nullptr;
    XrmInitialize();
    return XrmGetFileDatabase(path.c_str());
}

XrmDatabase ts_merge_resources(const char *server_string)
{
    XrmInitialize();
    XrmDatabase db = nullptr;
    std::string home = home_dir();

    std::string kelda = env_path("KELDAHOME");
    if (!kelda.empty())
        combine_file(kelda + "/lib/app-defaults/Tessera", &db);

    if (server_string != nullptr) {
        XrmDatabase server = XrmGetStringDatabase(server_string);
        if (server != nullptr)
            XrmMergeDatabases(server, &db);
    } else if (!home.empty()) {
        combine_file(home + "/.Xdefaults", &db);
    }

    std::string xenv = env_path("XENVIRONMENT");
    if (!xenv.empty()) {
        combine_file(xenv, &db);
    } else if (!home.empty()) {
        char host[256] = "";
        if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0')
            combine_file(home + "/.Xdefaults-" + host, &db);
    }

    combine_file(ts_defaults_path(), &db);
    return db;
}

XrmDatabase ts_load_resources(Display *dpy)
{
    return ts_merge_resources(dpy != nullptr ? XResourceManagerString(dpy) : nullptr);
}

int ts_save_resources(XrmDatabase db)
{
    std::string path = ts_defaults_path();
    if (path.empty())
        return 1;
    XrmInitialize();
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (access(path.c_str(), W_OK) != 0 || !S_ISREG(st.st_mode))
            return 1;
        // Through a symbolic link the file it names is replaced, not the link.
        char *real = realpath(path.c_str(), nullptr);
        if (real == nullptr)
            return 1;
        std::string target = real;
        std::free(real);
        return replace_file(target, db, st.st_mode & 07777, &st) ? 0 : 1;
    }
    mode_t mask = umask(0);
    umask(mask);
    return replace_file(path, db, 0666 & ~mask, nullptr) ? 0 : 1;
}

std::string ts_expand_path(const std::string &path)
{
    std::string in = path;
    if (!in.empty() && in[0] == '~') {
        size_t end = in.find('/');
        std::string user = in.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        std::string home;
        if (user.empty()) {
            home = home_dir();
        } else {
            struct passwd *pw = getpwnam(user.c_str());
            if (pw != nullptr && pw->pw_dir != nullptr)
                home = pw->pw_dir;
        }
        if (!home.empty())
            in = home + (end == std::string::npos ? std::string() : in.substr(end));
    }

    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        if (in[i] != '$') {
            out += in[i++];
            continue;
        }
        size_t start = i + 1;
        bool braced = start < in.size() && in[start] == '{';
        if (braced)
            start++;
        size_t stop = start;
        if (stop < in.size() && is_name_start(in[stop]))
            while (stop < in.size() && is_name_char(in[stop]))
                stop++;
        bool complete = stop > start && (!braced || (stop < in.size() && in[stop] == '}'));
        const char *value = complete ? std::getenv(in.substr(start, stop - start).c_str()) : nullptr;
        size_t next = braced && complete ? stop + 1 : stop;
        if (value != nullptr) {
            out += value;
        } else {
            // Undefined or not a name: the text stays as written.
            next = complete ? next : i + 1;
            out.append(in, i, next - i);
        }
        i = next;
    }
    return out;
}

int ts_is_double_click(const XEvent *previous, const XEvent *current)
{
    if (previous == nullptr || current == nullptr || previous->type != ButtonPress ||
        current->type != ButtonPress)
        return 0;
    // Server times are 32-bit milliseconds that wrap; a later previous event
    // gives a huge difference.
    uint32_t ms = static_cast<uint32_t>(current->xbutton.time - previous->xbutton.time);
    long dx = static_cast<long>(current->xbutton.x) - previous->xbutton.x;
    long dy = static_cast<long>(current->xbutton.y) - previous->xbutton.y;
    return 2ull * ms <= 800 && dx >= -4 && dx <= 4 && dy >= -4 && dy <= 4 ? 1 : 0;
}
