// limits.cc - size checks against the input and the machine.
#include "formats/limits.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "image/image.h"

bool input_can_hold(const ImageRec *image, int64_t bytes)
{
    if (bytes < 0)
        return false;
    if (image->compression == COMP_UNIX)
        return true;
    if (image->data != nullptr)
        return bytes <= image->file_size;
    struct stat st;
    if (stat(image->realfile, &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode))
        return true;
    return bytes <= static_cast<int64_t>(st.st_size);
}

// Returns the bytes of memory available now, from /proc/meminfo, or the
// physical memory when that cannot be read.
static int64_t available_memory()
{
    if (FILE *f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        long long kb = -1;
        while (std::fgets(line, sizeof line, f) != nullptr)
            if (std::sscanf(line, "MemAvailable: %lld kB", &kb) == 1)
                break;
        std::fclose(f);
        if (kb > 0)
            return static_cast<int64_t>(kb) * 1024;
    }
    long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<int64_t>(pages) * size : INT64_MAX;
}

bool memory_can_hold(int64_t bytes)
{
    return bytes >= 0 && bytes <= available_memory();
}
