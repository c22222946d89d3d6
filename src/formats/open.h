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

// Checks that path can be opened; the file size (> 0), -1 when it does not
// exist, -2 for any other refusal (an alert has been shown).
int check_open_file(const char *path);
// Opens a document: 0 loaded; -1 refused, untyped, unknown or not
// convertible; -2 the load failed.  A failure leaves the previous document.
int open_newfile(const char *name, const char *path, int index, char *buffer, int length);
// Opens the command line's file; index -1 detects the format.
int OpenAtStart(const char *path, int index);
// Brings the other dialogs in line with the newly opened document.
void check_popups(int first_image);
