/*
 * dither.cc - dithering an image onto a colour cube: ordered dither masks
 * (including the standard "dm443"), ordered dithering, the
 * "floyd-steinberg" kernel and error diffusion.
 *
 * Ordered dither: with the mask threshold t at (x mod width, y mod height)
 * of the destination, band value v of a source with top value T goes to
 * level floor(v * (levels - 1) / T + t), clamped; the index is the cube's
 * offset plus each band's level times its multiplier (a negative
 * multiplier counts levels from the top).  "dm443" is the 4 x 4 Bayer
 * matrix, thresholds (k + 0.5) / 16, the same in its three bands so that
 * greys dither to greys.  Both run through per-cell tables.
 *
 * Error diffusion: rows left to right, top to bottom; each band goes to
 * its nearest level (halves up) and the difference, in sixteenths of a
 * step of 1/255 of the value range, spreads 7/16 right, 3/16 down-left,
 * 5/16 down and 1/16 down-right.  Errors past the image edges are dropped.
 * Under a region of interest the diffusion covers the region's bounding
 * box and writes only the region.  Grey to 1 bit runs 16 rows at a time
 * in SIMD lanes with the same arithmetic.
 */
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "colour.h"

namespace {

using vela::PodVec;
using vela::Rect;
using vela::report;

// The one kernel; the state-independent handle callers get by name.
VelaKernel g_floyd_steinberg{"floyd-steinberg"};

// The 4 x 4 Bayer matrix; threshold (k + 0.5) / 16.
constexpr int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Each byte with its bits in reverse order.
struct Reversed {
    unsigned char b[256];
    constexpr Reversed() : b()
    {
        for (int v = 0; v < 256; ++v)
            for (int k = 0; k < 8; ++k)
                if (v & (1 << k))
                    b[v] = static_cast<unsigned char>(b[v] | (0x80 >> k));
    }
    constexpr unsigned char operator[](unsigned v) const { return b[v]; }
};
constexpr Reversed kReversed;

// Largest mask a caller may create, in cells.
constexpr int kMaxMaskCells = 4096;

// Returns a new mask with uninitialised values, or nullptr.
VelaDitherMask *new_mask(VelaState *state, int width, int height, int nbands)
{
    auto *mask = new (std::nothrow) VelaDitherMask;
    if (!mask)
        return nullptr;
    if (!mask->values.resize(static_cast<size_t>(width) * height * nbands)) {
        delete mask;
        return nullptr;
    }
    mask->state = state;
    mask->width = width;
    mask->height = height;
    mask->nbands = nbands;
    mask->standard = false;
    return mask;
}

// Returns the cube's index contribution of level k in band b.
int contribution(const VelaLookup *cube, int b, int k)
{
    const int m = cube->multipliers[b];
    return m > 0 ? k * m : (cube->dims[b] - 1 - k) * -m;
}

// Returns true when cube is a colour cube whose index values fit its
// in_type; reports otherwise.
bool cube_ok(const VelaLookup *cube, VelaState *state, const char *who)
{
    if (!cube->cube) {
        report(state, VELA_ERROR_USER, "%s: the lookup is not a colour cube", who);
        return false;
    }
    if (cube->offset < 0 || cube->offset + cube->entries - 1 > vela::type_max(cube->in_type)) {
        report(state, VELA_ERROR_USER, "%s: cube indices %d..%d do not fit type %d", who,
               cube->offset, cube->offset + cube->entries - 1, cube->in_type);
        return false;
    }
    return true;
}

// Returns true when src and dst fit the cube (src: its bands and out_type;
// dst: 1 band of its in_type); reports otherwise.
bool images_ok(const VelaImage *src, const VelaImage *dst, const VelaLookup *cube,
               const char *who)
{
    if (src->nbands != cube->nbands || src->datatype != cube->out_type || dst->nbands != 1 ||
        dst->datatype != cube->in_type) {
        report(dst->state, VELA_ERROR_USER,
               "%s: images of %d band(s) type %d -> %d band(s) type %d do not fit a cube of "
               "%d band(s) type %d -> type %d",
               who, src->nbands, src->datatype, dst->nbands, dst->datatype, cube->nbands,
               cube->out_type, cube->in_type);
        return false;
    }
    return cube_ok(cube, dst->state, who);
}

// Ordered-dither tables: for mask cell p and band b, table(p, b)[v] is
// that band's index contribution for source value v, the cube offset
// folded into band 0.  Every partial sum fits a byte because the whole
// index does.
struct DitherTables {
    PodVec<unsigned char> t; // cells * nbands * 256
    int width, height, nbands;
    const unsigned char *cell(int x, int y) const
    {
        return t.data() + (static_cast<size_t>(y) * width + x) * nbands * 256;
    }
};

bool build_dither_tables(const VelaLookup *cube, const VelaDitherMask *mask, DitherTables *dt)
{
    const int nb = cube->nbands, cells = mask->width * mask->height;
    if (!dt->t.resize(static_cast<size_t>(cells) * nb * 256))
        return false;
    dt->width = mask->width;
    dt->height = mask->height;
    dt->nbands = nb;
    const int top = vela::type_max(cube->out_type);
    for (int p = 0; p < cells; ++p) {
        for (int b = 0; b < nb; ++b) {
            const int mb = mask->nbands == 1 ? 0 : b;
            const double t = mask->values[static_cast<size_t>(mb) * cells + p];
            const int d = cube->dims[b];
            unsigned char *tab = dt->t.data() + (static_cast<size_t>(p) * nb + b) * 256;
            for (int v = 0; v <= top; ++v) {
                int k = static_cast<int>(std::floor(static_cast<double>(v) * (d - 1) / top + t));
                k = k < 0 ? 0 : k > d - 1 ? d - 1 : k;
                tab[v] = static_cast<unsigned char>(contribution(cube, b, k) +
                                                    (b == 0 ? cube->offset : 0));
            }
            std::memset(tab + top + 1, 0, static_cast<size_t>(255 - top));
        }
    }
    return true;
}

// Writes one run of the ordered dither into out (w index values).
void dither_run(const VelaImage *src, int64_t sx, int64_t sy, int64_t dx, int64_t dy,
                int64_t w, const DitherTables &dt, unsigned char *out)
{
    const unsigned char *s = src->data + sy * src->row_stride;
    const int my = static_cast<int>(dy % dt.height);
    int mx = static_cast<int>(dx % dt.width);
    if (src->datatype == VELA_BIT) {
        for (int64_t i = 0; i < w; ++i) {
            out[i] = dt.cell(mx, my)[vela::get_bit(s, src->bit_offset, sx + i)];
            if (++mx == dt.width)
                mx = 0;
        }
        return;
    }
    const ptrdiff_t ps = src->pixel_stride;
    s += sx * ps;
    if (dt.nbands == 1) {
        for (int64_t i = 0; i < w; ++i) {
            out[i] = dt.cell(mx, my)[s[i * ps]];
            if (++mx == dt.width)
                mx = 0;
        }
        return;
    }
    const unsigned char *row = dt.cell(0, my);
    const size_t step = 3 * 256;
    int64_t i = 0;
    if (dt.width == 4 && ps == 3) {
        // "dm443": four pixels per round, each with its own cell's tables.
        for (; i < w && mx != 0; ++i, mx = (mx + 1) & 3) {
            const unsigned char *t = row + mx * step, *p = s + i * 3;
            out[i] = static_cast<unsigned char>(t[p[0]] + t[256 + p[1]] + t[512 + p[2]]);
        }
        const unsigned char *t0 = row, *t1 = row + step, *t2 = row + 2 * step, *t3 = row + 3 * step;
        for (; i + 4 <= w; i += 4) {
            const unsigned char *p = s + i * 3;
            const uint32_t a = static_cast<uint32_t>(t0[p[0]] + t0[256 + p[1]] + t0[512 + p[2]]);
            const uint32_t b = static_cast<uint32_t>(t1[p[3]] + t1[256 + p[4]] + t1[512 + p[5]]);
            const uint32_t c = static_cast<uint32_t>(t2[p[6]] + t2[256 + p[7]] + t2[512 + p[8]]);
            const uint32_t d = static_cast<uint32_t>(t3[p[9]] + t3[256 + p[10]] + t3[512 + p[11]]);
            const unsigned char four[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                           static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
            std::memcpy(out + i, four, 4);
        }
    }
    for (; i < w; ++i) {
        const unsigned char *t = row + mx * step;
        const unsigned char *p = s + i * ps;
        out[i] = static_cast<unsigned char>(t[p[0]] + t[256 + p[1]] + t[512 + p[2]]);
        if (++mx == dt.width)
            mx = 0;
    }
}

// Error-diffusion state for one call: per band, the level values on the
// 0..255 scale, the nearest level of each value and its index
// contribution, and the error rows.
struct Diffusion {
    int nbands;
    int top;                 // source type's largest value
    int dims[3];
    int level[3][256];       // level k's value, 0..255 scale
    unsigned char near[3][256]; // nearest level of a value in 0..255
    int contrib[3][256];     // index contribution of level k
    PodVec<int> cur[3], nxt[3]; // errors in 1/16, indexed x + 1
};

bool init_diffusion(const VelaLookup *cube, int64_t width, Diffusion *df)
{
    df->nbands = cube->nbands;
    df->top = vela::type_max(cube->out_type);
    for (int b = 0; b < cube->nbands; ++b) {
        const int d = cube->dims[b];
        df->dims[b] = d;
        for (int k = 0; k < d; ++k) {
            df->level[b][k] = vela::level_value(k, d, 255);
            df->contrib[b][k] = contribution(cube, b, k) + (b == 0 ? cube->offset : 0);
        }
        int k = 0;
        for (int v = 0; v < 256; ++v) {
            // Halves go up: move on while the next level is as near.
            while (k + 1 < d && df->level[b][k + 1] - v <= v - df->level[b][k])
                ++k;
            df->near[b][v] = static_cast<unsigned char>(k);
        }
        const size_t n = static_cast<size_t>(width) + 2;
        if (!df->cur[b].resize(n) || !df->nxt[b].resize(n))
            return false;
        std::memset(df->cur[b].data(), 0, n * sizeof(int));
        std::memset(df->nxt[b].data(), 0, n * sizeof(int));
    }
    return true;
}

// Diffuses one row of w pixels of src from (sx, sy) into out.
void diffuse_row(const VelaImage *src, int64_t sx, int64_t sy, int64_t w, Diffusion *df,
                 unsigned char *out)
{
    const unsigned char *s = src->data + sy * src->row_stride;
    const ptrdiff_t ps = src->pixel_stride;
    const int scale = 255 / df->top;
    for (int b = 0; b < df->nbands; ++b)
        std::memset(df->nxt[b].data(), 0, (static_cast<size_t>(w) + 2) * sizeof(int));
    for (int64_t i = 0; i < w; ++i) {
        int index = 0;
        for (int b = 0; b < df->nbands; ++b) {
            int *cur = df->cur[b].data() + 1, *nxt = df->nxt[b].data() + 1;
            const int raw = src->datatype == VELA_BIT ? vela::get_bit(s, src->bit_offset, sx + i)
                                                      : s[(sx + i) * ps + b];
            const int v = raw * scale + ((cur[i] + 8) >> 4);
            const int k = v <= 0 ? 0 : v >= 255 ? df->dims[b] - 1 : df->near[b][v];
            const int e = v - df->level[b][k];
            cur[i + 1] += 7 * e;
            nxt[i - 1] += 3 * e;
            nxt[i] += 5 * e;
            nxt[i + 1] += e;
            index += df->contrib[b][k];
        }
        out[i] = static_cast<unsigned char>(index);
    }
    for (int b = 0; b < df->nbands; ++b)
        std::memcpy(df->cur[b].data(), df->nxt[b].data(), df->cur[b].size() * sizeof(int));
}


// Writes the index values of row y, pixels x0 .. x1 - 1, to the parts of
// the row inside rects.
void write_row(VelaImage *dst, const PodVec<Rect> &rects, int64_t y, int64_t x0, int64_t x1,
               const unsigned char *idx)
{
    for (const Rect &r : rects) {
        if (y < r.y0 || y >= r.y1)
            continue;
        const int64_t a = r.x0 > x0 ? r.x0 : x0, b = r.x1 < x1 ? r.x1 : x1;
        if (a < b)
            vela::store_indices(dst, a, y, idx + (a - x0), b - a);
    }
}

// Copies w values of a 1-band byte row from pixel x to out.
void read_row(const VelaImage *src, int64_t x, int64_t y, int64_t w, unsigned char *out)
{
    const ptrdiff_t ps = src->pixel_stride;
    const unsigned char *s = src->data + y * src->row_stride + x * ps;
    if (ps == 1) {
        std::memcpy(out, s, static_cast<size_t>(w));
    } else {
        for (int64_t i = 0; i < w; ++i)
            out[i] = s[i * ps];
    }
}

#ifdef __SSE2__
// Floyd-Steinberg of a 1-band byte source onto a 2-level cube, 16 rows at
// a time: lane r of two 8-lane vectors works on row y0 + r, two pixels
// behind row r - 1, so every error a pixel gathers (7/16 from its left,
// 3/16, 5/16 and 1/16 from the row above) was made in an earlier step.
// The arithmetic is diffuse_row's, so the results are the same bits.
class Wave {
  public:
    static constexpr int kRows = 16;
    static constexpr int64_t kPad = 48; // bytes before and after each row

    // Returns false when memory ran out.
    bool init(int64_t width, const Diffusion &df)
    {
        w_ = width;
        steps_ = (width + 2 * (kRows - 1) + 7) / 8 * 8;
        stride_ = kPad + width + kPad;
        const size_t rows = static_cast<size_t>(stride_) * kRows;
        const size_t errs = static_cast<size_t>(steps_ + 2 * kPad);
        if (!in_.resize(rows) || !out_.resize(rows) || !above_.resize(errs) ||
            !below_.resize(errs))
            return false;
        std::memset(in_.data(), 0, rows);
        std::memset(above_.data(), 0, errs * sizeof(int16_t));
        std::memset(below_.data(), 0, errs * sizeof(int16_t));
        idx0_ = static_cast<unsigned char>(df.contrib[0][0]);
        idx1_ = static_cast<unsigned char>(df.contrib[0][1]);
        // prefix_[n]: lanes 0 .. n - 1 set.
        for (int n = 0; n <= kRows; ++n) {
            int16_t lanes[kRows];
            for (int r = 0; r < kRows; ++r)
                lanes[r] = r < n ? -1 : 0;
            prefix_[n][0] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lanes));
            prefix_[n][1] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(lanes + 8));
        }
        return true;
    }
    // The source row of lane r: w bytes to fill (zeros beyond the image).
    unsigned char *in_row(int r) { return in_.data() + r * stride_ + kPad; }
    // The index values of lane r's row after run().
    const unsigned char *out_row(int r) const { return out_.data() + r * stride_ + kPad; }

    // Diffuses the 16 rows, taking the errors of the row above from the
    // last call and keeping those of the last row for the next.
    void run()
    {
        const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(127);
        const __m128i level = _mm_set1_epi16(255), eight = _mm_set1_epi16(8);
        const __m128i flip = _mm_set1_epi8(static_cast<char>(idx0_ ^ idx1_));
        const __m128i base = _mm_set1_epi8(static_cast<char>(idx0_));
        int16_t *above = above_.data() + kPad, *below = below_.data() + kPad;
        // e: errors made in the last step; u1..u3: the errors of the rows
        // above each lane made one, two and three steps ago.
        __m128i e[2] = {zero, zero};
        __m128i u1[2] = {_mm_cvtsi32_si128(above[1] & 0xffff), zero};
        __m128i u2[2] = {_mm_cvtsi32_si128(above[0] & 0xffff), zero};
        __m128i u3[2] = {zero, zero};
        for (int64_t t0 = 0; t0 < steps_; t0 += 8) {
            __m128i src[2][8], flags[2][8];
            for (int h = 0; h < 2; ++h) {
                __m128i rows[8];
                for (int i = 0; i < 8; ++i) {
                    const int r = 8 * h + i;
                    rows[i] = _mm_loadl_epi64(
                        reinterpret_cast<const __m128i *>(in_row(r) + t0 - 2 * r));
                }
                __m128i cols[4];
                transpose8(rows, cols);
                for (int j = 0; j < 4; ++j) {
                    src[h][2 * j] = _mm_add_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(cols[j], zero), 4), eight);
                    src[h][2 * j + 1] = _mm_add_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(cols[j], zero), 4), eight);
                }
            }
            for (int k = 0; k < 8; ++k) {
                const int64_t t = t0 + k;
                // Lanes whose pixel t - 2r lies in the row.
                const int64_t started = t / 2 + 1 < kRows ? t / 2 + 1 : kRows;
                const int64_t done = t < w_ ? 0 : (t - w_) / 2 + 1 < kRows ? (t - w_) / 2 + 1 : kRows;
                __m128i made[2];
                for (int h = 0; h < 2; ++h) {
                    const __m128i valid = _mm_andnot_si128(prefix_[done][h], prefix_[started][h]);
                    __m128i sum = _mm_sub_epi16(_mm_slli_epi16(e[h], 3), e[h]);            // 7
                    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_slli_epi16(u1[h], 1), u1[h])); // 3
                    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_slli_epi16(u2[h], 2), u2[h])); // 5
                    sum = _mm_add_epi16(sum, u3[h]);                                        // 1
                    const __m128i v = _mm_srai_epi16(_mm_add_epi16(src[h][k], sum), 4);
                    const __m128i up = _mm_cmpgt_epi16(v, top);
                    made[h] = _mm_and_si128(_mm_sub_epi16(v, _mm_and_si128(up, level)), valid);
                    flags[h][k] = up;
                }
                below[t - 2 * (kRows - 1)] = static_cast<int16_t>(_mm_extract_epi16(made[1], 7));
                for (int h = 0; h < 2; ++h) {
                    u3[h] = u2[h];
                    u2[h] = u1[h];
                    e[h] = made[h];
                }
                u1[1] = _mm_or_si128(_mm_slli_si128(made[1], 2), _mm_srli_si128(made[0], 14));
                u1[0] = _mm_insert_epi16(_mm_slli_si128(made[0], 2), above[t + 2], 0);
            }
            for (int h = 0; h < 2; ++h) {
                __m128i rows[8], cols[4];
                for (int k = 0; k < 8; ++k)
                    rows[k] = _mm_packs_epi16(flags[h][k], zero);
                transpose8(rows, cols);
                for (int j = 0; j < 4; ++j) {
                    const __m128i idx = _mm_xor_si128(base, _mm_and_si128(cols[j], flip));
                    const int r = 8 * h + 2 * j;
                    _mm_storel_epi64(reinterpret_cast<__m128i *>(out_.data() + r * stride_ + kPad + t0 - 2 * r), idx);
                    _mm_storel_epi64(reinterpret_cast<__m128i *>(out_.data() + (r + 1) * stride_ + kPad + t0 - 2 * (r + 1)),
                                     _mm_unpackhi_epi64(idx, idx));
                }
            }
        }
        std::memcpy(above_.data() + kPad, below, static_cast<size_t>(w_) * sizeof(int16_t));
    }

  private:
    // Transposes 8 rows of 8 bytes (the low halves of rows) into columns:
    // cols[j] holds column 2j in its low half and column 2j + 1 in its high.
    static void transpose8(const __m128i rows[8], __m128i cols[4])
    {
        const __m128i a0 = _mm_unpacklo_epi8(rows[0], rows[1]), a1 = _mm_unpacklo_epi8(rows[2], rows[3]);
        const __m128i a2 = _mm_unpacklo_epi8(rows[4], rows[5]), a3 = _mm_unpacklo_epi8(rows[6], rows[7]);
        const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
        const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
        cols[0] = _mm_unpacklo_epi32(b0, b2);
        cols[1] = _mm_unpackhi_epi32(b0, b2);
        cols[2] = _mm_unpacklo_epi32(b1, b3);
        cols[3] = _mm_unpackhi_epi32(b1, b3);
    }

    int64_t w_ = 0, steps_ = 0, stride_ = 0;
    unsigned char idx0_ = 0, idx1_ = 0; // index values of levels 0 and 1
    PodVec<unsigned char> in_, out_;    // kRows padded rows each
    PodVec<int16_t> above_, below_;     // errors of the rows above and below, x + kPad
    __m128i prefix_[kRows + 1][2];
};
#endif
} // namespace

namespace vela {

VelaDitherMask *make_dm443(VelaState *state)
{
    VelaDitherMask *mask = new_mask(state, 4, 4, 3);
    if (!mask)
        return nullptr;
    mask->standard = true;
    for (int b = 0; b < 3; ++b)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                mask->values[static_cast<size_t>(b) * 16 + y * 4 + x] =
                    (static_cast<float>(kBayer4[y][x]) + 0.5f) / 16.0f;
    return mask;
}

void free_mask(VelaDitherMask *mask)
{
    delete mask;
}

void store_indices(VelaImage *dst, int64_t dx, int64_t dy, const unsigned char *idx, int64_t w)
{
    unsigned char *row = dst->data + dy * dst->row_stride;
    if (dst->datatype == VELA_BYTE) {
        const ptrdiff_t ps = dst->pixel_stride;
        if (ps == 1) {
            std::memcpy(row + dx, idx, static_cast<size_t>(w));
        } else {
            for (int64_t i = 0; i < w; ++i)
                row[(dx + i) * ps] = idx[i];
        }
        return;
    }
    const int64_t bit = dst->bit_offset + dx;
    int64_t i = 0;
    for (; i < w && ((bit + i) & 7); ++i)
        put_bit(row, bit, i, idx[i]);
#ifdef __SSE2__
    // 16 pixels at a time: bit 0 of each byte to its top bit, gathered
    // into a mask with pixel 0 lowest, then each byte's bits reversed.
    for (; i + 16 <= w; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(idx + i));
        const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(v, 7)));
        row[(bit + i) >> 3] = kReversed[m & 255];
        row[((bit + i) >> 3) + 1] = kReversed[m >> 8];
    }
#endif
    for (; i + 8 <= w; i += 8) {
        const unsigned char *p = idx + i;
        row[(bit + i) >> 3] = static_cast<unsigned char>(p[0] << 7 | p[1] << 6 | p[2] << 5 |
                                                         p[3] << 4 | p[4] << 3 | p[5] << 2 |
                                                         p[6] << 1 | p[7]);
    }
    for (; i < w; ++i)
        put_bit(row, bit, i, idx[i]);
}

} // namespace vela

extern "C" {

VelaDitherMask *vela_dithermask_create(VelaState *state, int width, int height, int nbands,
                                       const float *values)
{
    const char *who = "vela_dithermask_create";
    if (!state || !values) {
        report(state, VELA_ERROR_USER, "%s: no %s", who, state ? "values" : "state");
        return nullptr;
    }
    if (width < 1 || height < 1 || width > kMaxMaskCells || height > kMaxMaskCells ||
        width * height > kMaxMaskCells || (nbands != 1 && nbands != 3)) {
        report(state, VELA_ERROR_USER, "%s: %d x %d mask with %d bands", who, width, height,
               nbands);
        return nullptr;
    }
    const size_t n = static_cast<size_t>(width) * height * nbands;
    for (size_t i = 0; i < n; ++i) {
        if (!(values[i] >= 0.0f && values[i] < 1.0f)) {
            report(state, VELA_ERROR_USER, "%s: threshold %zu is not in [0, 1)", who, i);
            return nullptr;
        }
    }
    VelaDitherMask *mask = new_mask(state, width, height, nbands);
    if (!mask) {
        report(state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return nullptr;
    }
    std::memcpy(mask->values.data(), values, n * sizeof(float));
    return mask;
}

void vela_dithermask_destroy(VelaDitherMask *mask)
{
    if (!mask)
        return;
    if (mask->standard) {
        report(mask->state, VELA_ERROR_USER,
               "vela_dithermask_destroy: a standard mask belongs to its state");
        return;
    }
    vela::free_mask(mask);
}

VelaDitherMask *vela_dithermask_get_by_name(VelaState *state, const char *name)
{
    if (!state || !name) {
        report(state, VELA_ERROR_USER, "vela_dithermask_get_by_name: no %s",
               state ? "name" : "state");
        return nullptr;
    }
    return vela::standard_mask(state, name);
}

int vela_ordered_dither(VelaImage *src, VelaImage *dst, VelaLookup *cube, VelaDitherMask *mask)
{
    const char *who = "vela_ordered_dither";
    if (!src || !dst || !cube || !mask) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER, "%s: no %s",
               who, !src || !dst ? "image" : !cube ? "cube" : "mask");
        return 0;
    }
    if (!images_ok(src, dst, cube, who))
        return 0;
    if (mask->nbands != 1 && mask->nbands != cube->nbands) {
        report(dst->state, VELA_ERROR_USER, "%s: a %d-band mask for a %d-band cube", who,
               mask->nbands, cube->nbands);
        return 0;
    }
    DitherTables dt;
    PodVec<unsigned char> out;
    if (!build_dither_tables(cube, mask, &dt) || !out.resize(static_cast<size_t>(dst->width))) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    const bool direct = dst->datatype == VELA_BYTE && dst->pixel_stride == 1;
    return vela::for_each_run(src, dst, who, false,
                              [&](const VelaImage *s, int64_t sx, int64_t sy, VelaImage *d,
                                  int64_t dx, int64_t dy, int64_t w) {
                                  if (direct) {
                                      dither_run(s, sx, sy, dx, dy, w, dt,
                                                 d->data + dy * d->row_stride + dx);
                                  } else {
                                      dither_run(s, sx, sy, dx, dy, w, dt, out.data());
                                      vela::store_indices(d, dx, dy, out.data(), w);
                                  }
                              });
}

VelaKernel *vela_kernel_get_by_name(VelaState *state, const char *name)
{
    if (!state || !name) {
        report(state, VELA_ERROR_USER, "vela_kernel_get_by_name: no %s",
               state ? "name" : "state");
        return nullptr;
    }
    return std::strcmp(name, g_floyd_steinberg.name) == 0 ? &g_floyd_steinberg : nullptr;
}

int vela_error_diffusion(VelaImage *src, VelaImage *dst, VelaLookup *cube, VelaKernel *kernel)
{
    const char *who = "vela_error_diffusion";
    if (!src || !dst || !cube || !kernel) {
        report(src ? src->state : dst ? dst->state : nullptr, VELA_ERROR_USER, "%s: no %s",
               who, !src || !dst ? "image" : !cube ? "cube" : "kernel");
        return 0;
    }
    if (kernel != &g_floyd_steinberg) {
        report(dst->state, VELA_ERROR_USER, "%s: unknown kernel", who);
        return 0;
    }
    if (!images_ok(src, dst, cube, who))
        return 0;
    int64_t ox, oy;
    if (!vela::origin_offset(src, dst, who, &ox, &oy))
        return 0;
    PodVec<Rect> rects;
    if (!vela::writable_rects(dst, &rects)) {
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
    // The diffusion covers the part of the writable area's bounding box
    // that src covers; only the writable area is written.
    Rect box{dst->width, dst->height, 0, 0};
    for (const Rect &r : rects) {
        box.x0 = r.x0 < box.x0 ? r.x0 : box.x0;
        box.y0 = r.y0 < box.y0 ? r.y0 : box.y0;
        box.x1 = r.x1 > box.x1 ? r.x1 : box.x1;
        box.y1 = r.y1 > box.y1 ? r.y1 : box.y1;
    }
    const int64_t x0 = box.x0 > -ox ? box.x0 : -ox;
    const int64_t y0 = box.y0 > -oy ? box.y0 : -oy;
    const int64_t x1 = box.x1 < src->width - ox ? box.x1 : src->width - ox;
    const int64_t y1 = box.y1 < src->height - oy ? box.y1 : src->height - oy;
    if (x0 >= x1 || y0 >= y1)
        return 1;
    const int64_t w = x1 - x0;
    VelaImage *tmp = nullptr;
    if (vela::may_overlap(src, dst)) {
        tmp = vela::clone_whole(src, who);
        if (!tmp)
            return 0;
        src = tmp;
    }
    Diffusion df;
    PodVec<unsigned char> out;
    if (!init_diffusion(cube, w, &df) || !out.resize(static_cast<size_t>(w))) {
        vela_destroy(tmp);
        report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
        return 0;
    }
#ifdef __SSE2__
    // A grey image to 1 bit, as the viewer shows images on 1-bit screens.
    if (cube->nbands == 1 && cube->dims[0] == 2 && src->datatype == VELA_BYTE &&
        dst->datatype == VELA_BIT) {
        Wave wave;
        if (!wave.init(w, df)) {
            vela_destroy(tmp);
            report(dst->state, VELA_ERROR_RESOURCE, "%s: out of memory", who);
            return 0;
        }
        for (int64_t y = y0; y < y1; y += Wave::kRows) {
            for (int r = 0; r < Wave::kRows; ++r) {
                if (y + r < y1)
                    read_row(src, x0 + ox, y + r + oy, w, wave.in_row(r));
                else
                    std::memset(wave.in_row(r), 0, static_cast<size_t>(w));
            }
            wave.run();
            for (int r = 0; r < Wave::kRows && y + r < y1; ++r)
                write_row(dst, rects, y + r, x0, x1, wave.out_row(r));
        }
        vela_destroy(tmp);
        return 1;
    }
#endif
    for (int64_t y = y0; y < y1; ++y) {
        diffuse_row(src, x0 + ox, y + oy, w, &df, out.data());
        write_row(dst, rects, y, x0, x1, out.data());
    }
    vela_destroy(tmp);
    return 1;
}

} // extern "C"
