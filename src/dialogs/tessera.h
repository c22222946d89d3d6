// tessera.h - the legacy "Tessera" settings functions: the per-user settings
// file, the merged resource database, resource lookup and storage under
// "tessera.<app>.<name>", path expansion, and the page overview's double-click
// test.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <string>

// Returns the value of "tessera.<app>.<name>" (class "Tessera.<App>.<Name>")
// in db, or nullptr.  The string is owned by the database.  The arguments are
// not modified; a name or class longer than 119 bytes finds nothing.
const char *ts_get_resource(XrmDatabase db, const char *app, const char *name);

// Stores value under "tessera.<app>.<name>" in *db, creating the database
// when *db is nullptr.  A name longer than 119 bytes is not stored.
void ts_put_resource(XrmDatabase *db, const char *app, const char *name, const char *value);

// Returns the path of the per-user settings file: TESSERADEFAULTS (expanded
// by ts_expand_path) when set and not empty, else "<home>/.tesseradefaults";
// empty when neither the variable nor a home folder is known.
std::string ts_defaults_path();

// Returns the database of the per-user settings file alone, or nullptr when
// it cannot be read.  The caller owns it (XrmDestroyDatabase).
XrmDatabase ts_load_tessera_defs();

// Returns the merged database, lowest precedence first: the app-defaults file
// "$KELDAHOME/lib/app-defaults/Tessera" (only with KELDAHOME), the server's
// resource string of dpy or else "~/.Xdefaults", the file named by
// XENVIRONMENT or else "~/.Xdefaults-<host>", the per-user settings file.
// dpy may be nullptr (no server string).  The caller owns the result, which
// is nullptr when no source had anything.
XrmDatabase ts_load_resources(Display *dpy);

// The same merge with the server's resource string given directly (nullptr
// when the server has none).
XrmDatabase ts_merge_resources(const char *server_string);

// Writes db to the per-user settings file: to a new file in the same folder
// that replaces the old one only once it is complete and read back equal.
// Returns 0 when written, 1 when the file exists but may not be written by
// this process or the new file could not be completed (the old file is then
// left as it was).
int ts_save_resources(XrmDatabase db);

// Returns path with a leading "~" or "~user" replaced by the home folder and
// each "$NAME" or "${NAME}" by the variable's value.  Undefined variables,
// unknown users and a lone "$" stay as written.
std::string ts_expand_path(const std::string &path);

// Returns 1 when both events are button presses at most 400 ms and at most 4
// pixels apart in x and in y, else 0 (also when either is nullptr).
int ts_is_double_click(const XEvent *previous, const XEvent *current);
