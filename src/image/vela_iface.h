// vela_iface.h - how the viewer reaches its imaging library.
//
// libvela.so.1 is loaded at run time with dlopen.  Every function of
// platform/vela/vela.h is defined here too, as a forwarder through the table
// that ResolveVelaHandles fills, so the rest of the viewer calls the library
// by its own names.  Before the library is loaded (or when it lacks a name)
// a forwarder returns 0 or nullptr, which callers treat as a failed call.
#pragma once

#include "platform/vela/vela.h"

#include <string>
#include <vector>

// Loads the library and looks up every function; -1 when it cannot be
// opened, else 0 (a missing name leaves its entry empty).
int ResolveVelaHandles();
// True once ResolveVelaHandles has succeeded.
bool vela_loaded();
// Names of the functions the table holds, for tests.
std::vector<std::string> vela_handle_names();
// Number of table entries the loaded library left empty.
int vela_missing_handles();

// Loads and opens the library for the image display, installing
// vela_error_handler; alerts "Unable to open VELA Library." on failure.
// Returns 0 on success, -1 on failure.
int BaseVelaCreateObject();
// Loads and opens the library into the image display record without any
// alert; -1 on failure.  Used by BaseVelaCreateObject and the canvas.
int vela_open_for_display();

// The library's error handler: resource errors end the program after an
// alert, other primary errors are printed.  Returns 1.
int vela_error_handler(VelaError *err);
