/*
 * colour_dither_test.cc - ordered dithering and error diffusion onto colour
 * cubes: exact indices for colours on the cube, the mean of dithered flat
 * colours, 1-bit output, masks, the Floyd-Steinberg kernel on grey and
 * colour images, regions of interest and refused arguments.
 */
#include <cmath>
#include <vector>

#include "vela_test.h"

namespace {

using velatest::pixel;
using velatest::set_pixel;

class DitherTest : public velatest::VelaTest {
  protected:
    // Returns a w x h image filled with one colour of nb bands.
    VelaImage *flat(int w, int h, int nb, int type, const int *c)
    {
        VelaImage *img = make(w, h, nb, type);
        float v[3];
        for (int b = 0; b < nb; ++b)
            v[b] = static_cast<float>(c[b]);
        vela_set_value(img, v);
        return img;
    }
    // Returns the cube's colour of index value i.
    std::vector<int> colour(VelaLookup *cube, int i)
    {
        unsigned char c[3];
        EXPECT_EQ(vela_lookup_get_values(cube, i, 1, c), 1);
        return std::vector<int>(c, c + vela_lookup_get_nbands(cube));
    }
};

TEST_F(DitherTest, ColoursOnTheCubeGiveTheirOwnIndex)
{
    VelaLookup *cc = vela_lookup_get_by_name(state, "cc496");
    VelaDitherMask *dm = vela_dithermask_get_by_name(state, "dm443");
    ASSERT_NE(cc, nullptr);
    ASSERT_NE(dm, nullptr);
    EXPECT_EQ(vela_dithermask_get_by_name(state, "dm443"), dm);
    EXPECT_EQ(vela_dithermask_get_by_name(state, "dm000"), nullptr);
    // One 8 x 8 tile per cube colour covers every mask cell twice.
    VelaImage *src = make(8 * 216, 8, 3, VELA_BYTE);
    for (int i = 0; i < 216; ++i) {
        std::vector<int> c = colour(cc, 40 + i);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                for (int b = 0; b < 3; ++b)
                    set_pixel(src, i * 8 + x, y, b, c[b]);
    }
    VelaImage *dst = make(8 * 216, 8, 1, VELA_BYTE);
    ASSERT_EQ(vela_ordered_dither(src, dst, cc, dm), 1);
    for (int i = 0; i < 216; ++i)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(pixel(dst, i * 8 + x, y), 40 + i) << i << " at " << x << "," << y;
}

TEST_F(DitherTest, FlatColoursDitherToTheirMean)
{
    // The 16-colour cube of a 4-bit display: levels 0/255, 0/85/170/255.
    const int mult[3] = {1, 2, 8};
    const unsigned dims[3] = {2, 4, 2};
    VelaLookup *cube = vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 3, 0, mult, dims);
    VelaDitherMask *dm = vela_dithermask_get_by_name(state, "dm443");
    VelaLookup *back = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 16, 0, nullptr);
    std::vector<unsigned char> vals(16 * 3);
    vela_lookup_get_values(cube, 0, 16, vals.data());
    vela_lookup_set_values(back, 0, 16, vals.data());
    const int cases[][3] = {{128, 128, 128}, {30, 200, 90}, {250, 10, 140}, {64, 100, 192}};
    for (const auto &c : cases) {
        VelaImage *src = flat(16, 16, 3, VELA_BYTE, c);
        VelaImage *idx = make(16, 16, 1, VELA_BYTE);
        VelaImage *rgb = make(16, 16, 3, VELA_BYTE);
        ASSERT_EQ(vela_ordered_dither(src, idx, cube, dm), 1);
        ASSERT_EQ(vela_lookup(idx, rgb, back), 1);
        for (int b = 0; b < 3; ++b) {
            double sum = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    sum += pixel(rgb, x, y, b);
            // A 16-cell mask resolves a level step into 16 parts.
            const double step = b == 1 ? 85 : 255;
            EXPECT_NEAR(sum / 256, c[b], step / 16 + 1) << c[0] << "," << c[1] << "," << c[2];
        }
    }
    vela_lookup_destroy(back);
    vela_lookup_destroy(cube);
}

TEST_F(DitherTest, CustomMasksAndOneBitOutput)
{
    // A 2 x 1 one-band mask: thresholds 0.25 and 0.75 along x.
    const float t[2] = {0.25f, 0.75f};
    VelaDitherMask *mask = vela_dithermask_create(state, 2, 1, 1, t);
    ASSERT_NE(mask, nullptr);
    const int down[1] = {-1};
    const unsigned two[1] = {2};
    VelaLookup *cube = vela_colorcube_create(state, VELA_BIT, VELA_BYTE, 1, 0, down, two);
    // Value v: level floor(v / 255 + t); index 1 - level (white is 0).
    const int values[5] = {0, 63, 64, 191, 192};
    for (int v : values) {
        VelaImage *src = flat(13, 2, 1, VELA_BYTE, &v);
        VelaImage *dst = make(13, 2, 1, VELA_BIT);
        ASSERT_EQ(vela_ordered_dither(src, dst, cube, mask), 1);
        for (int x = 0; x < 13; ++x) {
            const int level = static_cast<int>(std::floor(v / 255.0 + t[x % 2]));
            EXPECT_EQ(pixel(dst, x, 1), 1 - level) << v << " at " << x;
        }
    }
    // A 1-bit destination that starts inside a byte keeps its neighbours.
    int black = 0;
    VelaImage *src = flat(20, 1, 1, VELA_BYTE, &black);
    VelaImage *big = make(24, 1, 1, VELA_BIT);
    VelaImage *part = child(big, 3, 0, 17, 1, 0, 1);
    ASSERT_EQ(vela_ordered_dither(src, part, cube, mask), 1);
    for (int x = 0; x < 24; ++x)
        EXPECT_EQ(pixel(big, x, 0), x >= 3 && x < 20) << x;
    vela_dithermask_destroy(mask);
    vela_lookup_destroy(cube);

    // Thresholds must lie in [0, 1); the standard mask cannot be destroyed.
    const float bad[2] = {0.5f, 1.0f};
    EXPECT_EQ(vela_dithermask_create(state, 2, 1, 1, bad), nullptr);
    EXPECT_EQ(vela_dithermask_create(state, 0, 1, 1, t), nullptr);
    vela_dithermask_destroy(vela_dithermask_get_by_name(state, "dm443"));
    EXPECT_EQ(take_errors().size(), 3u);
    EXPECT_NE(vela_dithermask_get_by_name(state, "dm443"), nullptr);
}

TEST_F(DitherTest, OrderedDitherRespectsRoiAndRefusesMismatches)
{
    VelaLookup *cc = vela_lookup_get_by_name(state, "cc496");
    VelaDitherMask *dm = vela_dithermask_get_by_name(state, "dm443");
    VelaImage *src = make(12, 9, 3, VELA_BYTE);
    std::mt19937 rng(1);
    velatest::fill_random(src, rng);
    VelaImage *whole = make(12, 9, 1, VELA_BYTE);
    ASSERT_EQ(vela_ordered_dither(src, whole, cc, dm), 1);
    VelaImage *dst = make(12, 9, 1, VELA_BYTE);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 3, 2, 6, 4);
    vela_set_roi(dst, roi);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_ordered_dither(src, dst, cc, dm), 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool in = x >= 3 && x < 9 && y >= 2 && y < 6;
            EXPECT_EQ(pixel(dst, x, y), in ? pixel(whole, x, y) : 0);
        }

    VelaImage *one = make(12, 9, 1, VELA_BYTE);
    VelaImage *bits = make(12, 9, 1, VELA_BIT);
    EXPECT_EQ(vela_ordered_dither(one, dst, cc, dm), 0);  // cube has 3 bands
    EXPECT_EQ(vela_ordered_dither(src, bits, cc, dm), 0); // cube indices are bytes
    VelaLookup *plain = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 8, 0, nullptr);
    EXPECT_EQ(vela_ordered_dither(src, dst, plain, dm), 0); // not a cube
    EXPECT_EQ(take_errors().size(), 3u);
    vela_lookup_destroy(plain);
}

class DiffusionTest : public DitherTest {
  protected:
    void SetUp() override
    {
        DitherTest::SetUp();
        const int down[1] = {-1};
        const unsigned two[1] = {2};
        cube = vela_colorcube_create(state, VELA_BIT, VELA_BYTE, 1, 0, down, two);
        fs = vela_kernel_get_by_name(state, "floyd-steinberg");
        ASSERT_NE(cube, nullptr);
        ASSERT_NE(fs, nullptr);
    }
    void TearDown() override
    {
        vela_lookup_destroy(cube);
        DitherTest::TearDown();
    }
    // Returns the number of 1 (black) pixels of the diffused flat grey v.
    int blacks(int v, int w, int h)
    {
        VelaImage *src = flat(w, h, 1, VELA_BYTE, &v);
        VelaImage *dst = make(w, h, 1, VELA_BIT);
        EXPECT_EQ(vela_error_diffusion(src, dst, cube, fs), 1);
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n += pixel(dst, x, y);
        return n;
    }
    VelaLookup *cube = nullptr;
    VelaKernel *fs = nullptr;
};

TEST_F(DiffusionTest, GreyLevelsBecomeTheirShareOfBlack)
{
    EXPECT_EQ(vela_kernel_get_by_name(state, "floyd-steinberg"), fs);
    EXPECT_EQ(vela_kernel_get_by_name(state, "stucki"), nullptr);
    EXPECT_EQ(blacks(255, 37, 23), 0);
    EXPECT_EQ(blacks(0, 37, 23), 37 * 23);
    // 50 % grey: about half black, spread evenly (every 4 x 4 block mixed).
    const int w = 64, h = 64;
    int half = blacks(128, w, h);
    EXPECT_NEAR(half, w * h * 127.0 / 255, w * h * 0.01);
    for (int v : {32, 200}) {
        const double want = w * h * (255.0 - v) / 255;
        EXPECT_NEAR(blacks(v, w, h), want, w * h * 0.01) << v;
    }
}

TEST_F(DiffusionTest, GradientKeepsLocalMeanAndIsDeterministic)
{
    const int w = 300, h = 40;
    VelaImage *src = make(w, h, 1, VELA_BYTE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            set_pixel(src, x, y, 0, x * 255 / (w - 1));
    VelaImage *a = make(w, h, 1, VELA_BIT), *b = make(w, h, 1, VELA_BIT);
    ASSERT_EQ(vela_error_diffusion(src, a, cube, fs), 1);
    ASSERT_EQ(vela_error_diffusion(src, b, cube, fs), 1);
    EXPECT_EQ(velatest::samples(a), velatest::samples(b));
    // Over 20-column strips the share of white follows the grey level.
    for (int x0 = 0; x0 < w; x0 += 20) {
        double white = 0, grey = 0;
        for (int y = 0; y < h; ++y)
            for (int x = x0; x < x0 + 20; ++x) {
                white += 1 - pixel(a, x, y);
                grey += pixel(src, x, y) / 255.0;
            }
        EXPECT_NEAR(white, grey, 20 * h * 0.06) << x0;
    }
}

TEST_F(DiffusionTest, OneBitOutputEqualsByteIndicesOfTheSameCube)
{
    // Byte indices and 1-bit output are made by different code; both must
    // give the same pixels, on sizes around the 16-row and 8-pixel blocks.
    const int down[1] = {-1};
    const unsigned two[1] = {2};
    VelaLookup *bytes = vela_colorcube_create(state, VELA_BYTE, VELA_BYTE, 1, 0, down, two);
    ASSERT_NE(bytes, nullptr);
    std::mt19937 rng(21);
    const int sizes[][2] = {{1, 1}, {1, 40}, {40, 1}, {7, 15}, {17, 16}, {31, 33}, {64, 17}, {203, 50}};
    for (const auto &sz : sizes) {
        const int w = sz[0], h = sz[1];
        VelaImage *src = make(w, h, 1, VELA_BYTE);
        // Noise over a gradient, with saturated patches.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                int v = x * 255 / (w > 1 ? w - 1 : 1) + static_cast<int>(rng() % 61) - 30;
                if ((x / 5 + y / 3) % 7 == 0)
                    v = (x + y) % 2 ? 0 : 255;
                set_pixel(src, x, y, 0, v < 0 ? 0 : v > 255 ? 255 : v);
            }
        VelaImage *a = make(w, h, 1, VELA_BIT), *b = make(w, h, 1, VELA_BYTE);
        ASSERT_EQ(vela_error_diffusion(src, a, cube, fs), 1);
        ASSERT_EQ(vela_error_diffusion(src, b, bytes, fs), 1);
        ASSERT_EQ(velatest::samples(a), velatest::samples(b)) << w << " x " << h;
        // A 1-bit child starting inside a byte, and a source child with a
        // 3-byte pixel stride, give the same pixels too.
        VelaImage *wide = make(w + 5, h, 1, VELA_BIT);
        VelaImage *part = child(wide, 3, 0, w, h, 0, 1);
        VelaImage *rgb = make(w, h, 3, VELA_BYTE);
        VelaImage *green = child(rgb, 0, 0, w, h, 1, 1);
        ASSERT_EQ(vela_copy(src, green), 1);
        ASSERT_EQ(vela_error_diffusion(green, part, cube, fs), 1);
        ASSERT_EQ(velatest::samples(part), velatest::samples(b)) << w << " x " << h;
    }
    vela_lookup_destroy(bytes);
}

TEST_F(DiffusionTest, ColourCubeAndRoi)
{
    // Flat colours onto cc496 keep their mean through the cube's colours.
    VelaLookup *cc = vela_lookup_get_by_name(state, "cc496");
    const int c[3] = {100, 150, 77};
    VelaImage *src = flat(40, 40, 3, VELA_BYTE, c);
    VelaImage *idx = make(40, 40, 1, VELA_BYTE);
    VelaImage *rgb = make(40, 40, 3, VELA_BYTE);
    ASSERT_EQ(vela_error_diffusion(src, idx, cc, fs), 1);
    ASSERT_EQ(vela_lookup(idx, rgb, cc), 1);
    for (int b = 0; b < 3; ++b) {
        double sum = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                sum += pixel(rgb, x, y, b);
        EXPECT_NEAR(sum / 1600, c[b], 1.0) << b;
    }
    // A cube colour diffuses to itself everywhere.
    const int on[3] = {85, 159, 204};
    VelaImage *exact = flat(9, 9, 3, VELA_BYTE, on);
    ASSERT_EQ(vela_error_diffusion(exact, idx, cc, fs), 1);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(pixel(idx, x, y), 40 + 1 + 4 * 5 + 36 * 4);

    // Only the region of interest is written.
    int grey = 128;
    VelaImage *g = flat(30, 10, 1, VELA_BYTE, &grey);
    VelaImage *bits = make(30, 10, 1, VELA_BIT);
    const float one = 1;
    vela_set_value(bits, &one);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 5, 0, 10, 10);
    vela_set_roi(bits, roi);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_error_diffusion(g, bits, cube, fs), 1);
    int zeros_inside = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 30; ++x) {
            if (x < 5 || x >= 15)
                EXPECT_EQ(pixel(bits, x, y), 1);
            else
                zeros_inside += !pixel(bits, x, y);
        }
    EXPECT_NEAR(zeros_inside, 50, 5);

    EXPECT_EQ(vela_error_diffusion(src, bits, cube, fs), 0); // 3 bands, 1-band cube
    EXPECT_EQ(vela_error_diffusion(g, bits, cube, nullptr), 0);
    EXPECT_EQ(take_errors().size(), 2u);
}

} // namespace
