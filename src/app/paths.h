// paths.h - where the viewer finds its installed data and helper programs.
#pragma once

#include <string>

// Returns the folder holding the running executable (no trailing '/').
const std::string &exe_dir();

// Returns <prefix>/share/orvimage, the folder of catalogs, icons and help,
// found beside the executable (the build tree has the installed layout).
// ORVIMAGE_SHARE overrides it.
const std::string &share_dir();
