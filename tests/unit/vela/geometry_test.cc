/*
 * geometry_test.cc - vela_affine, vela_scale and vela_rotate.  A plain
 * per-pixel implementation of the library's fixed-point definition (one
 * multiplication per coordinate, no stepping, no fast paths) is compared
 * pixel for pixel with the library over many random matrices, sizes,
 * types, child images and regions of interest; a few hand-checked cases
 * pin down the orientation conventions.
 */
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vela_test.h"

namespace {

using namespace velatest;
typedef __int128 i128;

// The library's fixed-point map, computed from its written definition.
struct RefMap {
    int64_t a, b, c, d, x, y;
};

// Returns false for a matrix the definition refuses.
bool ref_map(const float *m, float sox, float soy, float dox, float doy, RefMap *r)
{
    const double m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5];
    const double det = m0 * m3 - m2 * m1;
    if (det == 0.0 || !std::isfinite(det))
        return false;
    const double n0 = m3 / det, n1 = -m1 / det, n2 = -m2 / det, n3 = m0 / det;
    const double u = (0.5 - static_cast<double>(dox)) - m4;
    const double v = (0.5 - static_cast<double>(doy)) - m5;
    const double bx = (n0 * u + n2 * v) + static_cast<double>(sox);
    const double by = (n1 * u + n3 * v) + static_cast<double>(soy);
    const double two32 = 4294967296.0;
    r->a = std::llround(n0 * two32);
    r->b = std::llround(n2 * two32);
    r->c = std::llround(n1 * two32);
    r->d = std::llround(n3 * two32);
    r->x = std::llround(bx * two32);
    r->y = std::llround(by * two32);
    return true;
}

// Returns floor(v / 2^32).
int64_t floor32(i128 v)
{
    i128 q = v / (static_cast<i128>(1) << 32);
    if (q * (static_cast<i128>(1) << 32) > v)
        --q;
    return static_cast<int64_t>(q);
}

// Direct pixel access to an image through its storage, for speed.
struct Pixels {
    VelaMemoryStorage st;
    int w, h, nb, type;
    explicit Pixels(VelaImage *img) : st(storage_of(img))
    {
        vela_get_info(img, &w, &h, &nb, &type);
    }
    int get(int x, int y, int b) const { return sample_at(st, type, x, y, b); }
};

// The expected result: dst (its samples before the call in `out`, w x h x
// nb in row order) after the warp, writable only where `mask` is set.
void ref_affine(const Pixels &src, const RefMap &m, int w, int h, int nb,
                const std::vector<bool> &mask, std::vector<int> *out)
{
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            if (!mask[static_cast<size_t>(j) * w + i])
                continue;
            int64_t sx = floor32(static_cast<i128>(m.x) + static_cast<i128>(i) * m.a +
                                 static_cast<i128>(j) * m.b);
            int64_t sy = floor32(static_cast<i128>(m.y) + static_cast<i128>(i) * m.c +
                                 static_cast<i128>(j) * m.d);
            if (sx < 0 || sy < 0 || sx >= src.w || sy >= src.h)
                continue;
            for (int b = 0; b < nb; ++b)
                (*out)[(static_cast<size_t>(j) * w + i) * nb + b] =
                    src.get(static_cast<int>(sx), static_cast<int>(sy), b);
        }
    }
}

// The kinds of image the library offers.
struct Kind {
    int bands, type;
};
const Kind kKinds[] = {{1, VELA_BIT}, {1, VELA_BYTE}, {3, VELA_BYTE}};

class Geometry : public VelaTest {
  protected:
    std::mt19937 rng{20240611};

    double uniform(double lo, double hi)
    {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    // Returns an image of the kind to read from or write to: sometimes a
    // plain image, sometimes a child at an offset inside a larger parent,
    // and for 1-band bytes sometimes one band of a 3-band parent.
    VelaImage *make_operand(const Kind &k, int w, int h)
    {
        int form = pick(0, 3);
        if (form == 0)
            return make(w, h, k.bands, k.type);
        if (form == 3)
            return with_own_storage(k, w, h, pick(0, 2));
        int px = pick(0, 9), py = pick(0, 5);
        bool band_view = k.type == VELA_BYTE && k.bands == 1 && form == 2;
        VelaImage *parent =
            make(w + px + pick(0, 9), h + py + pick(0, 5), band_view ? 3 : k.bands, k.type);
        fill_random(parent, rng);
        return child(parent, px, py, w, h, band_view ? pick(0, 2) : 0, k.bands);
    }

    // Returns a w x h image whose memory was handed over with
    // vela_set_memory_storage: exactly as large as its rows need (so that
    // reading past the last pixel is caught), with `pad` spare bytes a row
    // and, for bits, rows that start inside a byte.
    VelaImage *with_own_storage(const Kind &k, int w, int h, int pad)
    {
        VelaImage *img = make(w, h, k.bands, k.type);
        const int bit = k.type == VELA_BIT ? pick(0, 7) : 0;
        const int row = (k.type == VELA_BIT ? (bit + w + 7) / 8 : w * k.bands) + pad;
        auto *mem = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(row) * h));
        EXPECT_NE(mem, nullptr);
        VelaMemoryStorage st{mem, row, k.type == VELA_BIT ? 0 : k.bands, bit};
        EXPECT_EQ(vela_set_memory_storage(img, &st), 1);
        fill_random(img, rng);
        return img;
    }

    // Warps a random w x h source (own memory or the library's) into a
    // dw x dh destination with both origins at the centres, as the viewer
    // does, and compares with the definition.
    void check_large(const Kind &k, int w, int h, int dw, int dh, const float *m, bool own)
    {
        VelaImage *src = own ? with_own_storage(k, w, h, 0) : make(w, h, k.bands, k.type);
        VelaImage *dst = make(dw, dh, k.bands, k.type);
        fill_random(src, rng);
        fill_random(dst, rng);
        vela_set_origin(src, w * 0.5f, h * 0.5f);
        vela_set_origin(dst, dw * 0.5f, dh * 0.5f);
        RefMap map;
        ASSERT_TRUE(ref_map(m, w * 0.5f, h * 0.5f, dw * 0.5f, dh * 0.5f, &map));
        // The same per-pixel definition as ref_affine, on packed bytes.
        const VelaMemoryStorage d = storage_of(dst);
        const Pixels s(src);
        std::vector<unsigned char> expect(d.data,
                                          d.data + static_cast<size_t>(d.bytes_per_row) * dh);
        for (int j = 0; j < dh; ++j) {
            for (int i = 0; i < dw; ++i) {
                const int64_t sx = floor32(static_cast<i128>(map.x) + static_cast<i128>(i) * map.a +
                                           static_cast<i128>(j) * map.b);
                const int64_t sy = floor32(static_cast<i128>(map.y) + static_cast<i128>(i) * map.c +
                                           static_cast<i128>(j) * map.d);
                if (sx < 0 || sy < 0 || sx >= w || sy >= h)
                    continue;
                for (int b = 0; b < k.bands; ++b)
                    expect[static_cast<size_t>(j) * d.bytes_per_row + i * k.bands + b] =
                        static_cast<unsigned char>(
                            s.get(static_cast<int>(sx), static_cast<int>(sy), b));
            }
        }
        ASSERT_EQ(vela_affine(src, dst, "nearest", m), 1);
        EXPECT_TRUE(std::memcmp(expect.data(), d.data, expect.size()) == 0)
            << w << "x" << h << " -> " << dw << "x" << dh << " bands " << k.bands << " type "
            << k.type << " own memory " << own << " matrix (" << m[0] << ", " << m[1] << ", "
            << m[2] << ", " << m[3] << ")";
        for (VelaImage *img : owned)
            vela_destroy(img);
        owned.clear();
    }

    // Returns a random forward matrix from one of the families the fast
    // paths and the general path serve.
    void random_matrix(float *m)
    {
        double a = 1, b = 0, c = 0, d = 1;
        switch (pick(0, 6)) {
        case 0: { // a quarter turn as the viewer computes it, maybe zoomed
            double t = pick(0, 3) * M_PI / 2;
            double z = pick(0, 2) == 0 ? pick(2, 3) : 1;
            a = std::cos(t) * z, b = -std::sin(t) * z, c = std::sin(t) * z, d = std::cos(t) * z;
            break;
        }
        case 1: { // flips and integer zooms
            a = pick(1, 4) * (pick(0, 1) ? -1 : 1);
            d = (pick(0, 1) ? a : pick(1, 4)) * (pick(0, 1) ? -1 : 1);
            break;
        }
        case 2: { // axis-aligned scales
            a = uniform(0.1, 8) * (pick(0, 1) ? -1 : 1);
            d = uniform(0.1, 8) * (pick(0, 1) ? -1 : 1);
            break;
        }
        case 3: { // rotation and scale
            double t = uniform(0, 2 * M_PI), s = uniform(0.1, 8);
            a = std::cos(t) * s, b = -std::sin(t) * s, c = std::sin(t) * s, d = std::cos(t) * s;
            break;
        }
        case 4: // shears
            b = uniform(-2, 2);
            c = pick(0, 1) ? uniform(-2, 2) : 0;
            break;
        case 5: // anything invertible
            do {
                a = uniform(-4, 4), b = uniform(-4, 4), c = uniform(-4, 4), d = uniform(-4, 4);
            } while (std::fabs(a * d - b * c) < 0.05);
            break;
        default: // identity, exact quarter turn
            if (pick(0, 1))
                a = 0, d = 0, b = pick(0, 1) ? 1 : -1, c = pick(0, 1) ? 1 : -1;
            break;
        }
        m[0] = static_cast<float>(a);
        m[1] = static_cast<float>(b);
        m[2] = static_cast<float>(c);
        m[3] = static_cast<float>(d);
        int t = pick(0, 2);
        m[4] = t == 0   ? 0.0f
               : t == 1 ? static_cast<float>(pick(-8, 8))
                        : static_cast<float>(uniform(-8, 8));
        m[5] = t == 0   ? 0.0f
               : t == 1 ? static_cast<float>(pick(-8, 8))
                        : static_cast<float>(uniform(-8, 8));
    }

    // Sets a random origin: none, the centre (as the viewer does), or any.
    void random_origin(VelaImage *img)
    {
        int w = vela_get_width(img), h = vela_get_height(img);
        switch (pick(0, 2)) {
        case 0: vela_set_origin(img, 0, 0); break;
        case 1: vela_set_origin(img, w * 0.5f, h * 0.5f); break;
        default:
            vela_set_origin(img, static_cast<float>(uniform(-4, w + 4)),
                            static_cast<float>(uniform(-4, h + 4)));
        }
    }

    // Runs one random case with sides up to max_side; returns false after
    // reporting a mismatch.
    bool one_case(int max_side, int n)
    {
        const Kind &k = kKinds[pick(0, 2)];
        int sw = pick(1, max_side), sh = pick(1, max_side);
        int dw = pick(1, max_side), dh = pick(1, max_side);
        if (pick(0, 3) == 0) { // the viewer's shapes: same size or turned
            dw = pick(0, 1) ? sw : sh;
            dh = dw == sw ? sh : sw;
        }
        VelaImage *src = make_operand(k, sw, sh);
        VelaImage *dst = make_operand(k, dw, dh);
        fill_random(src, rng);
        fill_random(dst, rng);
        random_origin(src);
        random_origin(dst);

        std::vector<bool> mask(static_cast<size_t>(dw) * dh, true);
        if (pick(0, 2) == 0) {
            VelaRoi *roi = vela_roi_create(state);
            std::fill(mask.begin(), mask.end(), false);
            for (int r = pick(0, 3); r > 0; --r) {
                int x = pick(-3, dw), y = pick(-3, dh), w = pick(0, dw), h = pick(0, dh);
                vela_roi_add_rect(roi, x, y, w, h);
                for (int yy = std::max(y, 0); yy < std::min(y + h, dh); ++yy)
                    for (int xx = std::max(x, 0); xx < std::min(x + w, dw); ++xx)
                        mask[static_cast<size_t>(yy) * dw + xx] = true;
            }
            vela_set_roi(dst, roi);
            vela_roi_destroy(roi);
        }

        float m[6];
        random_matrix(m);
        float sox, soy, dox, doy;
        vela_get_origin(src, &sox, &soy);
        vela_get_origin(dst, &dox, &doy);
        RefMap map;
        if (!ref_map(m, sox, soy, dox, doy, &map))
            return true;
        std::vector<int> expect = samples(dst);
        ref_affine(Pixels(src), map, dw, dh, k.bands, mask, &expect);

        EXPECT_EQ(vela_affine(src, dst, "nearest", m), 1);
        std::vector<int> got = samples(dst);
        if (got != expect) {
            size_t at = 0;
            while (got[at] == expect[at])
                ++at;
            ADD_FAILURE() << "case " << n << ": " << sw << "x" << sh << " -> " << dw << "x" << dh
                          << " bands " << k.bands << " type " << k.type << " matrix (" << m[0]
                          << ", " << m[1] << ", " << m[2] << ", " << m[3] << ", " << m[4] << ", "
                          << m[5] << ") origins (" << sox << ", " << soy << ") (" << dox << ", "
                          << doy << "): first difference at sample " << at << ", got " << got[at]
                          << " expected " << expect[at];
            return false;
        }
        for (VelaImage *img : owned)
            vela_destroy(img);
        owned.clear();
        return true;
    }
};

TEST_F(Geometry, MatchesTheDefinitionOnSmallRandomCases)
{
    for (int n = 0; n < 3000; ++n)
        if (!one_case(24, n))
            break;
    EXPECT_TRUE(take_errors().empty());
}

// Sizes past the tile sizes of the quarter-turn and general paths.
TEST_F(Geometry, MatchesTheDefinitionOnLargerRandomCases)
{
    for (int n = 0; n < 150; ++n)
        if (!one_case(400, n))
            break;
    EXPECT_TRUE(take_errors().empty());
}

// Images whose results exceed the cache, which the library streams past
// it, and sources without spare bytes after their last pixel.
TEST_F(Geometry, MatchesTheDefinitionOnLargeImages)
{
    const double t = 33 * M_PI / 180;
    const float turn[6] = {0, -1, 1, 0, 0, 0}, left[6] = {0, 1, -1, 0, 0, 0};
    const float mirror_lr[6] = {-1, 0, 0, 1, 0, 0}, mirror_tb[6] = {1, 0, 0, -1, 0, 0};
    const float zoom[6] = {2, 0, 0, 2, 0, 0};
    const float rot[6] = {static_cast<float>(std::cos(t)),
                          static_cast<float>(-std::sin(t)),
                          static_cast<float>(std::sin(t)),
                          static_cast<float>(std::cos(t)),
                          0,
                          0};
    // 3-band results of 2401 x 2403 and 1-band ones of 4099 x 4101 are
    // past the streaming size.
    const Kind &grey = kKinds[1], &colour = kKinds[2];
    for (bool own : {false, true}) {
        check_large(colour, 2401, 2403, 2403, 2401, own ? left : turn, own);
        check_large(colour, 2401, 2403, 2401, 2403, mirror_lr, own);
        check_large(colour, 2401, 2403, 2401, 2403, rot, own);
    }
    check_large(colour, 2401, 2403, 2401, 2403, mirror_tb, false);
    check_large(colour, 1200, 1201, 2401, 2403, zoom, false);
    check_large(grey, 4099, 4101, 4101, 4099, turn, true);
    check_large(grey, 4099, 4101, 4099, 4101, rot, false);
    EXPECT_TRUE(take_errors().empty());
}

// Pixels of a destination's parent outside the child stay as they were.
TEST_F(Geometry, WritesOnlyInsideAChildDestination)
{
    VelaImage *parent = make(20, 12, 3, VELA_BYTE);
    fill_random(parent, rng);
    std::vector<int> before = samples(parent);
    VelaImage *view = child(parent, 3, 2, 9, 7, 0, 3);
    VelaImage *src = make(30, 30, 3, VELA_BYTE);
    fill_random(src, rng);
    const float m[6] = {0.8f, -0.6f, 0.6f, 0.8f, 0, 0};
    ASSERT_EQ(vela_affine(src, view, "nearest", m), 1);
    std::vector<int> after = samples(parent);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            if (x < 3 || x >= 12 || y < 2 || y >= 9) {
                for (int b = 0; b < 3; ++b)
                    ASSERT_EQ(after[(y * 20 + x) * 3 + b], before[(y * 20 + x) * 3 + b]);
            }
}

// The viewer's conventions: a positive rotation turns the picture
// counter-clockwise on the screen, (-1, 0, 0, 1) mirrors left and right,
// and a 2x zoom about the centres makes each pixel a 2 x 2 block.
TEST_F(Geometry, OrientationConventions)
{
    VelaImage *src = make(3, 2, 1, VELA_BYTE);
    const int v[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            set_pixel(src, x, y, 0, v[y][x]);
    vela_set_origin(src, 1.5f, 1.0f);

    VelaImage *turned = make(2, 3, 1, VELA_BYTE);
    vela_set_origin(turned, 1.0f, 1.5f);
    ASSERT_EQ(vela_rotate(src, turned, "nearest", static_cast<float>(M_PI / 2)), 1);
    EXPECT_EQ(samples(turned), (std::vector<int>{3, 6, 2, 5, 1, 4}));

    VelaImage *mirrored = make(3, 2, 1, VELA_BYTE);
    vela_set_origin(mirrored, 1.5f, 1.0f);
    const float lr[6] = {-1, 0, 0, 1, 0, 0};
    ASSERT_EQ(vela_affine(src, mirrored, "nearest", lr), 1);
    EXPECT_EQ(samples(mirrored), (std::vector<int>{3, 2, 1, 6, 5, 4}));

    VelaImage *zoomed = make(6, 4, 1, VELA_BYTE);
    vela_set_origin(zoomed, 3.0f, 2.0f);
    ASSERT_EQ(vela_scale(src, zoomed, "nearest", 2, 2), 1);
    EXPECT_EQ(samples(zoomed), (std::vector<int>{1, 1, 2, 2, 3, 3, 1, 1, 2, 2, 3, 3,
                                                 4, 4, 5, 5, 6, 6, 4, 4, 5, 5, 6, 6}));
}

// A 45-degree turn leaves the corners of its bounding box untouched, the
// way the viewer expects to have filled them beforehand.
TEST_F(Geometry, PixelsWithoutSourceKeepTheirValue)
{
    VelaImage *src = make(10, 10, 1, VELA_BYTE);
    const float grey[1] = {100};
    vela_set_value(src, grey);
    VelaImage *dst = make(14, 14, 1, VELA_BYTE);
    const float fill[1] = {7};
    vela_set_value(dst, fill);
    vela_set_origin(src, 5, 5);
    vela_set_origin(dst, 7, 7);
    ASSERT_EQ(vela_rotate(src, dst, "nearest", static_cast<float>(M_PI / 4)), 1);
    EXPECT_EQ(pixel(dst, 0, 0), 7);
    EXPECT_EQ(pixel(dst, 13, 13), 7);
    EXPECT_EQ(pixel(dst, 7, 7), 100);
}

// Warping an image onto itself reads the source as it was.
TEST_F(Geometry, SourceSharingTheDestinationIsReadBeforeWriting)
{
    VelaImage *img = make(16, 16, 3, VELA_BYTE);
    fill_random(img, rng);
    VelaImage *copy = vela_create_copy(img, 0, 0, 16, 16, 0, 3);
    ASSERT_NE(copy, nullptr);
    owned.insert(owned.begin(), copy);
    VelaImage *expect = make(16, 16, 3, VELA_BYTE);
    for (VelaImage *i : {img, copy, expect})
        vela_set_origin(i, 8, 8);
    const float m[6] = {0, 1, -1, 0, 0, 0};
    ASSERT_EQ(vela_affine(copy, expect, "nearest", m), 1);
    ASSERT_EQ(vela_affine(img, img, "nearest", m), 1);
    EXPECT_EQ(samples(img), samples(expect));

    // A child shifted inside its parent, copied onto the parent.
    VelaImage *parent = make(12, 1, 1, VELA_BYTE);
    for (int x = 0; x < 12; ++x)
        set_pixel(parent, x, 0, 0, x);
    VelaImage *right = child(parent, 2, 0, 10, 1, 0, 1);
    const float id[6] = {1, 0, 0, 1, 0, 0};
    ASSERT_EQ(vela_affine(right, parent, "nearest", id), 1);
    EXPECT_EQ(samples(parent), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 10, 11}));
}

TEST_F(Geometry, ScaleAndRotateAreAffineWithTheirMatrices)
{
    VelaImage *src = make(13, 9, 3, VELA_BYTE);
    fill_random(src, rng);
    vela_set_origin(src, 6.5f, 4.5f);
    VelaImage *a = make(17, 17, 3, VELA_BYTE);
    VelaImage *b = make(17, 17, 3, VELA_BYTE);
    vela_set_origin(a, 8.5f, 8.5f);
    vela_set_origin(b, 8.5f, 8.5f);

    ASSERT_EQ(vela_scale(src, a, "nearest", 1.7f, -0.6f), 1);
    const float s[6] = {1.7f, 0, 0, -0.6f, 0, 0};
    ASSERT_EQ(vela_affine(src, b, "nearest", s), 1);
    EXPECT_EQ(samples(a), samples(b));

    const float angle = 0.7f;
    ASSERT_EQ(vela_rotate(src, a, "nearest", angle), 1);
    const float k = static_cast<float>(std::cos(static_cast<double>(angle)));
    const float n = static_cast<float>(std::sin(static_cast<double>(angle)));
    const float r[6] = {k, -n, n, k, 0, 0};
    ASSERT_EQ(vela_affine(src, b, "nearest", r), 1);
    EXPECT_EQ(samples(a), samples(b));
}

TEST_F(Geometry, RefusesBadArgumentsAsUserErrors)
{
    VelaImage *src = make(8, 8, 1, VELA_BYTE);
    VelaImage *dst = make(8, 8, 1, VELA_BYTE);
    VelaImage *colour = make(8, 8, 3, VELA_BYTE);
    VelaImage *bits = make(8, 8, 1, VELA_BIT);
    const float fill[1] = {9};
    vela_set_value(dst, fill);
    const float id[6] = {1, 0, 0, 1, 0, 0};
    const float singular[6] = {1, 2, 2, 4, 0, 0};
    const float tiny[6] = {1e-12f, 0, 0, 1, 0, 0};
    const float nan_shift[6] = {1, 0, 0, 1, NAN, 0};

    EXPECT_EQ(vela_affine(src, dst, "bilinear", id), 0);
    EXPECT_EQ(vela_affine(src, dst, nullptr, id), 0);
    EXPECT_EQ(vela_affine(src, dst, "nearest", singular), 0);
    EXPECT_EQ(vela_affine(src, dst, "nearest", tiny), 0);
    EXPECT_EQ(vela_affine(src, dst, "nearest", nan_shift), 0);
    EXPECT_EQ(vela_affine(src, colour, "nearest", id), 0);
    EXPECT_EQ(vela_affine(src, bits, "nearest", id), 0);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 7u);
    for (const SeenError &e : errors) {
        EXPECT_EQ(e.category, VELA_ERROR_USER) << e.text;
        EXPECT_EQ(e.primary, 1);
        EXPECT_EQ(e.text.rfind("vela_affine: ", 0), 0u) << e.text;
    }
    EXPECT_EQ(samples(dst), std::vector<int>(64, 9));
}

} // namespace
