// batch.h - converting one file to another format without a window.
#pragma once

// Runs the conversion of the command line and exits: status 0 when the
// output was written, 1 otherwise.  input is the absolute input path (or the
// standard-input copy); the temporary files are removed on both paths.
[[noreturn]] void run_batch(char *input);
