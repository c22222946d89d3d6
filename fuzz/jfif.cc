// Fuzz target: the JPEG loader on bytes in memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/corvat.h"
#include "formats/jfif.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// Damaged streams are the point here: their errors are not printed.
int quiet(VelaError *)
{
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        prog = pre_init_prog();
        return vela_open_for_display() == 0 &&
               vela_install_error_handler(image_display->state, quiet) == 1;
    }();
    if (!ready || size > (1 << 20))
        return 0;
    std::vector<char> bytes(data, data + size);
    ImageRec *image = init_image("fuzz.jpg", "fuzz.jpg", static_cast<int>(size),
                                 &all_types[FMT_JFIF], bytes.data());
    jfif_load(image);
    destroy_image(image);
    return 0;
}
