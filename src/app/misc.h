// misc.h - small helpers shared by many parts of the viewer: path names,
// blank texts, numbers typed by the user, and the out-of-memory exit.
#pragma once

// basename(path), the part after the last '/' (the whole path without
// one), is glibc's GNU basename from <cstring>, which does exactly that.
// Returns a new string (malloc'ed) with the part of path before the last
// '/': "" for a file in the root folder, "." for a name without '/'.
char *strip_filename(const char *path);
// True when text exists and holds only spaces (the empty text included).
bool AllBlanks(const char *text);
// 0 when the whole of text is a number (stored in *value), -1 otherwise.
int check_float_value(const char *text, float *value);
// Prints the out-of-memory message and exits with status 1.
[[noreturn]] void OutOfMemory();
// Returns a malloc'ed copy of s, or exits through OutOfMemory.
char *xstrdup(const char *s);

struct ImageRec;
// Replaces the record's saved colormap by a copy of its current one.
void save_colormap(ImageRec *image);
// Replaces the record's current colormap by a copy of its saved one.
void restore_colormap(ImageRec *image);
// Sets the record's image aside as its colour image and puts a grey
// version in its place.  Returns 1 when converted, 0 when not possible.
int color_to_gray(ImageRec *image);
