/*
 * image.cc - image records: creation (zero-filled, copies, child views that
 * share their parent's memory), destruction, the getters, origins, filling
 * with a value and copying between images.  Pixel memory is a
 * reference-counted block so that a child stays valid whatever order the
 * caller destroys images in.
 */
#include <algorithm>
#include <cmath>

#include "colour.h"
#include <sys/mman.h>

#include "image.h"
#include "window.h"

namespace vela {

Block *block_new(unsigned char *mem, bool padded)
{
    auto *b = static_cast<Block *>(std::malloc(sizeof(Block)));
    if (!b)
        return nullptr;
    b->mem = mem;
    b->refs = 1;
    b->padded = padded;
    b->size = 0;
    return b;
}

void block_ref(Block *b)
{
    ++b->refs;
}

namespace {

// The memory of the last large images destroyed.  A viewer replaces its
// view of a picture by another of the same size at every turn or zoom;
// reusing the memory spares the page faults of fresh memory, which cost
// more than filling it.
struct SpareMemory {
    unsigned char *mem;
    size_t size;
};
constexpr size_t kSpareMin = size_t{4} << 20; // smaller memory is just freed
SpareMemory spare[2];

void keep_spare(unsigned char *mem, size_t size)
{
    if (spare[1].mem != nullptr)
        std::free(spare[1].mem);
    spare[1] = spare[0];
    spare[0] = {mem, size};
}

} // namespace

void block_unref(Block *b)
{
    if (--b->refs == 0) {
        if (b->size >= kSpareMin)
            keep_spare(b->mem, b->size);
        else
            std::free(b->mem);
        std::free(b);
    }
}

unsigned char *take_memory(size_t size, size_t *got)
{
    if (size >= kSpareMin) {
        for (SpareMemory &s : spare) {
            // Close fits only, so that a small view never pins a huge block.
            if (s.mem != nullptr && s.size >= size && s.size - size <= size / 4) {
                unsigned char *mem = s.mem;
                *got = s.size;
                s = {nullptr, 0};
                std::memset(mem, 0, size);
                return mem;
            }
        }
    }
    // calloc leaves untouched pages unmapped, so a large image costs
    // nothing until it is written.
    auto *mem = static_cast<unsigned char *>(std::calloc(size, 1));
    if (mem != nullptr && size >= kSpareMin) {
        // A large picture is filled at once after creation: huge pages save
        // most of the page faults that filling it would take.
        uintptr_t start = (reinterpret_cast<uintptr_t>(mem) + 4095) & ~uintptr_t{4095};
        uintptr_t end = (reinterpret_cast<uintptr_t>(mem) + size) & ~uintptr_t{4095};
        if (end > start)
            madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
    *got = mem != nullptr ? size : 0;
    return mem;
}

void make_view(const VelaImage *img, int x, int y, int width, int height, int band0, int nbands,
               VelaImage *view)
{
    view->state = img->state;
    view->width = width;
    view->height = height;
    view->nbands = nbands;
    view->datatype = img->datatype;
    view->block = nullptr;
    view->row_stride = img->row_stride;
    view->pixel_stride = img->pixel_stride;
    if (img->datatype == VELA_BIT) {
        int64_t bit = static_cast<int64_t>(img->bit_offset) + x;
        view->data = img->data + y * img->row_stride + (bit >> 3);
        view->bit_offset = static_cast<int>(bit & 7);
    } else {
        view->data = img->data + y * img->row_stride + x * img->pixel_stride + band0;
        view->bit_offset = 0;
    }
    view->is_child = true;
    view->exported = false;
    view->origin_x = 0;
    view->origin_y = 0;
    view->has_roi = false;
}

bool may_overlap(const VelaImage *a, const VelaImage *b)
{
    if (a->block != b->block)
        return false;
    auto span = [](const VelaImage *img, const unsigned char **lo, const unsigned char **hi) {
        const unsigned char *last = img->data + (img->height - 1) * img->row_stride;
        if (img->datatype == VELA_BIT) {
            *lo = img->data;
            *hi = last + (img->bit_offset + img->width + 7) / 8;
        } else {
            *lo = img->data;
            *hi = last + (img->width - 1) * img->pixel_stride + img->nbands;
        }
    };
    const unsigned char *alo, *ahi, *blo, *bhi;
    span(a, &alo, &ahi);
    span(b, &blo, &bhi);
    return alo < bhi && blo < ahi;
}

int quantize(double value, int datatype)
{
    double top = datatype == VELA_BIT ? 1.0 : 255.0;
    if (!(value >= 0.0)) // also NaN
        return 0;
    if (value >= top)
        return static_cast<int>(top);
    return static_cast<int>(std::floor(value + 0.5));
}

void copy_bits(const unsigned char *s, int64_t sbit, unsigned char *d, int64_t dbit, int64_t n)
{
    s += sbit >> 3;
    d += dbit >> 3;
    int sb = static_cast<int>(sbit & 7);
    int db = static_cast<int>(dbit & 7);
    if (sb == 0 && db == 0) {
        std::memcpy(d, s, static_cast<size_t>(n >> 3));
        d += n >> 3;
        s += n >> 3;
        n &= 7;
    }
    while (n > 0) {
        int take = 8 - db;
        if (take > n)
            take = static_cast<int>(n);
        // Gather `take` bits starting at bit sb of a 16-bit window, reading
        // the second byte only when the bits reach into it.
        unsigned window = static_cast<unsigned>(s[0]) << 8;
        if (sb + take > 8)
            window |= s[1];
        unsigned bits = (window >> (16 - sb - take)) & ((1u << take) - 1);
        unsigned shift = static_cast<unsigned>(8 - db - take);
        unsigned mask = ((1u << take) - 1) << shift;
        *d = static_cast<unsigned char>((*d & ~mask) | (bits << shift));
        db += take;
        if (db == 8) {
            db = 0;
            ++d;
        }
        sb += take;
        s += sb >> 3;
        sb &= 7;
        n -= take;
    }
}

void fill_bits(unsigned char *d, int64_t dbit, int64_t n, int v)
{
    d += dbit >> 3;
    int db = static_cast<int>(dbit & 7);
    unsigned char full = v ? 0xff : 0x00;
    if (db) {
        int take = 8 - db;
        if (take > n)
            take = static_cast<int>(n);
        unsigned mask = ((1u << take) - 1) << (8 - db - take);
        *d = static_cast<unsigned char>((*d & ~mask) | (full & mask));
        ++d;
        n -= take;
    }
    if (n >= 8) {
        std::memset(d, full, static_cast<size_t>(n >> 3));
        d += n >> 3;
        n &= 7;
    }
    if (n > 0) {
        unsigned mask = (0xffu << (8 - n)) & 0xffu;
        *d = static_cast<unsigned char>((*d & ~mask) | (full & mask));
    }
}

void copy_area(const VelaImage *src, int64_t sx, int64_t sy, VelaImage *dst, int64_t dx, int64_t dy,
               int64_t w, int64_t h)
{
    for (int64_t r = 0; r < h; ++r) {
        const unsigned char *s = src->data + (sy + r) * src->row_stride;
        unsigned char *d = dst->data + (dy + r) * dst->row_stride;
        if (src->datatype == VELA_BIT) {
            copy_bits(s, src->bit_offset + sx, d, dst->bit_offset + dx, w);
            continue;
        }
        const ptrdiff_t sps = src->pixel_stride, dps = dst->pixel_stride;
        s += sx * sps;
        d += dx * dps;
        const int nb = src->nbands;
        if (sps == nb && dps == nb) {
            std::memcpy(d, s, static_cast<size_t>(w * nb));
        } else if (nb == 1) {
            for (int64_t i = 0; i < w; ++i)
                d[i * dps] = s[i * sps];
        } else {
            for (int64_t i = 0; i < w; ++i)
                std::memcpy(d + i * dps, s + i * sps, 3);
        }
    }
}

bool origin_offset(const VelaImage *src, const VelaImage *dst, const char *who, int64_t *dx,
                   int64_t *dy)
{
    const double limit = 1073741824.0; // 2^30 pixels
    double vx = (0.5 - static_cast<double>(dst->origin_x)) + static_cast<double>(src->origin_x);
    double vy = (0.5 - static_cast<double>(dst->origin_y)) + static_cast<double>(src->origin_y);
    if (!(std::fabs(vx) < limit && std::fabs(vy) < limit)) {
        report(src->state, VELA_ERROR_USER, "%s: image origins out of range", who);
        return false;
    }
    *dx = std::llround(std::ldexp(vx, 32)) >> 32;
    *dy = std::llround(std::ldexp(vy, 32)) >> 32;
    return true;
}

VelaImage *clone_whole(const VelaImage *img, const char *who)
{
    VelaImage *copy = vela_create(img->state, img->width, img->height, img->nbands, img->datatype);
    if (!copy) {
        report(img->state, VELA_ERROR_RESOURCE, "%s: no memory for a copy of the source", who);
        return nullptr;
    }
    copy_area(img, 0, 0, copy, 0, 0, img->width, img->height);
    copy->origin_x = img->origin_x;
    copy->origin_y = img->origin_y;
    return copy;
}

} // namespace vela

namespace {

using vela::report;

// Returns true when (band0, nbands) names bands img has: all of them, or
// one band of a 3-band image.
bool bands_ok(const VelaImage *img, int band0, int nbands)
{
    if (nbands == img->nbands)
        return band0 == 0;
    return nbands == 1 && band0 >= 0 && band0 < img->nbands;
}

// Returns true when the w x h area at (x, y) lies inside img and is not empty.
bool area_ok(const VelaImage *img, int x, int y, int w, int h)
{
    return w > 0 && h > 0 && x >= 0 && y >= 0 && x <= img->width - w && y <= img->height - h;
}

// Returns true when the area and bands of a child or copy are valid;
// reports otherwise.
bool check_area(const VelaImage *img, int x, int y, int w, int h, int band0, int nbands,
                const char *who)
{
    if (!area_ok(img, x, y, w, h)) {
        report(img->state, VELA_ERROR_USER,
               "%s: area %dx%d at (%d, %d) is not inside the %dx%d image", who, w, h, x, y,
               img->width, img->height);
        return false;
    }
    if (!bands_ok(img, band0, nbands)) {
        report(img->state, VELA_ERROR_USER, "%s: bands %d..%d of a %d-band image", who, band0,
               band0 + nbands - 1, img->nbands);
        return false;
    }
    return true;
}

// Returns a heap image record with no memory, or nullptr after reporting.
VelaImage *new_record(VelaState *state, const char *who)
{
    auto *img = new (std::nothrow) VelaImage;
    if (!img)
        report(state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
    return img;
}

} // namespace

extern "C" {

VelaImage *vela_create(VelaState *state, int width, int height, int nbands, int datatype)
{
    if (!state) {
        report(nullptr, VELA_ERROR_USER, "vela_create: no state");
        return nullptr;
    }
    if (width <= 0 || height <= 0 || width > vela::kMaxSide || height > vela::kMaxSide) {
        report(state, VELA_ERROR_USER, "vela_create: size %d x %d out of range", width, height);
        return nullptr;
    }
    if (datatype != VELA_BIT && datatype != VELA_BYTE) {
        report(state, VELA_ERROR_USER, "vela_create: unknown data type %d", datatype);
        return nullptr;
    }
    if (nbands != 1 && !(nbands == 3 && datatype == VELA_BYTE)) {
        report(state, VELA_ERROR_USER, "vela_create: %d bands of %s", nbands,
               datatype == VELA_BIT ? "bits" : "bytes");
        return nullptr;
    }
    size_t row, total;
    if (datatype == VELA_BIT) {
        row = (static_cast<size_t>(width) + 7) / 8;
    } else if (__builtin_mul_overflow(static_cast<size_t>(width), static_cast<size_t>(nbands),
                                      &row)) {
        row = SIZE_MAX;
    }
    if (row > INT32_MAX || __builtin_mul_overflow(row, static_cast<size_t>(height), &total) ||
        total > PTRDIFF_MAX - vela::kBlockPad) {
        report(state, VELA_ERROR_USER, "vela_create: %d x %d x %d is too large", width, height,
               nbands);
        return nullptr;
    }
    size_t got = 0;
    unsigned char *mem = vela::take_memory(total + vela::kBlockPad, &got);
    if (!mem) {
        report(state, VELA_ERROR_RESOURCE, "vela_create: no memory for %d x %d x %d pixels", width,
               height, nbands);
        return nullptr;
    }
    vela::Block *block = vela::block_new(mem, true);
    if (block)
        block->size = got;
    if (!block) {
        std::free(mem);
        report(state, VELA_ERROR_RESOURCE, "vela_create: out of memory");
        return nullptr;
    }
    VelaImage *img = new_record(state, "vela_create");
    if (!img) {
        vela::block_unref(block);
        return nullptr;
    }
    img->state = state;
    img->width = width;
    img->height = height;
    img->nbands = nbands;
    img->datatype = datatype;
    img->block = block;
    img->data = mem;
    img->row_stride = static_cast<ptrdiff_t>(row);
    img->pixel_stride = datatype == VELA_BIT ? 0 : nbands;
    img->bit_offset = 0;
    img->is_child = false;
    img->exported = false;
    img->origin_x = 0;
    img->origin_y = 0;
    img->has_roi = false;
    return img;
}

VelaImage *vela_create_copy(VelaImage *img, int x, int y, int width, int height, int band0,
                            int nbands)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_create_copy: no image");
        return nullptr;
    }
    if (!check_area(img, x, y, width, height, band0, nbands, "vela_create_copy"))
        return nullptr;
    VelaImage *copy = vela_create(img->state, width, height, nbands, img->datatype);
    if (!copy)
        return nullptr;
    VelaImage view;
    vela::make_view(img, x, y, width, height, band0, nbands, &view);
    vela::copy_area(&view, 0, 0, copy, 0, 0, width, height);
    return copy;
}

VelaImage *vela_create_child(VelaImage *img, int x, int y, int width, int height, int band0,
                             int nbands)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_create_child: no image");
        return nullptr;
    }
    if (!check_area(img, x, y, width, height, band0, nbands, "vela_create_child"))
        return nullptr;
    VelaImage *child = new_record(img->state, "vela_create_child");
    if (!child)
        return nullptr;
    vela::make_view(img, x, y, width, height, band0, nbands, child);
    child->block = img->block;
    vela::block_ref(child->block);
    return child;
}

void vela_destroy(VelaImage *img)
{
    if (!img)
        return;
    vela::window_release(img);
    vela::colour_image_release(img);
    vela::block_unref(img->block);
    delete img;
}

void vela_get_info(VelaImage *img, int *width, int *height, int *nbands, int *datatype)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_get_info: no image");
        return;
    }
    if (width)
        *width = img->width;
    if (height)
        *height = img->height;
    if (nbands)
        *nbands = img->nbands;
    if (datatype)
        *datatype = img->datatype;
}

int vela_get_width(VelaImage *img)
{
    return img ? img->width : 0;
}

int vela_get_height(VelaImage *img)
{
    return img ? img->height : 0;
}

int vela_get_nbands(VelaImage *img)
{
    return img ? img->nbands : 0;
}

int vela_get_datatype(VelaImage *img)
{
    return img ? img->datatype : 0;
}

VelaState *vela_get_state(VelaImage *img)
{
    return img ? img->state : nullptr;
}

int vela_set_origin(VelaImage *img, float x, float y)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_set_origin: no image");
        return 0;
    }
    if (!std::isfinite(x) || !std::isfinite(y)) {
        report(img->state, VELA_ERROR_USER, "vela_set_origin: origin is not finite");
        return 0;
    }
    img->origin_x = x;
    img->origin_y = y;
    return 1;
}

void vela_get_origin(VelaImage *img, float *x, float *y)
{
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "vela_get_origin: no image");
        return;
    }
    if (x)
        *x = img->origin_x;
    if (y)
        *y = img->origin_y;
}

int vela_set_value(VelaImage *img, const float *value)
{
    if (!img || !value) {
        report(img ? img->state : nullptr, VELA_ERROR_USER, "vela_set_value: no %s",
               img ? "value" : "image");
        return 0;
    }
    vela::PodVec<vela::Rect> rects;
    if (!vela::writable_rects(img, &rects)) {
        report(img->state, VELA_ERROR_RESOURCE, "vela_set_value: out of memory");
        return 0;
    }
    unsigned char v[3];
    for (int b = 0; b < img->nbands; ++b)
        v[b] = static_cast<unsigned char>(vela::quantize(value[b], img->datatype));
    for (const vela::Rect &r : rects) {
        const int64_t w = r.x1 - r.x0;
        for (int y = r.y0; y < r.y1; ++y) {
            unsigned char *row = img->data + y * img->row_stride;
            if (img->datatype == VELA_BIT) {
                vela::fill_bits(row, img->bit_offset + r.x0, w, v[0]);
                continue;
            }
            const ptrdiff_t ps = img->pixel_stride;
            unsigned char *d = row + r.x0 * ps;
            if (img->nbands == 1 && ps == 1) {
                std::memset(d, v[0], static_cast<size_t>(w));
            } else if (img->nbands == 1) {
                for (int64_t i = 0; i < w; ++i)
                    d[i * ps] = v[0];
            } else {
                for (int64_t i = 0; i < w; ++i)
                    std::memcpy(d + i * ps, v, 3);
            }
        }
    }
    vela::window_paint(img, rects.data(), rects.size());
    return 1;
}

int vela_copy(VelaImage *src, VelaImage *dst)
{
    if (!src || !dst) {
        report(src   ? src->state
               : dst ? dst->state
                     : nullptr,
               VELA_ERROR_USER, "vela_copy: no image");
        return 0;
    }
    if (src->nbands != dst->nbands || src->datatype != dst->datatype) {
        report(dst->state, VELA_ERROR_USER,
               "vela_copy: images differ in bands (%d, %d) or type (%d, %d)", src->nbands,
               dst->nbands, src->datatype, dst->datatype);
        return 0;
    }
    int64_t ox, oy;
    if (!vela::origin_offset(src, dst, "vela_copy", &ox, &oy))
        return 0;
    if (src == dst && ox == 0 && oy == 0)
        return 1;
    vela::PodVec<vela::Rect> rects;
    if (!vela::writable_rects(dst, &rects)) {
        report(dst->state, VELA_ERROR_RESOURCE, "vela_copy: out of memory");
        return 0;
    }
    VelaImage *tmp = nullptr;
    if (vela::may_overlap(src, dst)) {
        tmp = vela::clone_whole(src, "vela_copy");
        if (!tmp)
            return 0;
        src = tmp;
    }
    // Destination pixel (x, y) takes source pixel (x + ox, y + oy); each
    // rectangle is narrowed to what is copied, for painting window images.
    const vela::Rect from{static_cast<int>(std::clamp<int64_t>(-ox, 0, dst->width)),
                          static_cast<int>(std::clamp<int64_t>(-oy, 0, dst->height)),
                          static_cast<int>(std::clamp<int64_t>(src->width - ox, 0, dst->width)),
                          static_cast<int>(std::clamp<int64_t>(src->height - oy, 0, dst->height))};
    for (vela::Rect &r : rects)
        r = vela::intersect(r, from);
    if (vela::window_paint_from(dst, src, ox, oy, rects.data(), rects.size())) {
        vela_destroy(tmp);
        return 1;
    }
    for (const vela::Rect &r : rects)
        if (!r.empty())
            vela::copy_area(src, r.x0 + ox, r.y0 + oy, dst, r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
    vela_destroy(tmp);
    return 1;
}

} // extern "C"
