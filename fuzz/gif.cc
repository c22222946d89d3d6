// Fuzz target: the GIF loader on bytes in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/corvat.h"
#include "formats/gif.h"
#include "image/image.h"
#include "image/vela_iface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        prog = pre_init_prog();
        return vela_open_for_display() == 0;
    }();
    if (!ready || size > (1 << 20))
        return 0;
    std::vector<char> bytes(data, data + size);
    ImageRec *image = init_image("fuzz.gif", "fuzz.gif", static_cast<int>(size), &all_types[FMT_GIF],
                                 bytes.data());
    gif_load(image);
    destroy_image(image);
    return 0;
}
