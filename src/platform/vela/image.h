/*
 * image.h - the library's private records (state, images, regions of
 * interest) and the helpers that the operation families share.  Nothing
 * here is visible outside libvela.so.1.
 */
#ifndef VELA_IMAGE_H
#define VELA_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vela.h"

namespace vela {

// Largest width or height an image may have, in pixels.
constexpr int kMaxSide = 65535 * 4;

// A growable array of trivially copyable values that reports allocation
// failure instead of throwing (the library is built without exceptions).
template <class T>
class PodVec {
  public:
    PodVec() = default;
    PodVec(const PodVec &) = delete;
    PodVec &operator=(const PodVec &) = delete;
    ~PodVec() { std::free(items_); }

    // Returns false when memory ran out; the array is then unchanged.
    bool reserve(size_t n)
    {
        if (n <= cap_)
            return true;
        if (n > SIZE_MAX / sizeof(T))
            return false;
        void *p = std::realloc(items_, n * sizeof(T));
        if (!p)
            return false;
        items_ = static_cast<T *>(p);
        cap_ = n;
        return true;
    }
    // Returns false when memory ran out; the array is then unchanged.
    bool push(const T &v)
    {
        if (size_ == cap_ && !reserve(cap_ ? cap_ * 2 : 8))
            return false;
        items_[size_++] = v;
        return true;
    }
    // Returns false when memory ran out; new items are uninitialised.
    bool resize(size_t n)
    {
        if (!reserve(n))
            return false;
        size_ = n;
        return true;
    }
    // Returns false when memory ran out; this array is then unchanged.
    bool assign(const PodVec &o)
    {
        if (!reserve(o.size_))
            return false;
        if (o.size_)
            std::memcpy(items_, o.items_, o.size_ * sizeof(T));
        size_ = o.size_;
        return true;
    }
    void clear() { size_ = 0; }
    size_t size() const { return size_; }
    T *data() { return items_; }
    const T *data() const { return items_; }
    T &operator[](size_t i) { return items_[i]; }
    const T &operator[](size_t i) const { return items_[i]; }
    T *begin() { return items_; }
    T *end() { return items_ + size_; }
    const T *begin() const { return items_; }
    const T *end() const { return items_ + size_; }

  private:
    T *items_ = nullptr;
    size_t size_ = 0; // items in use
    size_t cap_ = 0;  // items allocated
};

// A half-open pixel rectangle [x0, x1) x [y0, y1).
struct Rect {
    int x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

// Returns the intersection of a and b (possibly empty).
inline Rect intersect(const Rect &a, const Rect &b)
{
    Rect r;
    r.x0 = a.x0 > b.x0 ? a.x0 : b.x0;
    r.y0 = a.y0 > b.y0 ? a.y0 : b.y0;
    r.x1 = a.x1 < b.x1 ? a.x1 : b.x1;
    r.y1 = a.y1 < b.y1 ? a.y1 : b.y1;
    return r;
}

// Pixel memory shared by an image and its children; freed when the last
// image that views it goes.
struct Block {
    unsigned char *mem; // malloc'd pixel memory, owned
    long refs;          // images viewing this block
    bool padded;        // kBlockPad readable bytes follow the last pixel
    size_t size;        // bytes allocated, when the library allocated them; else 0
};

// Spare bytes after the pixels of memory the library allocates, so that a
// pixel may be read with one word load that reaches past its last byte.
constexpr size_t kBlockPad = 4;

// Returns a new block owning mem with one reference, or nullptr.
Block *block_new(unsigned char *mem, bool padded);
void block_ref(Block *b);
// Drops one reference; frees the memory and the block with the last one
// (large memory is kept for reuse, see take_memory).
void block_unref(Block *b);
// Returns zero-filled memory of at least size bytes (its real size in
// *got), reusing what a large image left behind when it fits; nullptr when
// memory runs out.
unsigned char *take_memory(size_t size, size_t *got);

} // namespace vela

struct VelaError {
    int category; // VELA_ERROR_*
    int primary;  // 1 for the first error of a failing call
    const char *string;
};

struct VelaState {
    VelaErrorFunc handler; // nullptr = the default handler
};

struct VelaRoi {
    VelaState *state;
    vela::PodVec<vela::Rect> rects; // as added, unclipped, may overlap
};

struct VelaImage {
    VelaState *state;
    int width, height;      // pixels
    int nbands;             // 1 or 3
    int datatype;           // VELA_BIT or VELA_BYTE
    vela::Block *block;     // memory this image views; nullptr only for views
                            // made on the stack by the library itself
    unsigned char *data;    // byte holding band 0 of pixel (0, 0)
    ptrdiff_t row_stride;   // bytes between rows
    ptrdiff_t pixel_stride; // bytes between pixels; 0 for 1-bit images
    int bit_offset;         // 1-bit images: bit of data[0] holding pixel 0, 0 = MSB
    bool is_child;          // views another image's memory
    bool exported;
    float origin_x, origin_y;     // pixels, in this image's own coordinates
    bool has_roi;                 // false = the whole image is writable
    vela::PodVec<vela::Rect> roi; // disjoint, inside the image
};

namespace vela {

// Reports one primary error of the given category to state's handler (the
// default handler when state is nullptr); the text names the function.
void report(VelaState *state, int category, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Returns the rectangles of dst that an operation may write: its region of
// interest, or the whole image.  Fails only when memory ran out.
bool writable_rects(const VelaImage *dst, PodVec<Rect> *out);

// Fills *view with a view of the given area and bands of img that owns
// nothing (block nullptr); the caller has checked the arguments.
void make_view(const VelaImage *img, int x, int y, int width, int height, int band0, int nbands,
               VelaImage *view);

// Returns true when a and b may share bytes of pixel memory.
bool may_overlap(const VelaImage *a, const VelaImage *b);

// Returns a new image holding a copy of all of img (origin included), or
// nullptr after reporting; the caller destroys it.  Used to read a source
// that shares memory with the destination.
VelaImage *clone_whole(const VelaImage *img, const char *who);

// Returns the integer offset that takes a destination pixel to the source
// pixel aligned with it by the two origins: floor(0.5 - dst origin + src
// origin), computed as vela_affine's identity case computes it.  Fails
// (after reporting) when the origins are not finite or too far apart.
bool origin_offset(const VelaImage *src, const VelaImage *dst, const char *who, int64_t *dx,
                   int64_t *dy);

// Copies the n bits starting at bit sbit of s to the n bits starting at bit
// dbit of d (MSB first); other bits of d are kept.  The ranges must not
// overlap.
void copy_bits(const unsigned char *s, int64_t sbit, unsigned char *d, int64_t dbit, int64_t n);
// Sets the n bits starting at bit dbit of d to v (0 or 1).
void fill_bits(unsigned char *d, int64_t dbit, int64_t n, int v);

// Returns bit x of a 1-bit row whose pixel 0 is bit bo of row[0].
inline int get_bit(const unsigned char *row, int64_t bo, int64_t x)
{
    int64_t b = bo + x;
    return (row[b >> 3] >> (7 - (b & 7))) & 1;
}
inline void put_bit(unsigned char *row, int64_t bo, int64_t x, int v)
{
    int64_t b = bo + x;
    unsigned char m = static_cast<unsigned char>(0x80u >> (b & 7));
    row[b >> 3] = static_cast<unsigned char>(v ? (row[b >> 3] | m) : (row[b >> 3] & ~m));
}

// Returns value rounded to nearest (halves up) and clamped to the range of
// the type: [0, 1] for bits, [0, 255] for bytes; NaN gives 0.
int quantize(double value, int datatype);

// Internal copy of the src area starting at (sx, sy) to the dst area
// starting at (dx, dy), w x h pixels, all bands; the caller has clipped
// both areas and checked that the images agree in bands and type.
void copy_area(const VelaImage *src, int64_t sx, int64_t sy, VelaImage *dst, int64_t dx, int64_t dy,
               int64_t w, int64_t h);

} // namespace vela

#endif
