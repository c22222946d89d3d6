/*
 * colour_lookup_test.cc - lookups and colour cubes: creating and editing
 * them, mapping index images (clamping, 1-bit sides, regions of interest,
 * shared memory), cube indices with negative multipliers, the standard
 * "cc496" cube, and converting one lookup's colours to another's indices.
 */
#include <vector>

#include "vela_test.h"

namespace {

using velatest::pixel;
using velatest::set_pixel;

class LookupTest : public velatest::VelaTest {};

// Returns the entries of lut as bytes.
std::vector<unsigned char> values_of(VelaLookup *lut)
{
    std::vector<unsigned char> v(static_cast<size_t>(vela_lookup_get_num_entries(lut)) *
                                 vela_lookup_get_nbands(lut));
    EXPECT_EQ(vela_lookup_get_values(lut, vela_lookup_get_offset(lut),
                                     vela_lookup_get_num_entries(lut), v.data()),
              1);
    return v;
}

TEST_F(LookupTest, CreateGetSetValuesAndOffset)
{
    const unsigned char init[4 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 4, 10, init);
    ASSERT_NE(lut, nullptr);
    EXPECT_EQ(vela_lookup_get_num_entries(lut), 4);
    EXPECT_EQ(vela_lookup_get_nbands(lut), 3);
    EXPECT_EQ(vela_lookup_get_offset(lut), 10);

    unsigned char two[6];
    ASSERT_EQ(vela_lookup_get_values(lut, 11, 2, two), 1); // index values, not entries
    EXPECT_EQ(std::vector<unsigned char>(two, two + 6),
              (std::vector<unsigned char>{4, 5, 6, 7, 8, 9}));
    const unsigned char repl[3] = {200, 201, 202};
    ASSERT_EQ(vela_lookup_set_values(lut, 13, 1, repl), 1);
    EXPECT_EQ(values_of(lut), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8, 9, 200, 201, 202}));

    // Ranges outside the entries are refused and change nothing.
    EXPECT_EQ(vela_lookup_get_values(lut, 9, 1, two), 0);
    EXPECT_EQ(vela_lookup_set_values(lut, 13, 2, init), 0);
    EXPECT_EQ(vela_lookup_set_values(lut, 10, -1, init), 0);
    auto errors = take_errors();
    ASSERT_EQ(errors.size(), 3u);
    for (const auto &e : errors)
        EXPECT_EQ(e.category, VELA_ERROR_USER);

    ASSERT_EQ(vela_lookup_set_offset(lut, 0), 1);
    EXPECT_EQ(vela_lookup_get_offset(lut), 0);
    ASSERT_EQ(vela_lookup_get_values(lut, 3, 1, two), 1);
    EXPECT_EQ(two[0], 200);
    vela_lookup_destroy(lut);

    // No values: all zero.
    lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, 256, 0, nullptr);
    ASSERT_NE(lut, nullptr);
    for (unsigned char v : values_of(lut))
        EXPECT_EQ(v, 0);
    vela_lookup_destroy(lut);
}

TEST_F(LookupTest, CreateRefusesBadArguments)
{
    EXPECT_EQ(vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 2, 4, 0, nullptr), nullptr);
    EXPECT_EQ(vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, 0, 0, nullptr), nullptr);
    EXPECT_EQ(vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, 257, 0, nullptr), nullptr);
    EXPECT_EQ(vela_lookup_create(state, VELA_BIT, VELA_BYTE, 1, 3, 0, nullptr), nullptr);
    EXPECT_EQ(vela_lookup_create(state, 7, VELA_BYTE, 1, 3, 0, nullptr), nullptr);
    EXPECT_EQ(vela_lookup_create(nullptr, VELA_BYTE, VELA_BYTE, 1, 3, 0, nullptr), nullptr);
    auto errors = take_errors();
    ASSERT_EQ(errors.size(), 5u); // the last goes to the default handler
    for (const auto &e : errors)
        EXPECT_EQ(e.category, VELA_ERROR_USER);
}

TEST_F(LookupTest, MapsIndicesAndClampsOutOfRangeValues)
{
    // Entries for index values 100..102; below reads 100, above reads 102.
    const unsigned char colours[3 * 3] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 3, 100, colours);
    ASSERT_NE(lut, nullptr);
    VelaImage *src = make(7, 2, 1, VELA_BYTE);
    VelaImage *dst = make(7, 2, 3, VELA_BYTE);
    const int idx[7] = {0, 99, 100, 101, 102, 103, 255};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 7; ++x)
            set_pixel(src, x, y, 0, idx[x]);
    ASSERT_EQ(vela_lookup(src, dst, lut), 1);
    const int entry[7] = {0, 0, 0, 1, 2, 2, 2};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 7; ++x)
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(pixel(dst, x, y, b), colours[entry[x] * 3 + b]) << x << "," << b;
    vela_lookup_destroy(lut);
}

TEST_F(LookupTest, OneBitSidesAndOneBandInPlace)
{
    // The viewer's 1-bit-to-colour lookup: 0 white, 1 black.
    const unsigned char bw[6] = {255, 255, 255, 0, 0, 0};
    VelaLookup *lut = vela_lookup_create(state, VELA_BIT, VELA_BYTE, 3, 2, 0, bw);
    VelaImage *bits = make(19, 3, 1, VELA_BIT);
    VelaImage *rgb = make(19, 3, 3, VELA_BYTE);
    std::mt19937 rng(5);
    velatest::fill_random(bits, rng);
    ASSERT_EQ(vela_lookup(bits, rgb, lut), 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 19; ++x)
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(pixel(rgb, x, y, b), pixel(bits, x, y) ? 0 : 255);
    vela_lookup_destroy(lut);

    // Byte to bit: a 1-bit lookup keeps non-zero values as 1.
    unsigned char parity[256];
    for (int i = 0; i < 256; ++i)
        parity[i] = static_cast<unsigned char>(i % 2 ? 77 : 0);
    lut = vela_lookup_create(state, VELA_BYTE, VELA_BIT, 1, 256, 0, parity);
    VelaImage *bytes = make(21, 2, 1, VELA_BYTE);
    velatest::fill_random(bytes, rng);
    VelaImage *out = make(21, 2, 1, VELA_BIT);
    ASSERT_EQ(vela_lookup(bytes, out, lut), 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 21; ++x)
            EXPECT_EQ(pixel(out, x, y), pixel(bytes, x, y) % 2);
    vela_lookup_destroy(lut);

    // 1 band to 1 band in place, as the reduction lookup is applied.
    unsigned char plus40[256];
    for (int i = 0; i < 256; ++i)
        plus40[i] = static_cast<unsigned char>((i + 40) & 255);
    lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, 256, 0, plus40);
    std::vector<int> before = velatest::samples(bytes);
    ASSERT_EQ(vela_lookup(bytes, bytes, lut), 1);
    std::vector<int> after = velatest::samples(bytes);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i], (before[i] + 40) & 255);
    vela_lookup_destroy(lut);
}

TEST_F(LookupTest, RespectsRoiOriginsAndSharedMemory)
{
    unsigned char ramp[256 * 3];
    for (int i = 0; i < 256; ++i)
        for (int b = 0; b < 3; ++b)
            ramp[i * 3 + b] = static_cast<unsigned char>((255 - i + b) & 255);
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 256, 0, ramp);
    VelaImage *src = make(16, 10, 1, VELA_BYTE);
    std::mt19937 rng(9);
    velatest::fill_random(src, rng);
    VelaImage *dst = make(16, 10, 3, VELA_BYTE);
    const float seven[3] = {7, 7, 7};
    vela_set_value(dst, seven);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 2, 1, 5, 3);
    vela_roi_add_rect(roi, 9, 6, 7, 4);
    ASSERT_EQ(vela_set_roi(dst, roi), 1);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_lookup(src, dst, lut), 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool in = (x >= 2 && x < 7 && y >= 1 && y < 4) || (x >= 9 && y >= 6);
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(pixel(dst, x, y, b), in ? (255 - pixel(src, x, y) + b) & 255 : 7)
                    << x << "," << y;
        }

    // Origins align the two images: dst (x, y) reads src (x + 3, y + 1).
    VelaImage *small = make(8, 8, 3, VELA_BYTE);
    vela_set_value(small, seven);
    vela_set_origin(src, 3, 1);
    ASSERT_EQ(vela_lookup(src, small, lut), 1);
    vela_set_origin(src, 0, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(pixel(small, x, y, 0), 255 - pixel(src, x + 3, y + 1));

    // A 1-band child of the 3-band destination is read before it is written.
    VelaImage *rgb = make(12, 4, 3, VELA_BYTE);
    velatest::fill_random(rgb, rng);
    VelaImage *band1 = child(rgb, 0, 0, 12, 4, 1, 1);
    std::vector<int> green;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 12; ++x)
            green.push_back(pixel(rgb, x, y, 1));
    ASSERT_EQ(vela_lookup(band1, rgb, lut), 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 12; ++x)
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(pixel(rgb, x, y, b), (255 - green[y * 12 + x] + b) & 255);
    vela_lookup_destroy(lut);
}

TEST_F(LookupTest, RefusesImagesThatDoNotFit)
{
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 256, 0, nullptr);
    VelaImage *one = make(4, 4, 1, VELA_BYTE), *three = make(4, 4, 3, VELA_BYTE);
    VelaImage *bits = make(4, 4, 1, VELA_BIT);
    EXPECT_EQ(vela_lookup(three, three, lut), 0); // src must have 1 band
    EXPECT_EQ(vela_lookup(one, one, lut), 0);     // dst must have 3
    EXPECT_EQ(vela_lookup(bits, three, lut), 0);  // src type is the lookup's in_type
    EXPECT_EQ(vela_lookup(one, three, nullptr), 0);
    auto errors = take_errors();
    ASSERT_EQ(errors.size(), 4u);
    for (const auto &e : errors)
        EXPECT_EQ(e.category, VELA_ERROR_USER);
    vela_lookup_destroy(lut);
}

TEST_F(LookupTest, ColourCubeIndicesAndLevels)
{
    // The viewer's 16-colour cube.
    const int mult[3] = {1, 2, 8};
    const unsigned dims[3] = {2, 4, 2};
    VelaLookup *cube = vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 0, mult, dims);
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(vela_lookup_get_num_entries(cube), 16);
    std::vector<unsigned char> v = values_of(cube);
    const int g[4] = {0, 85, 170, 255};
    for (int r = 0; r < 2; ++r)
        for (int gi = 0; gi < 4; ++gi)
            for (int b = 0; b < 2; ++b) {
                const int index = b + 2 * gi + 8 * r;
                EXPECT_EQ(v[index * 3], b * 255);
                EXPECT_EQ(v[index * 3 + 1], g[gi]);
                EXPECT_EQ(v[index * 3 + 2], r * 255);
            }
    vela_lookup_destroy(cube);

    // The 2-level cube for 1-bit output: white is index 0, black index 1.
    const int down[1] = {-1};
    const unsigned two[1] = {2};
    cube = vela_colorcube_create(state, VELA_BIT, VELA_BYTE, 1, 0, down, two);
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(values_of(cube), (std::vector<unsigned char>{255, 0}));
    vela_lookup_destroy(cube);

    // A negative multiplier among positive ones counts its band down.
    const int mixed[3] = {-1, 3, 9};
    const unsigned three[3] = {3, 3, 3};
    cube = vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 5, mixed, three);
    ASSERT_NE(cube, nullptr);
    v = values_of(cube);
    for (int l0 = 0; l0 < 3; ++l0)
        for (int l1 = 0; l1 < 3; ++l1)
            for (int l2 = 0; l2 < 3; ++l2) {
                const int e = (2 - l0) + 3 * l1 + 9 * l2;
                EXPECT_EQ(v[e * 3], l0 == 0 ? 0 : l0 == 1 ? 128 : 255);
                EXPECT_EQ(v[e * 3 + 1], l1 == 0 ? 0 : l1 == 1 ? 128 : 255);
            }
    vela_lookup_destroy(cube);

    // Multipliers that make two colours share an index, or leave gaps.
    const int clash[3] = {1, 1, 4};
    EXPECT_EQ(vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 0, clash, dims), nullptr);
    const int gap[3] = {1, 3, 12};
    EXPECT_EQ(vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 0, gap, dims), nullptr);
    // Indices past the index type's range.
    EXPECT_EQ(vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 241, mult, dims), nullptr);
    EXPECT_EQ(vela_colorcube_create(state, VELA_BIT, VELA_BYTE, 1, 1, down, two), nullptr);
    EXPECT_EQ(take_errors().size(), 4u);
}

TEST_F(LookupTest, StandardCubeCc496)
{
    VelaLookup *cc = vela_lookup_get_by_name(state, "cc496");
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(vela_lookup_get_by_name(state, "cc496"), cc); // one per state
    EXPECT_EQ(vela_lookup_get_num_entries(cc), 216);
    EXPECT_EQ(vela_lookup_get_offset(cc), 40);
    EXPECT_EQ(vela_lookup_get_nbands(cc), 3);
    std::vector<unsigned char> v = values_of(cc);
    auto level = [](int k, int n) { return (2 * k * 255 + n - 1) / (2 * (n - 1)); };
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 9; ++g)
            for (int b = 0; b < 4; ++b) {
                const int e = b + 4 * g + 36 * r;
                EXPECT_EQ(v[e * 3], level(b, 4));
                EXPECT_EQ(v[e * 3 + 1], level(g, 9));
                EXPECT_EQ(v[e * 3 + 2], level(r, 6));
            }
    EXPECT_EQ(v[1 * 3 + 0], 85);   // blue level 1 of 4
    EXPECT_EQ(v[4 * 3 + 1], 32);   // green level 1 of 9: 31.875
    EXPECT_EQ(v[36 * 3 + 2], 51);  // red level 1 of 6
    EXPECT_EQ(vela_lookup_get_by_name(state, "cc123"), nullptr);

    // It belongs to the state: destroying it is refused.
    vela_lookup_destroy(cc);
    EXPECT_EQ(take_errors().size(), 1u);
    EXPECT_EQ(vela_lookup_get_num_entries(vela_lookup_get_by_name(state, "cc496")), 216);
}

TEST_F(LookupTest, ConvertFindsNearestIndexValues)
{
    // b: 4 colours at index values 40..43.
    const unsigned char bc[4 * 3] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 200};
    VelaLookup *b = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 4, 40, bc);
    const unsigned char ac[5 * 3] = {10, 10, 10, 250, 240, 230, 200, 30, 20, 0, 0, 100, 0, 0, 101};
    VelaLookup *a = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 5, 7, ac);
    VelaLookup *c = vela_lookup_convert(a, b);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(vela_lookup_get_nbands(c), 1);
    EXPECT_EQ(vela_lookup_get_offset(c), 7);
    EXPECT_EQ(vela_lookup_get_num_entries(c), 5);
    // (0, 0, 100) is as near to black as to (0, 0, 200): the lower entry.
    EXPECT_EQ(values_of(c), (std::vector<unsigned char>{40, 41, 42, 40, 43}));
    vela_lookup_destroy(c);

    // Random colours against brute force.
    std::mt19937 rng(3);
    std::vector<unsigned char> big(256 * 3), few(37 * 3);
    for (auto &x : big)
        x = static_cast<unsigned char>(rng());
    for (auto &x : few)
        x = static_cast<unsigned char>(rng());
    VelaLookup *la = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 256, 0, big.data());
    VelaLookup *lb = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 37, 3, few.data());
    c = vela_lookup_convert(la, lb);
    ASSERT_NE(c, nullptr);
    std::vector<unsigned char> got = values_of(c);
    for (int i = 0; i < 256; ++i) {
        int best = 0, bestd = 1 << 30;
        for (int k = 0; k < 37; ++k) {
            int d = 0;
            for (int j = 0; j < 3; ++j) {
                const int t = big[i * 3 + j] - few[k * 3 + j];
                d += t * t;
            }
            if (d < bestd) {
                bestd = d;
                best = k;
            }
        }
        EXPECT_EQ(got[i], best + 3) << i;
    }
    vela_lookup_destroy(c);

    // Band counts must agree; b's index values must fit a byte.
    VelaLookup *grey = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 1, 4, 0, nullptr);
    EXPECT_EQ(vela_lookup_convert(a, grey), nullptr);
    vela_lookup_set_offset(lb, 250);
    EXPECT_EQ(vela_lookup_convert(la, lb), nullptr);
    EXPECT_EQ(take_errors().size(), 2u);
    for (VelaLookup *l : {a, b, la, lb, grey})
        vela_lookup_destroy(l);
}

} // namespace
