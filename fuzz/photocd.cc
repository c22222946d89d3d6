// Fuzz target: the Photo CD loader.  An image pack is far larger than a
// fuzz input, so the input describes one: its first byte picks the
// resolution (bits 0-1), the rotation byte (bits 2-3), whether sector 1
// carries the signature (bit 4) and where the pack ends (bits 5-7, from
// inside the header to past Base); the rest is the 4Base data that
// follows Base.  The pictures of the pack are a fixed pattern.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/corvat.h"
#include "formats/photocd.h"
#include "image/image.h"
#include "image/vela_iface.h"
#include "fuzz_support.h"

namespace {

constexpr size_t k4BaseOffset = 0xc2000;
// Where a pack may end, by the size class of the first byte.
constexpr size_t kEnds[8] = {0x900, 0x2000, 0xb000, 0xb7ff, 0x30000, 0xbffff, 0xc0000, 0};

// Returns the fixed part of every pack: header sectors and the three
// stored pictures.
const std::vector<char> &pack_head()
{
    static const std::vector<char> head = [] {
        std::vector<char> h(k4BaseOffset, 0);
        for (size_t i = 0x2000; i < 0xc0000; i++)
            h[i] = static_cast<char>((i * 7 + (i >> 9)) & 0xff);
        std::memcpy(&h[0x800], "PCD_IPI", 7);
        return h;
    }();
    return head;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!fuzz::ready(true) || size < 1 || size > fuzz::kMaxInput)
        return 0;
    const unsigned mode = data[0];
    std::vector<char> pack = pack_head();
    pack[0xe02] = static_cast<char>((mode >> 2) & 3);
    if (!(mode & 0x10))
        pack[0x800] = 'X';
    size_t end = kEnds[mode >> 5];
    if (end != 0)
        pack.resize(end);
    else
        pack.insert(pack.end(), data + 1, data + size);
    static const int codes[4] = {FMT_PCD16, FMT_PCD4, FMT_PCD, FMT_PCD4BASE};
    fuzz::load(pack.data(), pack.size(), "fuzz.pcd", codes[mode & 3], photocd_load);
    return 0;
}
