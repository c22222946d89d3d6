// reader.h - the input layer every codec reads through, and the process's
// temporary files.
//
// One file is open for reading at a time: a plain file, the output of zcat
// for a compressed file, the output of a converter program, or bytes in
// memory (a drop or a desktop message).
#pragma once

#include <cstddef>

// Opens the input: data (length bytes) when given, else path, through zcat
// when compressed.  name is the document's name, used for temporary copies.
// Returns 0 when open, -1 on failure.
int openfile(const char *name, const char *path, int compressed, const char *data, int length);
// Returns the path of a plain file holding the input's bytes (path itself,
// or a temporary copy or decompression), or nullptr on failure.  The string
// is owned by the program record or the caller's path.
const char *file_to_open(const char *name, const char *path, int compressed, const char *data,
                         int length);
// Opens the output of converter run on the input file.  Returns 0 or -1.
int openfile_filter(const char *name, const char *path, int compressed, const char *data,
                    const char *converter, int length);
// Closes the current input (waiting for a child program).
void closefile();
// Reads up to count items of size bytes; returns the number of whole items
// read.  From a pipe it reads until the amount arrives or the input ends.
size_t im_fread(void *buffer, size_t size, size_t count);
// Returns the next byte (0..255), or EOF at the end of the input.
int im_fgetc();
// True when the current input is a pipe.
bool im_is_pipe();

// Names the temporary file "<base>.<name>" in the given slot of the program
// record, removing the slot's previous file.  Returns 1 when the name is
// new, 0 when the slot already held it.
int make_tmpfile(char **slot, const char *name);
// Writes length bytes of data to the temporary file "<base>.<name>" of the
// slot.  Returns 0 when written, -1 on failure (the slot is then cleared).
int write_tmpfile(char **slot, const char *data, const char *name, int length);
