// fastio.h - whole-file reading through a memory mapping, and whole-file
// writing that never leaves a half-written target, with an optional
// PostScript header that selects one page.
#pragma once

#include <cstddef>
#include <sys/types.h>

// A file mapped read-only and private.
struct MappedFile {
    const char *address;  // first byte of the mapping; nullptr when length is 0
    std::size_t length;   // bytes
};

// Returns the whole regular file at path, mapped, or nullptr with errno set;
// the caller frees it with fast_close.  An empty file gives length 0 and no
// mapping.  The descriptor is closed before returning.  A file that another
// process shortens while it is mapped makes reads past its new end fault.
MappedFile *fast_read(const char *path);

// Unmaps and frees a record of fast_read; nullptr is allowed.
void fast_close(MappedFile *file);

// Writes the length bytes of data to path, preceded by the page-selection
// header when page is non-zero.  The bytes go to a new file in the target's
// folder, which replaces the target only once it is complete and synced, so
// a failure leaves an existing target as it was.  A symbolic link is
// followed and the file it names replaced; an existing file that we may
// not write is refused, one we may keeps its permission bits; a new file
// gets 0644 less the umask.  Returns 0, or -1 with errno set.
int fast_write(const char *path, const void *data, std::size_t length, int page);

// Writes to fd the PostScript header that makes an interpreter paint only
// the given page (1-based, in file order) and erase the others.  Returns 0,
// or -1 with errno set.
int prepend_ps(int fd, int page);

// Test hook: the write call used by fast_write and prepend_ps, ::write
// unless a test injects short writes or failures.
extern ssize_t (*fastio_write_call)(int fd, const void *buf, std::size_t count);
