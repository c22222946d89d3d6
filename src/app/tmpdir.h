// tmpdir.h - the process's private folder for temporary files.
//
// Every temporary file of the viewer lives in one folder made with mkdtemp
// (mode 0700) under TMPDIR or /tmp, so no other user can guess, replace or
// read them; the folder and everything in it is removed at exit.
#pragma once

#include <string>

// Returns the private folder, creating it on first use; empty on failure.
const std::string &private_tmpdir();

// Removes the private folder and its files, if it was made.  Safe to call
// more than once.
void remove_private_tmpdir();
