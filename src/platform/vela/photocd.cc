/*
 * photocd.cc - the "ioQRVXPhotoCD" input device: the Base/16, Base/4, Base
 * and 4Base resolutions of a Kodak Photo CD image pack, as PhotoYCC.
 *
 * The pack is made of 2048-byte sectors.  Sector 1 starts "PCD_IPI"; the
 * low two bits of byte 0xe02 give the quarter turns that show the picture
 * upright.  Base/16 (192 x 128) starts at 0x2000, Base/4 (384 x 256) at
 * 0xb800 and Base (768 x 512) at 0x30000; each stores, for every pair of
 * rows, the two rows of Y, then one row of C1 and one of C2 at half width
 * (chroma is subsampled 2 x 2).  4Base (1536 x 1024) is Base doubled by
 * interpolation plus luma residuals, Huffman-coded from sector 388
 * (0xc2000): a table (a count - 1 byte, then per code its length - 1, 16
 * bits holding the code left-aligned, and the residual as a signed byte),
 * then for each row a sync of 23 one bits and a zero, 2 bits of plane, 13
 * of row number, one spare bit, and the row's codes.  A row number equal
 * to the height ends the data.  Chroma is doubled by interpolation to the
 * full size at every resolution.
 *
 * The device keeps its settings in front of the pixels, in the same
 * allocation, so that destroying the image frees them with the pixels.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "image.h"

namespace {

using vela::PodVec;
using vela::report;

constexpr off_t kSector = 0x800;
constexpr off_t kRotationByte = 0xe02;
constexpr off_t kBaseOffsets[3] = {0x2000, 0xb800, 0x30000};
constexpr off_t k4BaseOffset = 0xc2000;
// The most 4Base bytes read: 16-bit codes for every residual and the row
// headers come to about 3.2 MB.
constexpr size_t kMax4BaseBytes = size_t{4} << 20;
constexpr int kLevels = 4; // Base/16, Base/4, Base, 4Base
constexpr uint64_t kMagic = 0x5643445f50484f54; // marks a device's settings
constexpr size_t kPathMax = 4096;

// The device's settings, in front of its pixels.
struct Device {
    uint64_t magic;
    const VelaImage *self;
    int resolution;    // 0..3, see vela.h
    int rotation;      // 0..3 from the pack, 0 until a file is read
    bool have_file;
    char path[kPathMax];
};
constexpr size_t kHeader = (sizeof(Device) + 63) & ~size_t{63};

int level_width(int level)
{
    return 192 << level;
}
int level_height(int level)
{
    return 128 << level;
}

// Returns the settings of a device image, or nullptr for other images.  Our
// images' pixels start kHeader bytes into their block, which no image the
// rest of the library makes does.
Device *device_of(VelaImage *img)
{
    if (!img || img->is_child || !img->block || img->nbands != 3 || img->datatype != VELA_BYTE)
        return nullptr;
    unsigned char *mem = img->block->mem;
    if (img->data != mem + kHeader)
        return nullptr;
    auto *dev = reinterpret_cast<Device *>(mem);
    return dev->magic == kMagic && dev->self == img ? dev : nullptr;
}

// Returns new memory for a w x h device image carrying dev, or nullptr.
unsigned char *new_memory(int w, int h, const Device &dev)
{
    const size_t pixels = static_cast<size_t>(w) * h * 3;
    auto *mem = static_cast<unsigned char *>(std::calloc(kHeader + pixels + vela::kBlockPad, 1));
    if (mem)
        std::memcpy(mem, &dev, sizeof dev);
    return mem;
}

// Makes mem (from new_memory) the image's pixels, w x h.
bool install(VelaImage *img, unsigned char *mem, int w, int h)
{
    vela::Block *block = vela::block_new(mem, true);
    if (!block)
        return false;
    vela::block_unref(img->block);
    img->block = block;
    img->data = mem + kHeader;
    img->width = w;
    img->height = h;
    img->row_stride = static_cast<ptrdiff_t>(w) * 3;
    img->pixel_stride = 3;
    img->bit_offset = 0;
    // A region of interest of the old size means nothing at the new one.
    img->has_roi = false;
    img->roi.clear();
    reinterpret_cast<Device *>(mem)->self = img;
    return true;
}

// An open image pack, closed with the object.
class Pack {
  public:
    explicit Pack(const char *path) : fd_(open(path, O_RDONLY | O_CLOEXEC))
    {
        struct stat st;
        size_ = fd_ >= 0 && fstat(fd_, &st) == 0 ? st.st_size : 0;
    }
    ~Pack()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Pack(const Pack &) = delete;
    Pack &operator=(const Pack &) = delete;

    bool ok() const { return fd_ >= 0; }
    off_t size() const { return size_; }
    // Reads n bytes at off; false unless all of them arrive.
    bool read(off_t off, unsigned char *buf, size_t n) const
    {
        while (n > 0) {
            ssize_t got = pread(fd_, buf, n, off);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            buf += got;
            n -= static_cast<size_t>(got);
            off += got;
        }
        return true;
    }

  private:
    int fd_;
    off_t size_; // bytes, 0 when unknown
};

// One picture's planes: Y at full size, C1 and C2 at their own size.
struct Planes {
    int width, height;   // of Y
    int cwidth, cheight; // of C1 and C2
    PodVec<unsigned char> y, c1, c2;
};

// Doubles the w x h plane in into out (2w x 2h): pixels land on even
// places, the others are the rounded means of their neighbours.
void upsample(const unsigned char *in, int w, int h, unsigned char *out)
{
    const ptrdiff_t ow = 2 * static_cast<ptrdiff_t>(w);
    for (int y = 0; y < h; ++y) {
        const unsigned char *s = in + static_cast<ptrdiff_t>(y) * w;
        unsigned char *o = out + 2 * y * ow;
        for (int x = 0; x + 1 < w; ++x) {
            o[2 * x] = s[x];
            o[2 * x + 1] = static_cast<unsigned char>((s[x] + s[x + 1] + 1) >> 1);
        }
        o[ow - 2] = o[ow - 1] = s[w - 1];
    }
    for (int y = 0; y + 1 < h; ++y) {
        const unsigned char *s = in + static_cast<ptrdiff_t>(y) * w, *t = s + w;
        unsigned char *o = out + (2 * y + 1) * ow;
        for (int x = 0; x + 1 < w; ++x) {
            o[2 * x] = static_cast<unsigned char>((s[x] + t[x] + 1) >> 1);
            o[2 * x + 1] = static_cast<unsigned char>((s[x] + s[x + 1] + t[x] + t[x + 1] + 2) >> 2);
        }
        o[ow - 2] = o[ow - 1] = static_cast<unsigned char>((s[w - 1] + t[w - 1] + 1) >> 1);
    }
    std::memcpy(out + (2 * h - 1) * ow, out + (2 * h - 2) * ow, static_cast<size_t>(ow));
}

// Replaces the plane (w x h) by its double; false when memory ran out.
bool double_plane(PodVec<unsigned char> *plane, int w, int h)
{
    PodVec<unsigned char> big;
    if (!big.resize(static_cast<size_t>(w) * h * 4))
        return false;
    upsample(plane->data(), w, h, big.data());
    return plane->assign(big);
}

// Reads one of the three stored resolutions.  Returns nullptr or a text
// saying what failed.
const char *read_stored(const Pack &pack, int level, Planes *p)
{
    const int w = level_width(level), h = level_height(level);
    const size_t bytes = static_cast<size_t>(w) * h * 3 / 2;
    PodVec<unsigned char> raw;
    if (!raw.resize(bytes) || !p->y.resize(static_cast<size_t>(w) * h) ||
        !p->c1.resize(bytes / 6) || !p->c2.resize(bytes / 6))
        return "out of memory";
    if (!pack.read(kBaseOffsets[level], raw.data(), bytes))
        return "the image pack ends before the picture";
    const int cw = w / 2;
    for (int k = 0; k < h / 2; ++k) {
        const unsigned char *s = raw.data() + static_cast<size_t>(k) * 3 * w;
        std::memcpy(p->y.data() + static_cast<size_t>(2 * k) * w, s, 2 * static_cast<size_t>(w));
        std::memcpy(p->c1.data() + static_cast<size_t>(k) * cw, s + 2 * w, static_cast<size_t>(cw));
        std::memcpy(p->c2.data() + static_cast<size_t>(k) * cw, s + 2 * w + cw,
                    static_cast<size_t>(cw));
    }
    p->width = w;
    p->height = h;
    p->cwidth = cw;
    p->cheight = h / 2;
    return nullptr;
}

// The Huffman-coded residuals, read as a stream of bits.
class Bits {
  public:
    Bits(const unsigned char *data, size_t n) : d_(data), n_(n), nbits_(uint64_t{n} * 8) {}
    uint64_t size() const { return nbits_; }
    // Returns the 32 bits from bit p on, most significant first; bits past
    // the end read as zero.
    uint32_t peek32(uint64_t p) const
    {
        uint64_t v = 0;
        const uint64_t byte = p >> 3;
        for (uint64_t i = 0; i < 5; ++i)
            v = (v << 8) | (byte + i < n_ ? d_[byte + i] : 0);
        return static_cast<uint32_t>(v >> (8 - (p & 7)));
    }
    // Returns the position of the next sync at or after p, or size() when
    // there is none: first a byte at a time until 12 one bits show 8 bits
    // ahead, then a bit at a time.
    uint64_t find_sync(uint64_t p) const
    {
        while (p + 32 <= nbits_ && ((peek32(p) >> 12) & 0xfff) != 0xfff)
            p += 8;
        for (; p + 24 <= nbits_; ++p)
            if ((peek32(p) & 0xffffff00u) == 0xfffffe00u)
                return p;
        return nbits_;
    }

  private:
    const unsigned char *d_;
    size_t n_;      // bytes
    uint64_t nbits_;
};

// Adds the 4Base luma residuals of the pack to y (1536 x 1024, doubled
// from Base).  Returns nullptr or a text saying what failed.
const char *add_residuals(const Pack &pack, unsigned char *y)
{
    const int w = level_width(3), h = level_height(3);
    if (pack.size() <= k4BaseOffset)
        return "the image pack holds no 4Base picture";
    size_t n = static_cast<size_t>(pack.size() - k4BaseOffset);
    n = n < kMax4BaseBytes ? n : kMax4BaseBytes;
    PodVec<unsigned char> data;
    if (!data.resize(n))
        return "out of memory";
    if (!pack.read(k4BaseOffset, data.data(), n))
        return "the 4Base data cannot be read";

    // The table, as a lookup from the next 16 bits to the first code that
    // matches them (entries + 1; 0 where no code matches).
    const size_t count = static_cast<size_t>(data[0]) + 1;
    if (n < 1 + 4 * count)
        return "the 4Base code table is cut short";
    PodVec<uint16_t> lookup;
    if (!lookup.resize(65536))
        return "out of memory";
    std::memset(lookup.data(), 0, 65536 * sizeof(uint16_t));
    for (size_t i = count; i-- > 0;) {
        const unsigned char *e = data.data() + 1 + 4 * i;
        const unsigned len = e[0] + 1u;
        if (len > 16)
            return "the 4Base code table has codes longer than 16 bits";
        const unsigned first = ((e[1] << 8) | e[2]) & (0xffffu << (16 - len)) & 0xffffu;
        const unsigned span = 1u << (16 - len);
        for (unsigned v = first; v < first + span; ++v)
            lookup[v] = static_cast<uint16_t>(i + 1);
    }

    const Bits bits(data.data(), n);
    uint64_t p = bits.find_sync(uint64_t{1 + 4 * count} * 8);
    int rows = 0;
    while (p < bits.size()) {
        const uint32_t head = bits.peek32(p + 24);
        const int plane = static_cast<int>(head >> 30);
        const int row = static_cast<int>((head >> 17) & 0x1fff);
        p += 40;
        if (row == h)
            break;
        // 4Base has luma residuals only; other rows are passed over.
        if (row < h && plane == 0) {
            unsigned char *q = y + static_cast<ptrdiff_t>(row) * w;
            for (int x = 0; x < w && p < bits.size(); ++x) {
                const unsigned entry = lookup[bits.peek32(p) >> 16];
                if (entry == 0)
                    break; // a damaged row: resume at the next sync
                const unsigned char *e = data.data() + 1 + 4 * (entry - 1);
                const int v = q[x] + static_cast<signed char>(e[3]);
                q[x] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
                p += e[0] + 1u;
            }
            ++rows;
        }
        p = bits.find_sync(p);
    }
    return rows > 0 ? nullptr : "the image pack holds no 4Base picture";
}

// Decodes the pack at the given resolution into new device memory (with
// dev in front) and installs it.  Returns 1, or 0 after reporting.
int decode(VelaImage *img, const Device &dev, const char *who)
{
    Pack pack(dev.path);
    if (!pack.ok()) {
        report(img->state, VELA_ERROR_SYSTEM, "%s: cannot open %s: %s", who, dev.path,
               std::strerror(errno));
        return 0;
    }
    unsigned char sector[kSector];
    if (!pack.read(kSector, sector, sizeof sector) || std::memcmp(sector, "PCD_IPI", 7) != 0) {
        report(img->state, VELA_ERROR_CIS_DATA, "%s: %s is not a Photo CD image pack", who,
               dev.path);
        return 0;
    }
    Device next = dev;
    next.rotation = sector[kRotationByte - kSector] & 3;
    next.have_file = true;

    Planes p;
    const char *fault = read_stored(pack, dev.resolution < 2 ? dev.resolution : 2, &p);
    if (!fault && dev.resolution == 3) {
        fault = "out of memory";
        if (double_plane(&p.y, p.width, p.height) && double_plane(&p.c1, p.cwidth, p.cheight) &&
            double_plane(&p.c2, p.cwidth, p.cheight)) {
            p.width *= 2;
            p.height *= 2;
            p.cwidth *= 2;
            p.cheight *= 2;
            fault = add_residuals(pack, p.y.data());
        }
    }
    if (!fault)
        fault = double_plane(&p.c1, p.cwidth, p.cheight) && double_plane(&p.c2, p.cwidth, p.cheight)
                    ? nullptr
                    : "out of memory";
    unsigned char *mem = fault ? nullptr : new_memory(p.width, p.height, next);
    if (!fault && !mem)
        fault = "out of memory";
    if (fault) {
        report(img->state, std::strcmp(fault, "out of memory") == 0 ? VELA_ERROR_RESOURCE
                                                                    : VELA_ERROR_CIS_DATA,
               "%s: %s: %s", who, dev.path, fault);
        return 0;
    }
    unsigned char *out = mem + kHeader;
    const size_t npix = static_cast<size_t>(p.width) * p.height;
    for (size_t i = 0; i < npix; ++i) {
        out[3 * i] = p.y[i];
        out[3 * i + 1] = p.c1[i];
        out[3 * i + 2] = p.c2[i];
    }
    if (!install(img, mem, p.width, p.height)) {
        std::free(mem);
        report(img->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    return 1;
}

} // namespace

extern "C" {

VelaImage *vela_create_from_device(VelaState *state, const char *device_name, void *args)
{
    (void)args; // the Photo CD device takes no creation arguments
    const char *who = "vela_create_from_device";
    if (!state || !device_name) {
        report(state, VELA_ERROR_USER, "%s: no %s", who, state ? "device name" : "state");
        return nullptr;
    }
    if (std::strcmp(device_name, "ioQRVXPhotoCD") != 0) {
        report(state, VELA_ERROR_USER, "%s: no device \"%s\"", who, device_name);
        return nullptr;
    }
    VelaImage *img = vela_create(state, 1, 1, 3, VELA_BYTE);
    if (!img)
        return nullptr;
    Device dev{};
    dev.magic = kMagic;
    unsigned char *mem = new_memory(level_width(0), level_height(0), dev);
    if (!mem || !install(img, mem, level_width(0), level_height(0))) {
        std::free(mem);
        vela_destroy(img);
        report(state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    return img;
}

int vela_set_device_attribute(VelaImage *img, const char *name, const void *value)
{
    const char *who = "vela_set_device_attribute";
    Device *dev = device_of(img);
    if (!dev || !name || !value) {
        report(img ? img->state : nullptr, VELA_ERROR_USER, "%s: no %s", who,
               !dev ? "device image" : !name ? "attribute name" : "value");
        return 0;
    }
    Device next = *dev;
    if (std::strcmp(name, "FILEPATH") == 0) {
        const char *path = static_cast<const char *>(value);
        const size_t len = std::strlen(path);
        if (len == 0 || len >= kPathMax) {
            report(img->state, VELA_ERROR_USER, "%s: a path of %zu bytes", who, len);
            return 0;
        }
        std::memcpy(next.path, path, len + 1);
    } else if (std::strcmp(name, "RESOLUTION") == 0) {
        const int r = *static_cast<const int *>(value);
        if (r < 0 || r >= kLevels) {
            report(img->state, VELA_ERROR_USER, "%s: no resolution %d", who, r);
            return 0;
        }
        next.resolution = r;
        if (!next.have_file) {
            dev->resolution = r;
            return 1;
        }
    } else {
        report(img->state, VELA_ERROR_USER, "%s: no attribute \"%s\" to set", who, name);
        return 0;
    }
    return decode(img, next, who);
}

int vela_get_device_attribute(VelaImage *img, const char *name, void *value)
{
    const char *who = "vela_get_device_attribute";
    Device *dev = device_of(img);
    if (!dev || !name || !value) {
        report(img ? img->state : nullptr, VELA_ERROR_USER, "%s: no %s", who,
               !dev ? "device image" : !name ? "attribute name" : "value");
        return 0;
    }
    if (std::strcmp(name, "FILEPATH") == 0) {
        *static_cast<const char **>(value) = dev->have_file ? dev->path : nullptr;
    } else if (std::strcmp(name, "RESOLUTION") == 0) {
        *static_cast<int *>(value) = dev->resolution;
    } else if (std::strcmp(name, "ROTATION") == 0) {
        if (!dev->have_file) {
            report(img->state, VELA_ERROR_USER, "%s: no image pack read yet", who);
            return 0;
        }
        *static_cast<int *>(value) = dev->rotation;
    } else {
        report(img->state, VELA_ERROR_USER, "%s: no attribute \"%s\"", who, name);
        return 0;
    }
    return 1;
}

} // extern "C"
