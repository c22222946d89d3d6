// open.h - getting a file into the viewer: typing, the format's loader,
// and the batch loader.
#pragma once

#include <string>

struct AppResources;

// Returns the data-type name of a file (or of length bytes of data when
// given): a name of the format table, "DATA" when untyped.  A compressed
// file sets *compressed and is typed by its decompressed content.
std::string type_file(const char *path, int *compressed, const char *data = nullptr,
                      int length = 0);

// Returns the size of the batch input (> 0), or 0 after a message.
int BatchCheckLoadFile(AppResources *r);
// Loads the batch input as the current image; 1 loaded, 0 failed.
int BatchLoadFile(AppResources *r, int size);
