// Fuzz target: the JPEG loader on bytes in memory.
#include "formats/jfif.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (fuzz::ready(true) && size <= fuzz::kMaxInput)
        fuzz::load(data, size, "fuzz.jpg", FMT_JFIF, jfif_load);
    return 0;
}
