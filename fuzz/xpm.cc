// Fuzz target: the XPM loader on bytes in memory (the display-free path),
// and the values scanner against libXpm's own parser.
#include <X11/xpm.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/corvat.h"
#include "formats/xv.h"
#include "image/image.h"
#include "image/vela_iface.h"
#include "fuzz_support.h"

// libXpm 3.5.12 leaks on some malformed files (the colour entry it was
// reading, the index tables of two-character pixels); later releases fix
// it.  Those leaks are its own: every XpmImage we get is freed by a guard.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libXpm.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!fuzz::ready() || size > fuzz::kMaxInput)
        return 0;
    std::vector<char> bytes(data, data + size);
    fuzz::load(data, size, "fuzz.xpm", FMT_XPM, xpm_load);

    // Where the scanner finds small values, libXpm must find the same (on
    // texts whose strings are all there: libXpm reads past the end of the
    // others, unseen by the sanitizer, which does not instrument it).
    XpmValues v;
    if (xpm_scan_values(bytes.data(), bytes.size(), &v) &&
        xpm_strings_complete(bytes.data(), bytes.size()) &&
        static_cast<uint64_t>(v.width) * v.height <= (1u << 16) && v.ncolors <= (1u << 16) &&
        v.cpp <= 31) {
        std::string text(bytes.begin(), bytes.end());
        XpmImage xi;
        std::memset(&xi, 0, sizeof xi);
        if (XpmCreateXpmImageFromBuffer(text.data(), &xi, nullptr) >= 0) {
            if (xi.width != v.width || xi.height != v.height || xi.ncolors != v.ncolors ||
                xi.cpp != v.cpp)
                std::abort();
            XpmFreeXpmImage(&xi);
        }
    }
    return 0;
}
