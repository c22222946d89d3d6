/*
 * colour.h - the colour family's private records (lookups and colour
 * cubes, dither masks, error-diffusion kernels, colour spaces) and the
 * helpers its files share: the per-state standard objects, the walk over a
 * destination's writable runs, and the exact nearest-colour search.
 */
#ifndef VELA_COLOUR_H
#define VELA_COLOUR_H

#include <cstdint>

#include "image.h"

// An ordered-dither mask: nbands planes of height rows of width thresholds
// in [0, 1).
struct VelaDitherMask {
    VelaState *state;
    int width, height, nbands;
    bool standard; // owned by the state
    vela::PodVec<float> values; // band, then row, then column
};

// An error-diffusion kernel.  Only Floyd-Steinberg exists; the record is
// the handle the callers name it by.
struct VelaKernel {
    const char *name;
};

namespace vela {

// How a colour space stores a colour; see colorspace.cc.
enum class SpaceKind { rgb_linear, y_linear, rgb_709, ycc_601, photo_ycc };

} // namespace vela

// A colour space: immutable, shared by every state.
struct VelaColorSpace {
    const char *name;
    vela::SpaceKind kind;
    int nbands; // bands of an image that holds this space's colours
};

namespace vela {

// Frees the standard lookups and masks of state; vela_close calls it.
void colour_state_release(VelaState *state);
// Forgets the colour space of img; vela_destroy calls it.
void colour_image_release(VelaImage *img);

// Returns state's standard lookup or mask of that name, made on first use,
// or nullptr (after reporting when memory ran out; silently for unknown
// names).  The state owns it.
VelaLookup *standard_lookup(VelaState *state, const char *name);
VelaDitherMask *standard_mask(VelaState *state, const char *name);

// Returns a new "dm443" mask marked standard, or nullptr (not reported).
VelaDitherMask *make_dm443(VelaState *state);
// Frees a mask whatever its owner.
void free_mask(VelaDitherMask *mask);

// Returns the largest value of a data type: 1 for bits, 255 for bytes.
inline int type_max(int datatype)
{
    return datatype == VELA_BIT ? 1 : 255;
}

// Returns the value of level k of a cube band with n levels over 0 .. top:
// round(k * top / (n - 1)).
inline int level_value(int k, int n, int top)
{
    return (2 * k * top + (n - 1)) / (2 * (n - 1));
}

// Calls run(src, sx, sy, dst, dx, dy, w) for every row run of dst's
// writable area that src covers once the two origins are aligned: the run
// reads w pixels of src from (sx, sy) and writes w pixels of dst from
// (dx, dy).  A source that shares memory with dst is read from a copy,
// except when it is dst itself with the origins aligned and in_place is
// true (the operation reads each pixel before writing it).  Returns 1, or
// 0 after reporting.
template <class Run>
int for_each_run(VelaImage *src, VelaImage *dst, const char *who, bool in_place, Run &&run)
{
    int64_t ox, oy;
    if (!origin_offset(src, dst, who, &ox, &oy))
        return 0;
    PodVec<Rect> rects;
    if (!writable_rects(dst, &rects)) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    VelaImage *tmp = nullptr;
    if (!(in_place && src == dst && ox == 0 && oy == 0) && may_overlap(src, dst)) {
        tmp = clone_whole(src, who);
        if (!tmp)
            return 0;
        src = tmp;
    }
    for (const Rect &r : rects) {
        int64_t x0 = r.x0 > -ox ? r.x0 : -ox;
        int64_t y0 = r.y0 > -oy ? r.y0 : -oy;
        int64_t x1 = r.x1 < src->width - ox ? r.x1 : src->width - ox;
        int64_t y1 = r.y1 < src->height - oy ? r.y1 : src->height - oy;
        if (x0 >= x1)
            continue;
        for (int64_t y = y0; y < y1; ++y)
            run(static_cast<const VelaImage *>(src), x0 + ox, y + oy, dst, x0, y, x1 - x0);
    }
    vela_destroy(tmp);
    return 1;
}

// Writes w index values (0 or 1 for a 1-bit dst) to dst's 1-band row dy
// from pixel dx.
void store_indices(VelaImage *dst, int64_t dx, int64_t dy, const unsigned char *idx, int64_t w);

// The exact nearest of up to 256 colours of 3 bytes (squared distance,
// ties to the lower entry).  Answers are cached per cell of 4 x 4 x 4
// colours: a cell points at a block of the answers of its 64 colours.  The
// entries that can be nearest somewhere in a cell are found by pruning the
// candidates of the 16 x 16 x 16 cell around it; a cell with one candidate
// shares that entry's block of 64 equal answers, the others get their own.
// A search is then two table reads.  When memory for a block runs out the
// cell is answered through a scratch block, uncached, so answers stay exact.
class NearestIndex {
  public:
    NearestIndex() = default;
    NearestIndex(const NearestIndex &) = delete;
    NearestIndex &operator=(const NearestIndex &) = delete;

    // Takes n colours (n * 3 bytes, band-minor); returns false when memory
    // ran out.  Forgets earlier colours and answers.
    bool init(const unsigned char *colours, int n);
    // Returns the entry nearest to (c0, c1, c2).
    int find(unsigned c0, unsigned c1, unsigned c2)
    {
        const uint32_t key = (parts_[0][c0] | parts_[1][c1] | parts_[2][c2]) & 0x3ffff;
        uint32_t block = fine_[key];
        if (__builtin_expect(block == 0, 0))
            block = fill(key, c0, c1, c2);
        return blocks_[block * 64 + (((c0 & 3) << 4) | ((c1 & 3) << 2) | (c2 & 3))];
    }
    // Writes add + the entry nearest to each of n colours, read with a
    // stride of ps bytes from src, to out.
    void find_row(const unsigned char *src, ptrdiff_t ps, int64_t n, unsigned char add,
                  unsigned char *out);

  private:
    static constexpr uint32_t kScratch = 1; // block for uncached cells
    static constexpr uint32_t kShared = 2;  // entry e's block is kShared + e

    // Works out the block of the cell with that key holding (c0, c1, c2);
    // returns its number.
    uint32_t fill(uint32_t key, unsigned c0, unsigned c1, unsigned c2);
    // Returns true when entry a is nearer than entry e (or as near and
    // lower) to every colour of the box lo .. hi (inclusive per band).
    bool dominates(int a, int e, const int lo[3], const int hi[3]) const;
    // Writes into out, in order, the entries of in (count n, ascending)
    // that may be nearest to a colour of the box; returns their count.
    // thorough also tests every pair of survivors.
    int prune(const unsigned char *in, int n, const int lo[3], const int hi[3], bool thorough,
              unsigned char *out) const;

    int n_ = 0;
    unsigned char colours_[256 * 3];
    // Per band, a value's share of the cell key (its top 6 bits spread
    // over bits 0..17 in Morton order, so that nearby colours share cache
    // lines) and of the place in the cell's block (bits 24..29).
    uint32_t parts_[3][256];
    PodVec<uint16_t> fine_;   // 2^18 cells by key: 0 unknown, else a block number
    PodVec<uint32_t> coarse_; // 2^12 cells: 0 unknown, else 1 + start in cpool_
    PodVec<unsigned char> cpool_;  // per coarse cell: count - 1, then entries
    PodVec<unsigned char> blocks_; // 64 answers per block; block 0 unused
    size_t blocks_room_ = 0;       // bytes reserved in blocks_
};

} // namespace vela

// A lookup: entries colours of nbands bands of out_type for the index
// values offset .. offset + entries - 1 of in_type.  values holds them
// entry-major, band-minor; a 1-bit lookup stores 0 or 1.  A colour cube
// also keeps its grid, which the dithers read instead of the values.
struct VelaLookup {
    VelaState *state;
    int in_type, out_type; // VELA_BIT or VELA_BYTE
    int nbands;            // 1 or 3
    int entries;           // 1 .. 256 (1 .. 2 for 1-bit indices)
    int offset;            // index value of entry 0
    bool standard;         // owned by the state, not by the caller
    bool cube;             // multipliers and dims below are valid
    int multipliers[3];    // index step of one level per band; < 0 counts down
    int dims[3];           // levels per band, 2 .. 256
    vela::PodVec<unsigned char> values; // entries * nbands
    // vela_nearest_color's answers for these values, kept for the next
    // call; nullptr until then and after the values change.
    vela::NearestIndex *nearest = nullptr;

    VelaLookup() = default;
    VelaLookup(const VelaLookup &) = delete;
    VelaLookup &operator=(const VelaLookup &) = delete;
    ~VelaLookup() { delete nearest; }
};

#endif
