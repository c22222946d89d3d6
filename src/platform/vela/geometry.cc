/*
 * geometry.cc - affine warps with nearest-neighbour sampling, and scale and
 * rotate on top of them.
 *
 * The result is defined exactly, in 32.32 fixed point, so that every path
 * gives the same pixels:
 *   1. The forward matrix m (doubles from the floats) is inverted:
 *      det = m0 m3 - m2 m1, n0 = m3 / det, n1 = -m1 / det, n2 = -m2 / det,
 *      n3 = m0 / det.
 *   2. Destination pixel (i, j) is sampled at its centre relative to the
 *      destination origin, (i + 0.5 - dox, j + 0.5 - doy), taken back through
 *      the inverse and moved to the source origin.  At pixel (0, 0), with
 *      u = (0.5 - dox) - m4 and v = (0.5 - doy) - m5, that is
 *      bx = (n0 u + n2 v) + sox, by = (n1 u + n3 v) + soy.
 *   3. In fixed point: A = llround(n0 2^32), B = llround(n2 2^32),
 *      C = llround(n1 2^32), D = llround(n3 2^32), X = llround(bx 2^32),
 *      Y = llround(by 2^32); the source pixel of (i, j) is
 *      ((X + i A + j B) >> 32, (Y + i C + j D) >> 32), the shift being floor.
 *   4. A destination pixel inside the destination's writable area whose
 *      source pixel lies inside the source takes its value; others are kept.
 * Coefficients and the value at (0, 0) must stay below 2^30 in magnitude.
 *
 * Paths, each used only when the coefficients are exactly what it assumes:
 * axis-aligned maps (B = C = 0: copies, flips, scales) look the source
 * columns up in a table made once and copy a row that repeats the previous
 * source row; quarter turns (A = D = 0, |B| = |C| = 2^32) walk 64 x 64 tiles;
 * everything else steps along each row in fixed point over the exact span
 * where the source is inside, in tiles that keep the source reads local.
 * The memory of the library's own images ends in a few spare bytes, so that
 * 3-byte pixels can be moved as words; on x86-64 processors with SSSE3,
 * flips and quarter turns of 3-byte pixels use byte shuffles.
 */
#include <cmath>
#include <initializer_list>

#if defined(__x86_64__)
#include <immintrin.h>
#define VELA_SSSE3 1
#endif

#include "image.h"

namespace {

using vela::PodVec;
using vela::Rect;
using vela::report;

constexpr int64_t kUnit = int64_t(1) << 32; // 1.0 in 32.32 fixed point
typedef __int128 i128;

// The fixed-point map from destination pixel (i, j) to its source pixel.
struct Map {
    int64_t a, b; // source x per destination column, per row (32.32)
    int64_t c, d; // source y per destination column, per row (32.32)
    int64_t x, y; // source x, y at destination pixel (0, 0) (32.32)
};

// Returns floor(p / q) for q != 0.
i128 floor_div(i128 p, i128 q)
{
    i128 r = p / q;
    if (p % q != 0 && ((p < 0) != (q < 0)))
        --r;
    return r;
}

// Narrows [*lo, *hi) to the i whose coordinate (v + i step) >> 32 lies in
// [0, n), i.e. 0 <= v + i step <= n 2^32 - 1.
void narrow(i128 v, int64_t step, int64_t n, int64_t *lo, int64_t *hi)
{
    const i128 top = (static_cast<i128>(n) << 32) - 1;
    i128 first, last;
    if (step == 0) {
        if (v < 0 || v > top)
            *hi = *lo;
        return;
    }
    if (step > 0) {
        first = -floor_div(v, step); // ceil(-v / step)
        last = floor_div(top - v, step);
    } else {
        first = -floor_div(v - top, step); // ceil((top - v) / step)
        last = floor_div(-v, step);
    }
    if (first > *lo)
        *lo = first > *hi ? *hi : static_cast<int64_t>(first);
    if (last + 1 < *hi)
        *hi = last + 1 < *lo ? *lo : static_cast<int64_t>(last + 1);
}

// Fills *map from the forward matrix and the two origins (steps 1-3 of the
// definition above); returns false after reporting a matrix that cannot be
// inverted or is out of range.
bool make_map(const VelaImage *src, const VelaImage *dst, const float *m, Map *map, const char *who)
{
    const double m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5];
    const double det = m0 * m3 - m2 * m1;
    if (!std::isfinite(det) || det == 0.0 || !std::isfinite(m4) || !std::isfinite(m5)) {
        report(dst->state, VELA_ERROR_USER, "%s: the matrix cannot be inverted", who);
        return false;
    }
    const double n0 = m3 / det, n1 = -m1 / det, n2 = -m2 / det, n3 = m0 / det;
    const double u = (0.5 - static_cast<double>(dst->origin_x)) - m4;
    const double v = (0.5 - static_cast<double>(dst->origin_y)) - m5;
    const double bx = (n0 * u + n2 * v) + static_cast<double>(src->origin_x);
    const double by = (n1 * u + n3 * v) + static_cast<double>(src->origin_y);
    const double limit = 1073741824.0; // 2^30
    for (double k : {n0, n1, n2, n3, bx, by}) {
        if (!(std::fabs(k) < limit)) {
            report(dst->state, VELA_ERROR_USER, "%s: the matrix or the origins are out of range",
                   who);
            return false;
        }
    }
    map->a = std::llround(std::ldexp(n0, 32));
    map->b = std::llround(std::ldexp(n2, 32));
    map->c = std::llround(std::ldexp(n1, 32));
    map->d = std::llround(std::ldexp(n3, 32));
    map->x = std::llround(std::ldexp(bx, 32));
    map->y = std::llround(std::ldexp(by, 32));
    return true;
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "pixel groups are assembled in little-endian words");

// Returns the 3 bytes at p as the low bytes of a word, reading no further.
inline uint32_t load3(const unsigned char *p)
{
    uint16_t lo;
    std::memcpy(&lo, p, 2);
    return lo | static_cast<uint32_t>(p[2]) << 16;
}

// Stores four 3-byte pixels at q with two stores instead of eight.
inline void store4(unsigned char *q, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3)
{
    const uint64_t lo = p0 | static_cast<uint64_t>(p1) << 24 | static_cast<uint64_t>(p2) << 48;
    const uint32_t hi = p2 >> 16 | p3 << 8;
    std::memcpy(q, &lo, 8);
    std::memcpy(q + 8, &hi, 4);
}

// Fills n packed pixels at q with the pixels src(k) for k = 0 .. n - 1.
// With wide, a readable byte follows every source pixel and 3-byte pixels
// move as 4-byte words (the extra byte stored belongs to the next pixel,
// stored after it); otherwise eight 1-byte or four 3-byte pixels share a
// group of word stores.
template <int N, class Src>
inline void put_packed(unsigned char *q, int64_t n, bool wide, Src src)
{
    int64_t k = 0;
    if (N == 3 && wide) {
        for (; k + 1 < n; ++k, q += 3)
            std::memcpy(q, src(k), 4);
    } else if (N == 3) {
        for (; k + 4 <= n; k += 4, q += 12)
            store4(q, load3(src(k)), load3(src(k + 1)), load3(src(k + 2)), load3(src(k + 3)));
    } else {
        for (; k + 8 <= n; k += 8, q += 8) {
            uint64_t w = 0;
            for (int b = 0; b < 8; ++b)
                w |= static_cast<uint64_t>(*src(k + b)) << (8 * b);
            std::memcpy(q, &w, 8);
        }
    }
    for (; k < n; ++k, q += N)
        std::memcpy(q, src(k), N);
}

#if VELA_SSSE3
// 3-byte pixel kernels with byte shuffles, for processors that have them.

// Returns true when the processor has SSSE3.
bool have_ssse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Shuffle masks that reverse the order of sixteen 3-byte pixels held in
// three vectors: output vector o takes from input vector v with m[o][v].
struct ReverseMasks {
    alignas(16) signed char m[3][3][16];
};

constexpr ReverseMasks make_reverse_masks()
{
    ReverseMasks r{};
    for (int o = 0; o < 3; ++o)
        for (int v = 0; v < 3; ++v)
            for (int i = 0; i < 16; ++i) {
                const int byte = 16 * o + i;
                const int from = (15 - byte / 3) * 3 + byte % 3;
                r.m[o][v][i] = static_cast<signed char>(from / 16 == v ? from % 16 : -128);
            }
    return r;
}

constexpr ReverseMasks kReverse = make_reverse_masks();

// Writes n 3-byte pixels to q from the source pixels p, p - 3, p - 6, ...
__attribute__((target("ssse3"))) void reverse3_ssse3(unsigned char *q, const unsigned char *p,
                                                     int64_t n)
{
    __m128i m[3][3];
    for (int o = 0; o < 3; ++o)
        for (int v = 0; v < 3; ++v)
            m[o][v] = _mm_load_si128(reinterpret_cast<const __m128i *>(kReverse.m[o][v]));
    int64_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const unsigned char *sp = p - 3 * (k + 15);
        // Descending reads get little help from the hardware prefetcher.
        __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(sp) - 2048));
        __m128i v[3];
        for (int i = 0; i < 3; ++i)
            v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sp + 16 * i));
        for (int o = 0; o < 3; ++o) {
            __m128i r = _mm_or_si128(
                _mm_shuffle_epi8(v[0], m[o][0]),
                _mm_or_si128(_mm_shuffle_epi8(v[1], m[o][1]), _mm_shuffle_epi8(v[2], m[o][2])));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(q + 3 * k + 16 * o), r);
        }
    }
    for (; k < n; ++k)
        std::memcpy(q + 3 * k, p - 3 * k, 3);
}

// Turns a tile of 3-byte pixels, four by four: source row r (0 .. ni - 1)
// starts at first + r step with nj pixels and 4 more readable bytes (the
// image's next pixels or, past its last pixel, the block's padding);
// destination row q (0 .. nj - 1) starts at out + q drs and takes source
// column q (xdir > 0) or nj - 1 - q.  Pixels are widened to words,
// transposed and narrowed again; a 16-byte store reaches 4 bytes into the
// next two pixels of the tile, which are written after it.  Meanwhile the
// next tile's rows (pni rows of pbytes bytes from pfirst, pstep apart) are
// prefetched a few at a time.
__attribute__((target("ssse3"))) void turn3_ssse3(const unsigned char *first, ptrdiff_t step,
                                                  unsigned char *out, ptrdiff_t drs, int64_t ni,
                                                  int64_t nj, int xdir, const unsigned char *pfirst,
                                                  ptrdiff_t pstep, int64_t pni, int64_t pbytes)
{
    const __m128i widen =
        _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
    const __m128i narrow3 =
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
    int64_t prefetched = 0;
    auto prefetch_to = [&](int64_t rows) {
        for (; prefetched < rows && prefetched < pni; ++prefetched) {
            const unsigned char *p = pfirst + prefetched * pstep;
            for (int64_t off = 0; off < pbytes + 63; off += 64)
                __builtin_prefetch(p + (off < pbytes ? off : pbytes - 1));
        }
    };
    const int64_t nj4 = nj & ~int64_t(3), ni4 = ni & ~int64_t(3);
    for (int64_t q = 0; q < nj4; q += 4) {
        prefetch_to((q + 4) * pni / nj);
        const int64_t c0 = xdir > 0 ? q : nj - 4 - q;
        for (int64_t r = 0; r < ni4; r += 4) {
            __m128i x[4];
            for (int t = 0; t < 4; ++t)
                x[t] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(
                                            first + (r + t) * step + 3 * c0)),
                                        widen);
            const __m128i t0 = _mm_unpacklo_epi32(x[0], x[1]);
            const __m128i t1 = _mm_unpacklo_epi32(x[2], x[3]);
            const __m128i t2 = _mm_unpackhi_epi32(x[0], x[1]);
            const __m128i t3 = _mm_unpackhi_epi32(x[2], x[3]);
            const __m128i col[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                                    _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
            for (int t = 0; t < 4; ++t) {
                unsigned char *o = out + (xdir > 0 ? q + t : q + 3 - t) * drs + 3 * r;
                const __m128i v = _mm_shuffle_epi8(col[t], narrow3);
                if (r + 5 < ni) {
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), v);
                } else {
                    _mm_storel_epi64(reinterpret_cast<__m128i *>(o), v);
                    const uint32_t tail =
                        static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
                    std::memcpy(o + 8, &tail, 4);
                }
            }
        }
    }
    prefetch_to(pni);
    for (int64_t q = 0; q < nj; ++q) {
        const int64_t c = xdir > 0 ? q : nj - 1 - q;
        for (int64_t r = q < nj4 ? ni4 : 0; r < ni; ++r)
            std::memcpy(out + q * drs + 3 * r, first + r * step + 3 * c, 3);
    }
}
#endif

// Pixel access for byte images of N bands (1 or 3).  With Packed, both
// images have pixels exactly N bytes apart and pixels are moved in words
// or groups; otherwise (band views of 3-band images) the strides are read
// at run time.
template <int N, bool Packed>
struct ByteKind {
    typedef unsigned char *Out; // first destination pixel to write
    static constexpr bool kPacked = Packed;

    const unsigned char *s; // band 0 of source pixel (0, 0)
    ptrdiff_t srs, sps;     // source row and pixel strides, bytes
    unsigned char *d;       // band 0 of destination pixel (0, 0)
    ptrdiff_t drs, dps;     // destination row and pixel strides, bytes
    bool wide;              // 3-byte pixels may be moved as 4-byte words

    ByteKind(const VelaImage *src, VelaImage *dst)
        : s(src->data), srs(src->row_stride), sps(src->pixel_stride), d(dst->data),
          drs(dst->row_stride), dps(dst->pixel_stride), wide(Packed && N == 3 && src->block->padded)
    {}
    ptrdiff_t ss() const { return Packed ? N : sps; }
    ptrdiff_t ds() const { return Packed ? N : dps; }
    Out out(int64_t j, int64_t i) const { return d + j * drs + i * ds(); }

    // n pixels from the source points (X, Y) stepped by (a, c) (32.32).
    void step(Out q, int64_t n, int64_t X, int64_t Y, int64_t a, int64_t c) const
    {
        int64_t k = 0;
        // A word load may reach into the block's padding; the byte a word
        // store writes past a pixel is the next pixel's, written after it.
        if (wide) {
            for (; k + 1 < n; ++k, q += N, X += a, Y += c)
                std::memcpy(q, s + (Y >> 32) * srs + (X >> 32) * N, 4);
        }
        for (; k < n; ++k, q += ds(), X += a, Y += c)
            std::memcpy(q, s + (Y >> 32) * srs + (X >> 32) * ss(), N);
    }
    void prefetch(int64_t X, int64_t Y) const
    {
        __builtin_prefetch(s + (Y >> 32) * srs + (X >> 32) * ss());
    }
    // n pixels from source row y, columns xs[0 .. n - 1].
    void gather(Out q, int64_t n, const int32_t *xs, int64_t y) const
    {
        const unsigned char *row = s + y * srs;
        if (Packed) {
            put_packed<N>(q, n, wide, [&](int64_t k) { return row + xs[k] * N; });
            return;
        }
        for (int64_t k = 0; k < n; ++k, q += dps)
            std::memcpy(q, row + xs[k] * sps, N);
    }
    // n pixels from source row y, columns x, x + dir, ...
    void run(Out q, int64_t n, int64_t x, int dir, int64_t y) const
    {
        const unsigned char *p = s + y * srs + x * ss();
        if (Packed && dir > 0) {
            std::memcpy(q, p, static_cast<size_t>(n * N));
        } else if (Packed) {
#if VELA_SSSE3
            if (N == 3 && have_ssse3()) {
                reverse3_ssse3(q, p, n);
                return;
            }
#endif
            put_packed<N>(q, n, wide, [&](int64_t k) { return p - k * N; });
        } else {
            const ptrdiff_t step = dir > 0 ? sps : -sps;
            for (int64_t k = 0; k < n; ++k, q += dps, p += step)
                std::memcpy(q, p, N);
        }
    }
    // n pixels from source column x, rows y, y + dir, ...
    void column(Out q, int64_t n, int64_t x, int64_t y, int dir) const
    {
        const unsigned char *p = s + y * srs + x * ss();
        const ptrdiff_t step = dir > 0 ? srs : -srs;
        for (int64_t k = 0; k < n; ++k, q += ds(), p += step)
            std::memcpy(q, p, N);
    }
    // Columns [lo, hi) of row j from the same columns of row j - 1.
    void repeat(int64_t j, int64_t lo, int64_t hi) const
    {
        Out q = out(j, lo);
        const unsigned char *p = q - drs;
        if (Packed) {
            std::memcpy(q, p, static_cast<size_t>((hi - lo) * N));
        } else {
            for (int64_t k = 0; k < hi - lo; ++k)
                std::memcpy(q + k * dps, p + k * dps, N);
        }
    }
};

// Pixel access for 1-bit images, one pixel at a time.
struct BitKind {
    struct Out {
        unsigned char *row; // destination row
        int64_t bit;        // bit of row[0] to write first
    };
    static constexpr bool kPacked = false;

    const unsigned char *s; // byte holding source pixel (0, 0)
    ptrdiff_t srs;          // source row stride, bytes
    int sbo;                // bit of s[0] holding pixel 0
    unsigned char *d;       // byte holding destination pixel (0, 0)
    ptrdiff_t drs;          // destination row stride, bytes
    int dbo;                // bit of d[0] holding pixel 0

    BitKind(const VelaImage *src, VelaImage *dst)
        : s(src->data), srs(src->row_stride), sbo(src->bit_offset), d(dst->data),
          drs(dst->row_stride), dbo(dst->bit_offset)
    {}
    Out out(int64_t j, int64_t i) const { return Out{d + j * drs, dbo + i}; }

    void step(Out q, int64_t n, int64_t X, int64_t Y, int64_t a, int64_t c) const
    {
        for (int64_t k = 0; k < n; ++k, X += a, Y += c)
            vela::put_bit(q.row, q.bit, k, vela::get_bit(s + (Y >> 32) * srs, sbo, X >> 32));
    }
    void prefetch(int64_t X, int64_t Y) const
    {
        __builtin_prefetch(s + (Y >> 32) * srs + ((X >> 32) + sbo) / 8);
    }
    void gather(Out q, int64_t n, const int32_t *xs, int64_t y) const
    {
        const unsigned char *row = s + y * srs;
        for (int64_t k = 0; k < n; ++k)
            vela::put_bit(q.row, q.bit, k, vela::get_bit(row, sbo, xs[k]));
    }
    void run(Out q, int64_t n, int64_t x, int dir, int64_t y) const
    {
        const unsigned char *row = s + y * srs;
        if (dir > 0) {
            vela::copy_bits(row, sbo + x, q.row, q.bit, n);
            return;
        }
        for (int64_t k = 0; k < n; ++k)
            vela::put_bit(q.row, q.bit, k, vela::get_bit(row, sbo, x - k));
    }
    void column(Out q, int64_t n, int64_t x, int64_t y, int dir) const
    {
        const unsigned char *p = s + y * srs;
        const ptrdiff_t step = dir > 0 ? srs : -srs;
        for (int64_t k = 0; k < n; ++k, p += step)
            vela::put_bit(q.row, q.bit, k, vela::get_bit(p, sbo, x));
    }
    void repeat(int64_t j, int64_t lo, int64_t hi) const
    {
        unsigned char *q = d + j * drs;
        vela::copy_bits(q - drs, dbo + lo, q, dbo + lo, hi - lo);
    }
};

// Axis-aligned maps (b = c = 0): source x depends on i only and source y
// on j only, so the inside area is a rectangle, the source columns are
// looked up in a table made once, and a destination row whose source row
// equals the previous one's repeats that row.
template <class K>
bool run_axis(const K &k, const Map &m, const Rect &r, int64_t sw, int64_t sh, PodVec<int32_t> *xs)
{
    int64_t lo = r.x0, hi = r.x1, jlo = r.y0, jhi = r.y1;
    narrow(m.x, m.a, sw, &lo, &hi);
    narrow(m.y, m.d, sh, &jlo, &jhi);
    if (lo >= hi || jlo >= jhi)
        return true;
    const int64_t n = hi - lo;
    const bool run = m.a == kUnit || m.a == -kUnit;
    const int dir = m.a > 0 ? 1 : -1;
    const int64_t x_lo = static_cast<int64_t>((m.x + static_cast<i128>(lo) * m.a) >> 32);
    if (!run) {
        if (!xs->resize(static_cast<size_t>(n)))
            return false;
        for (int64_t i = lo; i < hi; ++i)
            (*xs)[i - lo] = static_cast<int32_t>((m.x + static_cast<i128>(i) * m.a) >> 32);
    }
    int64_t prev = -1;
    for (int64_t j = jlo; j < jhi; ++j) {
        const int64_t y = static_cast<int64_t>((m.y + static_cast<i128>(j) * m.d) >> 32);
        if (y == prev)
            k.repeat(j, lo, hi);
        else if (run)
            k.run(k.out(j, lo), n, x_lo, dir, y);
        else
            k.gather(k.out(j, lo), n, xs->data(), y);
        prev = y;
    }
    return true;
}

// Quarter turns of packed byte images, in 64 x 64 tiles (128 x 128 for one
// band) while the next tile's source rows are prefetched: 3-byte pixels
// with byte shuffles where the processor has them, otherwise each tile is
// read row by row into a buffer, transposed into another and written row
// by row.  x_j0 is the source column of destination row j0, y_i0 the
// source row of destination column i0.
template <int N>
void turn_packed(const ByteKind<N, true> &k, int64_t i0, int64_t i1, int64_t j0, int64_t j1,
                 int64_t x_j0, int xdir, int64_t y_i0, int ydir)
{
    constexpr int64_t T = N == 1 ? 128 : 64;
    constexpr ptrdiff_t kRow = T * N; // bytes per row of a and b
    // a holds a tile as read, b as turned; the padding lets word loads
    // reach past a's last pixel.
    alignas(64) unsigned char a[T * kRow + vela::kBlockPad], b[T * kRow];
#if VELA_SSSE3
    const bool shuffle = N == 3 && k.wide && have_ssse3();
#endif
    // First source column of the tile holding destination rows jt .. je.
    auto first_x = [&](int64_t jt, int64_t je) {
        return xdir > 0 ? x_j0 + (jt - j0) : x_j0 - (je - 1 - j0);
    };
    auto src_row = [&](int64_t i, int64_t x) {
        return k.s + (y_i0 + ydir * (i - i0)) * k.srs + x * N;
    };
    for (int64_t jt = j0; jt < j1; jt += T) {
        const int64_t je = jt + T < j1 ? jt + T : j1, nj = je - jt;
        const int64_t xa = first_x(jt, je);
        for (int64_t it = i0; it < i1; it += T) {
            const int64_t ie = it + T < i1 ? it + T : i1, ni = ie - it;

            // The next tile, further along these rows or on the next ones,
            // whose source rows are prefetched while this one is worked.
            int64_t pjt = jt, pit = ie, pje = je;
            if (pit >= i1) {
                pjt = je;
                pit = i0;
                pje = pjt + T < j1 ? pjt + T : j1;
            }
            const int64_t pni = pjt < j1 ? (pit + T < i1 ? pit + T : i1) - pit : 0;
            const int64_t pxa = pjt < j1 ? first_x(pjt, pje) : 0;
            const int64_t pbytes = (pje - pjt) * N;
            auto prefetch_row = [&](int64_t pr) {
                const unsigned char *p = src_row(pit + pr, pxa);
                for (int64_t off = 0; off < pbytes + 63; off += 64)
                    __builtin_prefetch(p + (off < pbytes ? off : pbytes - 1));
            };

#if VELA_SSSE3
            if (shuffle) {
                turn3_ssse3(src_row(it, xa), ydir * k.srs, k.out(jt, it), k.drs, ni, nj, xdir,
                            src_row(pit, pxa), ydir * k.srs, pni, pbytes);
                continue;
            }
#endif
            for (int64_t i = it; i < ie; ++i)
                std::memcpy(a + (i - it) * kRow, src_row(i, xa), static_cast<size_t>(nj * N));
            for (int64_t q = 0; q < nj; ++q) {
                for (int64_t pr = q; pr < pni; pr += nj)
                    prefetch_row(pr);
                const unsigned char *col = a + (xdir > 0 ? q : nj - 1 - q) * N;
                put_packed<N>(b + q * kRow, ni, true, [&](int64_t r) { return col + r * kRow; });
            }
            for (int64_t q = 0; q < nj; ++q)
                std::memcpy(k.out(jt + q, it), b + q * kRow, static_cast<size_t>(ni * N));
        }
    }
}

// Quarter turns (a = d = 0, |b| = |c| = 1): source x steps by one per
// destination row and source y by one per column.
template <class K>
void run_turn(const K &k, const Map &m, const Rect &r, int64_t sw, int64_t sh)
{
    constexpr int64_t kTile = 64;
    int64_t lo = r.x0, hi = r.x1, jlo = r.y0, jhi = r.y1;
    narrow(m.y, m.c, sh, &lo, &hi);
    narrow(m.x, m.b, sw, &jlo, &jhi);
    if (lo >= hi || jlo >= jhi)
        return;
    const int xdir = m.b > 0 ? 1 : -1, ydir = m.c > 0 ? 1 : -1;
    const int64_t x_jlo = static_cast<int64_t>((m.x + static_cast<i128>(jlo) * m.b) >> 32);
    const int64_t y_lo = static_cast<int64_t>((m.y + static_cast<i128>(lo) * m.c) >> 32);
    if constexpr (K::kPacked) {
        turn_packed(k, lo, hi, jlo, jhi, x_jlo, xdir, y_lo, ydir);
    } else {
        for (int64_t jt = jlo; jt < jhi; jt += kTile) {
            const int64_t jend = jt + kTile < jhi ? jt + kTile : jhi;
            for (int64_t it = lo; it < hi; it += kTile) {
                const int64_t iend = it + kTile < hi ? it + kTile : hi;
                const int64_t y = y_lo + ydir * (it - lo);
                for (int64_t j = jt; j < jend; ++j)
                    k.column(k.out(j, it), iend - it, x_jlo + xdir * (j - jlo), y, ydir);
            }
        }
    }
}

// The general case: per row the exact span of columns whose source is
// inside, then fixed-point steps along it with no bounds test.  Rows go in
// strips and the strips in column tiles, so that a rotation reads a compact
// patch of the source at a time, and the next tile's patch is prefetched.
template <class K>
void run_general(const K &k, const Map &m, const Rect &r, int64_t sw, int64_t sh)
{
    constexpr int64_t kStrip = 64, kWidth = 64, kPrefetchRows = 2, kPrefetchStep = 4;
    struct Span {
        int64_t lo, hi; // inside columns of the row
        int64_t x, y;   // source point at column lo (32.32)
    } spans[kStrip];
    for (int64_t jt = r.y0; jt < r.y1; jt += kStrip) {
        const int64_t rows = jt + kStrip < r.y1 ? kStrip : r.y1 - jt;
        int64_t first = r.x1, last = r.x0; // union of the strip's spans
        for (int64_t q = 0; q < rows; ++q) {
            const i128 vx = m.x + static_cast<i128>(jt + q) * m.b;
            const i128 vy = m.y + static_cast<i128>(jt + q) * m.d;
            Span &sp = spans[q];
            sp.lo = r.x0;
            sp.hi = r.x1;
            narrow(vx, m.a, sw, &sp.lo, &sp.hi);
            narrow(vy, m.c, sh, &sp.lo, &sp.hi);
            if (sp.lo >= sp.hi)
                continue;
            sp.x = static_cast<int64_t>(vx + static_cast<i128>(sp.lo) * m.a);
            sp.y = static_cast<int64_t>(vy + static_cast<i128>(sp.lo) * m.c);
            first = sp.lo < first ? sp.lo : first;
            last = sp.hi > last ? sp.hi : last;
        }
        for (int64_t c0 = first; c0 < last; c0 += kWidth) {
            const int64_t c1 = c0 + kWidth < last ? c0 + kWidth : last;
            // Touch a sparse grid of the next tile's source points now, so
            // that its cache misses overlap this tile's work.
            const int64_t n1 = c1 + kWidth < last ? c1 + kWidth : last;
            for (int64_t q = 0; q < rows; q += kPrefetchRows) {
                const Span &sp = spans[q];
                const int64_t lo = sp.lo > c1 ? sp.lo : c1;
                const int64_t hi = sp.hi < n1 ? sp.hi : n1;
                if (lo >= hi)
                    continue;
                int64_t X = sp.x + (lo - sp.lo) * m.a, Y = sp.y + (lo - sp.lo) * m.c;
                for (int64_t i = lo; i < hi; i += kPrefetchStep) {
                    k.prefetch(X, Y);
                    X += kPrefetchStep * m.a;
                    Y += kPrefetchStep * m.c;
                }
            }
            for (int64_t q = 0; q < rows; ++q) {
                const Span &sp = spans[q];
                const int64_t lo = sp.lo > c0 ? sp.lo : c0;
                const int64_t hi = sp.hi < c1 ? sp.hi : c1;
                if (lo >= hi)
                    continue;
                k.step(k.out(jt + q, lo), hi - lo, sp.x + (lo - sp.lo) * m.a,
                       sp.y + (lo - sp.lo) * m.c, m.a, m.c);
            }
        }
    }
}

// Runs the map over every writable rectangle with the path its
// coefficients allow; fails only when memory ran out.
template <class K>
bool run_map(const K &k, const Map &m, const PodVec<Rect> &rects, int64_t sw, int64_t sh)
{
    PodVec<int32_t> xs; // source columns of the axis path
    const bool axis = m.b == 0 && m.c == 0;
    const bool turn =
        m.a == 0 && m.d == 0 && (m.b == kUnit || m.b == -kUnit) && (m.c == kUnit || m.c == -kUnit);
    bool ok = true;
    for (const Rect &r : rects) {
        if (axis)
            ok = run_axis(k, m, r, sw, sh, &xs);
        else if (turn)
            run_turn(k, m, r, sw, sh);
        else
            run_general(k, m, r, sw, sh);
        if (!ok)
            break;
    }
    return ok;
}

// Picks the pixel access for the two images and runs the map.
bool dispatch(const VelaImage *src, VelaImage *dst, const Map &m, const PodVec<Rect> &rects)
{
    const int64_t sw = src->width, sh = src->height;
    if (src->datatype == VELA_BIT)
        return run_map(BitKind(src, dst), m, rects, sw, sh);
    const bool packed = src->pixel_stride == src->nbands && dst->pixel_stride == dst->nbands;
    if (src->nbands == 1)
        return packed ? run_map(ByteKind<1, true>(src, dst), m, rects, sw, sh)
                      : run_map(ByteKind<1, false>(src, dst), m, rects, sw, sh);
    return packed ? run_map(ByteKind<3, true>(src, dst), m, rects, sw, sh)
                  : run_map(ByteKind<3, false>(src, dst), m, rects, sw, sh);
}

} // namespace

extern "C" {

int vela_affine(VelaImage *src, VelaImage *dst, const char *interpolation, const float *m)
{
    if (!src || !dst || !m) {
        report(src   ? src->state
               : dst ? dst->state
                     : nullptr,
               VELA_ERROR_USER, "vela_affine: no %s", m ? "image" : "matrix");
        return 0;
    }
    if (!interpolation || std::strcmp(interpolation, "nearest") != 0) {
        report(dst->state, VELA_ERROR_USER, "vela_affine: unknown interpolation \"%s\"",
               interpolation ? interpolation : "(null)");
        return 0;
    }
    if (src->nbands != dst->nbands || src->datatype != dst->datatype) {
        report(dst->state, VELA_ERROR_USER,
               "vela_affine: images differ in bands (%d, %d) or type (%d, %d)", src->nbands,
               dst->nbands, src->datatype, dst->datatype);
        return 0;
    }
    Map map;
    if (!make_map(src, dst, m, &map, "vela_affine"))
        return 0;
    PodVec<Rect> rects;
    if (!vela::writable_rects(dst, &rects)) {
        report(dst->state, VELA_ERROR_RESOURCE, "vela_affine: out of memory");
        return 0;
    }
    // A source that shares memory with the destination is read from a copy.
    VelaImage *tmp = nullptr;
    if (vela::may_overlap(src, dst)) {
        tmp = vela::clone_whole(src, "vela_affine");
        if (!tmp)
            return 0;
    }
    bool ok = dispatch(tmp ? tmp : src, dst, map, rects);
    vela_destroy(tmp);
    if (!ok) {
        report(dst->state, VELA_ERROR_RESOURCE, "vela_affine: out of memory");
        return 0;
    }
    return 1;
}

int vela_scale(VelaImage *src, VelaImage *dst, const char *interpolation, float xscale,
               float yscale)
{
    const float m[6] = {xscale, 0, 0, yscale, 0, 0};
    return vela_affine(src, dst, interpolation, m);
}

int vela_rotate(VelaImage *src, VelaImage *dst, const char *interpolation, float angle)
{
    // The matrix goes through floats, as a caller's own matrix would.
    const double a = angle;
    const float k = static_cast<float>(std::cos(a)), n = static_cast<float>(std::sin(a));
    const float m[6] = {k, -n, n, k, 0, 0};
    return vela_affine(src, dst, interpolation, m);
}

} // extern "C"
