// Fuzz target: the XBM loader on bytes in memory (the display-free path),
// and the parser against Xlib's reader wherever the parser accepts a file.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/mman.h>
#include <unistd.h>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!fuzz::ready() || size > fuzz::kMaxInput)
        return 0;
    std::vector<char> bytes(data, data + size);
    fuzz::load(data, size, "fuzz.xbm", FMT_XBM, xbm_load);

    XbmBitmap bm;
    if (!xbm_parse(bytes.data(), bytes.size(), &bm))
        return 0;
    static int fd = memfd_create("xbm", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    unsigned int w = 0, h = 0;
    unsigned char *bits = nullptr;
    int xh, yh;
    if (XReadBitmapFileData(path.c_str(), &w, &h, &bits, &xh, &yh) != BitmapSuccess ||
        static_cast<int>(w) != bm.width || static_cast<int>(h) != bm.height ||
        std::memcmp(bits, bm.bits.data(), bm.bits.size()) != 0)
        std::abort();
    XFree(bits);
    return 0;
}
