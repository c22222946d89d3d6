// typing.cc - libFuzzer target for data typing: the bytes are typed without a
// name, under a name whose suffix has a rule (chosen by the last byte), and under
// a name made of the last bytes themselves.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dt/dt.h"

namespace {

// Names that reach every suffix rule, and some that reach none.
const char *const kNames[] = {
    "a.tga", "a.pi1", "a.pi3", "a.spu", "a.qrt", "a.mtv", "a.prt", "a.pj",    "a.brush",
    "a.hips", "a.hip", "a.mac", "a.macp", "a.pntg", "a.gould", "a.g3", "a.fax", "A.TGA",
    ".tga",  "dir.tga/a", "a",   "",
};

// Types size bytes under name and stops the run if the answer is missing.
void type_once(const uint8_t *data, int size, const char *name)
{
    char *type = DtDtsBufferToDataType(data, size, name);
    if (type == nullptr || type[0] == '\0')
        std::abort();
    DtDtsFreeDataType(type);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int n = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    type_once(data, n, nullptr);
    if (size == 0)
        return 0;
    type_once(data, n, kNames[data[size - 1] % (sizeof kNames / sizeof kNames[0])]);
    size_t name_len = size < 12 ? size : 12;
    std::string name(reinterpret_cast<const char *>(data + size - name_len), name_len);
    type_once(data, n, name.c_str());
    return 0;
}
