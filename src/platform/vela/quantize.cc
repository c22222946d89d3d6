/*
 * quantize.cc - colour reduction: the exact nearest-colour search with its
 * per-cell cache, vela_nearest_color, and vela_choose_colormap.
 *
 * The quantizer returns the image's own colours when it has no more than
 * asked for.  Otherwise it works on the image's distinct colours with
 * their counts (or, past a million distinct colours, on the means of
 * 4 x 4 x 4 colour cells): it splits the colours greedily, always cutting
 * the group with the largest squared error at the plane that lowers the
 * total error most (Wu's criterion, on the colours themselves rather than
 * on a coarse histogram), then refines the group means with k-means passes
 * until no colour changes group.
 */
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "colour.h"

namespace vela {

bool NearestIndex::init(const unsigned char *colours, int n)
{
    n_ = n;
    std::memcpy(colours_, colours, static_cast<size_t>(n) * 3);
    if (!fine_.resize(size_t{1} << 18) || !coarse_.resize(4096) ||
        !blocks_.resize((kShared + static_cast<size_t>(n)) * 64))
        return false;
    blocks_room_ = blocks_.size();
    for (unsigned v = 0; v < 256; ++v) {
        uint32_t m = 0;
        for (int k = 0; k < 6; ++k)
            if ((v >> 2) & (1u << k))
                m |= 1u << (3 * k);
        parts_[0][v] = m << 2 | (v & 3) << 28;
        parts_[1][v] = m << 1 | (v & 3) << 26;
        parts_[2][v] = m | (v & 3) << 24;
    }
    std::memset(fine_.data(), 0, fine_.size() * sizeof(uint16_t));
    std::memset(coarse_.data(), 0, coarse_.size() * sizeof(uint32_t));
    cpool_.clear();
    for (int e = 0; e < n; ++e)
        std::memset(blocks_.data() + (kShared + e) * 64, e, 64);
    return true;
}

void NearestIndex::find_row(const unsigned char *src, ptrdiff_t ps, int64_t n, unsigned char add,
                            unsigned char *out)
{
    // The tables in locals: stores to out could otherwise alias them.
    const uint16_t *fine = fine_.data();
    const unsigned char *blocks = blocks_.data();
    const uint32_t *p0 = parts_[0], *p1 = parts_[1], *p2 = parts_[2];
    for (int64_t i = 0; i < n; ++i, src += ps) {
        const uint32_t parts = p0[src[0]] | p1[src[1]] | p2[src[2]];
        const uint32_t key = parts & 0x3ffff;
        uint32_t block = fine[key];
        if (__builtin_expect(block == 0, 0)) {
            block = fill(key, src[0], src[1], src[2]);
            blocks = blocks_.data();
        }
        out[i] = static_cast<unsigned char>(add + blocks[block * 64 + (parts >> 24)]);
    }
}

bool NearestIndex::dominates(int a, int e, const int lo[3], const int hi[3]) const
{
    // |p - e|^2 - |p - a|^2 is linear in p, so its least value over the box
    // is at a corner, found band by band.
    const unsigned char *ca = colours_ + a * 3, *ce = colours_ + e * 3;
    int least = 0;
    for (int b = 0; b < 3; ++b) {
        const int slope = 2 * (ca[b] - ce[b]);
        least += (slope > 0 ? lo[b] : hi[b]) * slope + ce[b] * ce[b] - ca[b] * ca[b];
    }
    return least > 0 || (least == 0 && a < e);
}

int NearestIndex::prune(const unsigned char *in, int n, const int lo[3], const int hi[3],
                        bool thorough, unsigned char *out) const
{
    // First: an entry can be nearest to a colour of the box only if its
    // nearest point of the box is no farther than the farthest point of the
    // box from the entry that is best in that respect.
    int mind[256];
    int best_max = INT_MAX, best = in[0];
    for (int i = 0; i < n; ++i) {
        const unsigned char *c = colours_ + in[i] * 3;
        int dmin = 0, dmax = 0;
        for (int b = 0; b < 3; ++b) {
            const int below = lo[b] - c[b], above = c[b] - hi[b];
            const int near = below > 0 ? below : above > 0 ? above : 0;
            // lo <= hi, so the farther corner is the larger of these two.
            const int far = -below > hi[b] - c[b] ? -below : hi[b] - c[b];
            dmin += near * near;
            dmax += far * far;
        }
        mind[i] = dmin;
        if (dmax < best_max) {
            best_max = dmax;
            best = in[i];
        }
    }
    int count = 0;
    for (int i = 0; i < n; ++i)
        if (mind[i] <= best_max && (in[i] == best || !dominates(best, in[i], lo, hi)))
            out[count++] = in[i];
    if (!thorough)
        return count;
    // Then: drop every entry that another beats over the whole box (the
    // nearest entry of any colour is never beaten there, so it stays).
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        bool beaten = false;
        for (int j = 0; j < count && !beaten; ++j)
            beaten = j != i && dominates(out[j], out[i], lo, hi);
        if (!beaten)
            mind[kept++] = out[i];
    }
    for (int i = 0; i < kept; ++i)
        out[i] = static_cast<unsigned char>(mind[i]);
    return kept;
}

uint32_t NearestIndex::fill(uint32_t key, unsigned c0, unsigned c1, unsigned c2)
{
    // Candidates of the coarse cell, made on first use.
    const uint32_t ckey = ((c0 >> 4) << 8) | ((c1 >> 4) << 4) | (c2 >> 4);
    unsigned char list[256], all[256];
    const unsigned char *coarse;
    int ncoarse;
    if (coarse_[ckey]) {
        coarse = cpool_.data() + coarse_[ckey];
        ncoarse = coarse[-1] + 1;
    } else {
        for (int i = 0; i < n_; ++i)
            all[i] = static_cast<unsigned char>(i);
        const int lo[3] = {static_cast<int>(c0 & ~15u), static_cast<int>(c1 & ~15u),
                           static_cast<int>(c2 & ~15u)};
        const int hi[3] = {lo[0] + 15, lo[1] + 15, lo[2] + 15};
        ncoarse = prune(all, n_, lo, hi, false, list);
        const size_t start = cpool_.size();
        if (cpool_.resize(start + 1 + static_cast<size_t>(ncoarse))) {
            cpool_[start] = static_cast<unsigned char>(ncoarse - 1);
            std::memcpy(cpool_.data() + start + 1, list, static_cast<size_t>(ncoarse));
            coarse_[ckey] = static_cast<uint32_t>(start + 1);
            coarse = cpool_.data() + start + 1;
        } else {
            std::memcpy(all, list, static_cast<size_t>(ncoarse));
            coarse = all;
        }
    }
    const int lo[3] = {static_cast<int>(c0 & ~3u), static_cast<int>(c1 & ~3u),
                       static_cast<int>(c2 & ~3u)};
    const int hi[3] = {lo[0] + 3, lo[1] + 3, lo[2] + 3};
    const int n = prune(coarse, ncoarse, lo, hi, true, list);
    if (n == 1)
        return fine_[key] = static_cast<uint16_t>(kShared + list[0]);
    // The cell's own block, or the scratch block when the block numbers or
    // memory ran out.
    const size_t start = blocks_.size();
    uint32_t block = kScratch;
    if (start + 64 > blocks_room_ && blocks_.reserve(start * 2))
        blocks_room_ = start * 2;
    if (start / 64 <= UINT16_MAX && start + 64 <= blocks_room_ && blocks_.resize(start + 64))
        block = static_cast<uint32_t>(start / 64);
    // Distances split by band: d = sq[0][i] + sq[1][j] + sq[2][k] for the
    // colour lo + (i, j, k); the candidates are in ascending order, so the
    // first strictly nearest wins ties.
    int best[64];
    unsigned char *answers = blocks_.data() + block * 64;
    for (int c = 0; c < n; ++c) {
        const unsigned char *e = colours_ + list[c] * 3;
        int sq[3][4];
        for (int b = 0; b < 3; ++b)
            for (int k = 0; k < 4; ++k)
                sq[b][k] = (lo[b] + k - e[b]) * (lo[b] + k - e[b]);
        for (int i = 0; i < 64; ++i) {
            const int d = sq[0][i >> 4] + sq[1][(i >> 2) & 3] + sq[2][i & 3];
            if (c == 0 || d < best[i]) {
                best[i] = d;
                answers[i] = list[c];
            }
        }
    }
    if (block != kScratch)
        fine_[key] = static_cast<uint16_t>(block);
    return block;
}

} // namespace vela

namespace {

using vela::PodVec;
using vela::report;

// A colour of the image with its pixel count (or a cell's mean colour).
struct Point {
    float c[3];
    uint32_t w;
};

// An open-addressing table of distinct 24-bit colours and their counts.
class ColourCounts {
  public:
    // Returns false when memory ran out.
    bool init(int bits)
    {
        mask_ = (uint32_t{1} << bits) - 1;
        size_ = 0;
        if (!keys_.resize(size_t{mask_} + 1) || !counts_.resize(size_t{mask_} + 1))
            return false;
        std::memset(keys_.data(), 0, keys_.size() * sizeof(uint32_t));
        return true;
    }
    // Counts the colour; returns false when the table is half full.
    bool add(uint32_t colour, uint32_t n)
    {
        const uint32_t key = colour + 1;
        uint32_t h = (key * 0x9E3779B1u) >> 8 & mask_;
        while (keys_[h] != key) {
            if (keys_[h] == 0) {
                if (size_ >= (mask_ + 1) / 2)
                    return false;
                keys_[h] = key;
                counts_[h] = 0;
                ++size_;
                break;
            }
            h = (h + 1) & mask_;
        }
        counts_[h] += n;
        return true;
    }
    uint32_t size() const { return size_; }
    uint32_t slots() const { return mask_ + 1; }
    // Slot i's colour plus one (0 = empty) and count.
    uint32_t key(uint32_t i) const { return keys_[i]; }
    uint32_t count(uint32_t i) const { return counts_[i]; }

  private:
    PodVec<uint32_t> keys_, counts_;
    uint32_t mask_ = 0, size_ = 0;
};

// Calls f(c0, c1, c2, run) for every run of equal pixels in a row of img.
template <class F>
void for_each_colour(const VelaImage *img, F &&f)
{
    const ptrdiff_t ps = img->pixel_stride;
    for (int y = 0; y < img->height; ++y) {
        const unsigned char *p = img->data + y * img->row_stride;
        int x = 0;
        while (x < img->width) {
            const unsigned char *q = p + x * ps;
            int run = 1;
            while (x + run < img->width && std::memcmp(q + run * ps, q, 3) == 0)
                ++run;
            if (!f(q[0], q[1], q[2], static_cast<uint32_t>(run)))
                return;
            x += run;
        }
    }
}

// Returns a new lookup holding the colours (n * 3 bytes), or nullptr after
// reporting.
VelaLookup *make_colormap(VelaState *state, const unsigned char *colours, int n)
{
    return vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, n, 0, colours);
}

// Fills colours with the image's distinct colours in order of first
// appearance; returns their count, or limit + 1 when there are more than
// limit (<= 256).
int exact_colours(const VelaImage *img, int limit, unsigned char *colours)
{
    uint32_t table[1024] = {}; // colour + 1, open addressing
    int count = 0;
    for_each_colour(img, [&](int c0, int c1, int c2, uint32_t) {
        const uint32_t key = static_cast<uint32_t>(c0 << 16 | c1 << 8 | c2) + 1;
        uint32_t h = (key * 0x9E3779B1u) >> 22;
        while (table[h] && table[h] != key)
            h = (h + 1) & 1023;
        if (table[h])
            return true;
        if (count == limit) {
            ++count;
            return false;
        }
        table[h] = key;
        colours[count * 3] = static_cast<unsigned char>(c0);
        colours[count * 3 + 1] = static_cast<unsigned char>(c1);
        colours[count * 3 + 2] = static_cast<unsigned char>(c2);
        ++count;
        return true;
    });
    return count;
}

// Fills points with the image's distinct colours and counts, or with the
// means of occupied 4 x 4 x 4 cells when there are over a million; returns
// false when memory ran out.
bool gather_points(const VelaImage *img, PodVec<Point> *points)
{
    points->clear();
    ColourCounts counts;
    bool fits = counts.init(21);
    if (!fits)
        return false;
    for_each_colour(img, [&](int c0, int c1, int c2, uint32_t run) {
        fits = counts.add(static_cast<uint32_t>(c0 << 16 | c1 << 8 | c2), run);
        return fits;
    });
    if (fits) {
        if (!points->reserve(counts.size()))
            return false;
        for (uint32_t i = 0; i < counts.slots(); ++i) {
            const uint32_t k = counts.key(i);
            if (!k)
                continue;
            const uint32_t c = k - 1;
            points->push(Point{{static_cast<float>(c >> 16), static_cast<float>(c >> 8 & 255),
                                static_cast<float>(c & 255)},
                               counts.count(i)});
        }
        return true;
    }
    // Too many colours: cell sums instead.
    struct Cell {
        double s[3];
        uint32_t w;
    };
    PodVec<Cell> cells;
    if (!cells.resize(size_t{1} << 18))
        return false;
    std::memset(cells.data(), 0, cells.size() * sizeof(Cell));
    for_each_colour(img, [&](int c0, int c1, int c2, uint32_t run) {
        Cell &cell = cells[static_cast<size_t>((c0 >> 2) << 12 | (c1 >> 2) << 6 | (c2 >> 2))];
        cell.s[0] += static_cast<double>(c0) * run;
        cell.s[1] += static_cast<double>(c1) * run;
        cell.s[2] += static_cast<double>(c2) * run;
        cell.w += run;
        return true;
    });
    for (const Cell &cell : cells) {
        if (!cell.w)
            continue;
        const double w = cell.w;
        if (!points->push(Point{{static_cast<float>(cell.s[0] / w), static_cast<float>(cell.s[1] / w),
                                 static_cast<float>(cell.s[2] / w)},
                                cell.w}))
            return false;
    }
    return true;
}

// A group of points [lo, hi) of the point array and its squared error.
struct Group {
    size_t lo, hi;
    double sse;
    bool splittable;
};

// Returns the squared error of points [lo, hi) about their mean.
double group_sse(const Point *p, size_t lo, size_t hi)
{
    double w = 0, s[3] = {0, 0, 0}, q = 0;
    for (size_t i = lo; i < hi; ++i) {
        const double pw = p[i].w;
        w += pw;
        for (int b = 0; b < 3; ++b) {
            s[b] += pw * p[i].c[b];
            q += pw * p[i].c[b] * p[i].c[b];
        }
    }
    const double e = q - (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w;
    return e > 0 ? e : 0;
}

// Splits g in two at the plane (axis, value) that leaves the least total
// squared error; the points with c[axis] <= value come first.  Returns
// false when all points of g are one colour.
bool split_group(Point *p, Group *g, Group *other)
{
    struct Bin {
        double w, s[3];
    };
    Bin bins[3][256];
    std::memset(bins, 0, sizeof bins);
    double tw = 0, ts[3] = {0, 0, 0};
    for (size_t i = g->lo; i < g->hi; ++i) {
        const double w = p[i].w;
        tw += w;
        for (int b = 0; b < 3; ++b)
            ts[b] += w * p[i].c[b];
        for (int a = 0; a < 3; ++a) {
            Bin &bin = bins[a][static_cast<int>(p[i].c[a])];
            bin.w += w;
            for (int b = 0; b < 3; ++b)
                bin.s[b] += w * p[i].c[b];
        }
    }
    // Maximising |S_left|^2 / W_left + |S_right|^2 / W_right minimises the
    // error of the two halves.
    double best = -1;
    int best_axis = -1, best_value = 0;
    for (int a = 0; a < 3; ++a) {
        double w = 0, s[3] = {0, 0, 0};
        for (int v = 0; v < 255; ++v) {
            const Bin &bin = bins[a][v];
            if (bin.w == 0)
                continue;
            w += bin.w;
            for (int b = 0; b < 3; ++b)
                s[b] += bin.s[b];
            const double rw = tw - w;
            if (rw <= 0)
                break;
            const double r[3] = {ts[0] - s[0], ts[1] - s[1], ts[2] - s[2]};
            const double score = (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / w +
                                 (r[0] * r[0] + r[1] * r[1] + r[2] * r[2]) / rw;
            if (score > best) {
                best = score;
                best_axis = a;
                best_value = v;
            }
        }
    }
    if (best_axis < 0)
        return false;
    Point *mid = std::partition(p + g->lo, p + g->hi, [&](const Point &pt) {
        return static_cast<int>(pt.c[best_axis]) <= best_value;
    });
    const size_t m = static_cast<size_t>(mid - p);
    other->lo = m;
    other->hi = g->hi;
    g->hi = m;
    g->sse = group_sse(p, g->lo, g->hi);
    other->sse = group_sse(p, other->lo, other->hi);
    g->splittable = other->splittable = true;
    return true;
}

// Fills colours with the means of up to n groups of the points; returns
// the number of groups.
int split_points(PodVec<Point> &points, int n, Group *groups, unsigned char *colours)
{
    int count = 1;
    groups[0] = Group{0, points.size(), group_sse(points.data(), 0, points.size()), true};
    while (count < n) {
        int pick = -1;
        for (int i = 0; i < count; ++i)
            if (groups[i].splittable && groups[i].sse > 0 &&
                (pick < 0 || groups[i].sse > groups[pick].sse))
                pick = i;
        if (pick < 0)
            break;
        if (split_group(points.data(), &groups[pick], &groups[count]))
            ++count;
        else
            groups[pick].splittable = false;
    }
    for (int i = 0; i < count; ++i) {
        double w = 0, s[3] = {0, 0, 0};
        for (size_t k = groups[i].lo; k < groups[i].hi; ++k) {
            w += points[k].w;
            for (int b = 0; b < 3; ++b)
                s[b] += static_cast<double>(points[k].w) * points[k].c[b];
        }
        for (int b = 0; b < 3; ++b)
            colours[i * 3 + b] = static_cast<unsigned char>(vela::quantize(s[b] / w, VELA_BYTE));
    }
    return count;
}

// Moves the n colours to the means of the points nearest to them until no
// point changes colour (or after a fixed number of passes); returns false
// when memory ran out.
bool refine(const PodVec<Point> &points, int n, unsigned char *colours)
{
    constexpr int kPasses = 12;
    PodVec<unsigned char> owner;
    vela::NearestIndex nearest;
    if (!owner.resize(points.size()))
        return false;
    std::memset(owner.data(), 0, owner.size());
    for (int pass = 0; pass < kPasses; ++pass) {
        if (!nearest.init(colours, n))
            return false;
        double w[256] = {}, s[256][3] = {};
        size_t moved = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            const Point &p = points[i];
            const int k = nearest.find(static_cast<unsigned>(p.c[0] + 0.5f),
                                       static_cast<unsigned>(p.c[1] + 0.5f),
                                       static_cast<unsigned>(p.c[2] + 0.5f));
            if (owner[i] != k || pass == 0) {
                owner[i] = static_cast<unsigned char>(k);
                ++moved;
            }
            w[k] += p.w;
            for (int b = 0; b < 3; ++b)
                s[k][b] += static_cast<double>(p.w) * p.c[b];
        }
        if (moved == 0 && pass > 0)
            break;
        for (int k = 0; k < n; ++k)
            if (w[k] > 0)
                for (int b = 0; b < 3; ++b)
                    colours[k * 3 + b] =
                        static_cast<unsigned char>(vela::quantize(s[k][b] / w[k], VELA_BYTE));
    }
    return true;
}

// Returns true when the image's pixel memory may be read as 3-band bytes.
bool colour_image_ok(const VelaImage *img, const char *who)
{
    if (img->nbands != 3 || img->datatype != VELA_BYTE) {
        report(img->state, VELA_ERROR_USER, "%s: the image has %d band(s) of type %d, not 3 bytes",
               who, img->nbands, img->datatype);
        return false;
    }
    return true;
}

} // namespace

extern "C" {

VelaLookup *vela_choose_colormap(VelaImage *img, int ncolors)
{
    const char *who = "vela_choose_colormap";
    if (!img) {
        report(nullptr, VELA_ERROR_USER, "%s: no image", who);
        return nullptr;
    }
    if (!colour_image_ok(img, who))
        return nullptr;
    if (ncolors < 1 || ncolors > 256) {
        report(img->state, VELA_ERROR_USER, "%s: %d colours asked for (1 .. 256)", who, ncolors);
        return nullptr;
    }
    unsigned char colours[256 * 3];
    const int distinct = exact_colours(img, ncolors, colours);
    if (distinct <= ncolors)
        return make_colormap(img->state, colours, distinct);

    PodVec<Point> points;
    Group groups[256];
    if (!gather_points(img, &points)) {
        report(img->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    const int n = split_points(points, ncolors, groups, colours);
    if (!refine(points, n, colours)) {
        report(img->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    return make_colormap(img->state, colours, n);
}

int vela_nearest_color(VelaImage *src, VelaImage *dst, VelaLookup *lut)
{
    const char *who = "vela_nearest_color";
    if (!src || !dst || !lut) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER, "%s: no %s",
               who, lut ? "image" : "lookup");
        return 0;
    }
    if (!colour_image_ok(src, who))
        return 0;
    if (dst->nbands != 1 || dst->datatype != VELA_BYTE) {
        report(dst->state, VELA_ERROR_USER, "%s: the destination has %d band(s) of type %d",
               who, dst->nbands, dst->datatype);
        return 0;
    }
    if (lut->nbands != 3 || lut->out_type != VELA_BYTE || lut->offset < 0 ||
        lut->offset + lut->entries > 256) {
        report(dst->state, VELA_ERROR_USER,
               "%s: a lookup of %d band(s) type %d at index values %d..%d", who, lut->nbands,
               lut->out_type, lut->offset, lut->offset + lut->entries - 1);
        return 0;
    }
    // The answers stay with the lookup: the viewer maps every redisplay of
    // an image through the same one.
    PodVec<unsigned char> out;
    if (!lut->nearest) {
        lut->nearest = new (std::nothrow) vela::NearestIndex;
        if (lut->nearest && !lut->nearest->init(lut->values.data(), lut->entries)) {
            delete lut->nearest;
            lut->nearest = nullptr;
        }
    }
    if (!lut->nearest || !out.resize(static_cast<size_t>(dst->width))) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    vela::NearestIndex &nearest = *lut->nearest;
    const unsigned char offset = static_cast<unsigned char>(lut->offset);
    return vela::for_each_run(
        src, dst, who, false,
        [&](const VelaImage *s, int64_t sx, int64_t sy, VelaImage *d, int64_t dx, int64_t dy,
            int64_t w) {
            const ptrdiff_t ps = s->pixel_stride;
            const unsigned char *p = s->data + sy * s->row_stride + sx * ps;
            const bool direct = d->pixel_stride == 1;
            unsigned char *q = direct ? d->data + dy * d->row_stride + dx : out.data();
            nearest.find_row(p, ps, w, offset, q);
            if (!direct)
                vela::store_indices(d, dx, dy, out.data(), w);
        });
}

} // extern "C"
