// fuzz_support.h - what the loader targets share: the program and imaging
// library set up once, and a load of bytes held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/corvat.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace fuzz {

// Inputs above this size only slow the run down.
constexpr size_t kMaxInput = 1 << 20;

inline int quiet_errors(VelaError *)
{
    return 1;
}

// Sets the program and the imaging library up on the first call; true when
// they are ready.  With quiet, the library's reports of damaged data (the
// point of the run) are not printed.
inline bool ready(bool quiet = false)
{
    static bool ok = [quiet] {
        prog = pre_init_prog();
        return vela_open_for_display() == 0 &&
               (!quiet || vela_install_error_handler(image_display->state, quiet_errors) == 1);
    }();
    return ok;
}

// Loads bytes as a file of the given format entry with its load function.
inline void load(const void *data, size_t size, const char *name, int format,
                 int (*loader)(ImageRec *))
{
    std::vector<char> bytes(static_cast<const char *>(data), static_cast<const char *>(data) + size);
    ImageRec *image = init_image(name, name, static_cast<int>(size), &all_types[format], bytes.data());
    loader(image);
    destroy_image(image);
}

} // namespace fuzz
