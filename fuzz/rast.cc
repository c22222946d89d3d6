// Fuzz target: the Kestrel raster loader on bytes in memory.
#include "formats/rast.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (fuzz::ready() && size <= fuzz::kMaxInput)
        fuzz::load(data, size, "fuzz.ras", FMT_RASTER, rast_load);
    return 0;
}
