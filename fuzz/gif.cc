// Fuzz target: the GIF loader on bytes in memory.
#include "formats/gif.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (fuzz::ready() && size <= fuzz::kMaxInput)
        fuzz::load(data, size, "fuzz.gif", FMT_GIF, gif_load);
    return 0;
}
