// child.h - starting helper programs without a shell.
//
// Helper programs (zcat, converters, compress, the print commands) are
// started with posix_spawn from an argument vector, so no file name is ever
// read by a shell; their standard error goes to /dev/null.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

// A child whose standard output the caller reads.
struct ChildReader {
    FILE *out = nullptr;        // the child's standard output
    pid_t pid = -1;
};

// Starts argv[0] (an absolute path) with standard input from /dev/null (or
// the file input when given) and standard output into a pipe.  Returns false
// when it cannot be started.
bool spawn_reader(const std::vector<std::string> &argv, ChildReader *child,
                  const char *input = nullptr);
// Closes the pipe and ends the child (killing it if it still runs, since
// nobody reads its output any more); returns its wait status, -1 when there
// was no child.
int close_reader(ChildReader *child);

// Runs argv[0] to completion with standard output and error on /dev/null;
// returns the wait status, -1 when it cannot be started.
int run_program(const std::vector<std::string> &argv);

// The absolute path of zcat, which reads compress(1) and gzip data.
const char *zcat_path();
