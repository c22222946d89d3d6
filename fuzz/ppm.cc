// Fuzz target: the portable-map loader (plain and raw PBM, PGM, PPM) on
// bytes in memory.
#include "formats/ppm.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (fuzz::ready() && size <= fuzz::kMaxInput)
        fuzz::load(data, size, "fuzz.pnm", FMT_PPM, ppm_load);
    return 0;
}
