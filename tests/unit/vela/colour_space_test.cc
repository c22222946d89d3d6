/*
 * colour_space_test.cc - colour spaces: lookup by name, tagging images,
 * known values of every conversion the viewer makes (rgblinear to ylinear
 * for grey, ycc601 to and from rgb709 for JPEG, photoycc to rgb709 for
 * Photo CD), round trips, conversions through linear light, 1-band
 * images, and refused combinations.
 */
#include <cmath>
#include <vector>

#include "vela_test.h"

namespace {

using velatest::pixel;
using velatest::set_pixel;

class SpaceTest : public velatest::VelaTest {
  protected:
    VelaColorSpace *space(const char *name)
    {
        VelaColorSpace *s = vela_colorspace_get_by_name(state, name);
        EXPECT_NE(s, nullptr) << name;
        return s;
    }
    // Converts one pixel of nb_in bands in space `from` to nb_out bands in
    // `to`; returns the result.
    std::vector<int> convert(const char *from, std::vector<int> in, const char *to, int nb_out)
    {
        const int nb_in = static_cast<int>(in.size());
        VelaImage *s = make(1, 1, nb_in, VELA_BYTE), *d = make(1, 1, nb_out, VELA_BYTE);
        for (int b = 0; b < nb_in; ++b)
            set_pixel(s, 0, 0, b, in[b]);
        EXPECT_EQ(vela_set_colorspace(s, space(from)), 1);
        EXPECT_EQ(vela_set_colorspace(d, space(to)), 1);
        EXPECT_EQ(vela_color_convert(s, d), 1);
        std::vector<int> out;
        for (int b = 0; b < nb_out; ++b)
            out.push_back(pixel(d, 0, 0, b));
        return out;
    }
};

TEST_F(SpaceTest, NamesAndTags)
{
    for (const char *n : {"rgblinear", "ylinear", "rgb709", "ycc601", "photoycc"})
        EXPECT_EQ(vela_colorspace_get_by_name(state, n), space(n));
    EXPECT_EQ(vela_colorspace_get_by_name(state, "cmyk"), nullptr);
    VelaImage *img = make(2, 2, 3, VELA_BYTE);
    ASSERT_EQ(vela_set_colorspace(img, space("ycc601")), 1);
    EXPECT_EQ(vela_get_colorspace(img), space("ycc601"));
    ASSERT_EQ(vela_set_colorspace(img, space("rgb709")), 1);
    EXPECT_EQ(vela_get_colorspace(img), space("rgb709"));
    ASSERT_EQ(vela_set_colorspace(img, nullptr), 1);
    EXPECT_EQ(vela_get_colorspace(img), nullptr);
    // A 3-band image cannot hold one-band colours, nor a 1-bit image any.
    EXPECT_EQ(vela_set_colorspace(img, space("ylinear")), 0);
    VelaImage *bits = make(2, 2, 1, VELA_BIT);
    EXPECT_EQ(vela_set_colorspace(bits, space("ylinear")), 0);
    EXPECT_EQ(take_errors().size(), 2u);
}

TEST_F(SpaceTest, NewImagesAreUntaggedWhereverTheyLand)
{
    // Freed records are reused: a new image must not inherit the tag of a
    // destroyed one at the same address.
    for (int i = 0; i < 50; ++i) {
        VelaImage *img = vela_create(state, 3, 3, 3, VELA_BYTE);
        ASSERT_NE(img, nullptr);
        ASSERT_EQ(vela_get_colorspace(img), nullptr) << "round " << i;
        ASSERT_EQ(vela_set_colorspace(img, space("photoycc")), 1);
        vela_destroy(img);
    }
}

TEST_F(SpaceTest, GreyIsTheRoundedLumaOfEveryColourSample)
{
    // 64 x 64 x 64 colours spread over the cube, plus the extremes.
    VelaImage *src = make(4096, 64, 3, VELA_BYTE), *dst = make(4096, 64, 1, VELA_BYTE);
    auto value = [](int i) { return i * 4 + (i & 3); };
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 4096; ++x) {
            set_pixel(src, x, y, 0, value(y));
            set_pixel(src, x, y, 1, value(x / 64));
            set_pixel(src, x, y, 2, value(x % 64));
        }
    vela_set_colorspace(src, space("rgblinear"));
    vela_set_colorspace(dst, space("ylinear"));
    ASSERT_EQ(vela_color_convert(src, dst), 1);
    int wrong = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 4096; ++x) {
            const int b = value(y), g = value(x / 64), r = value(x % 64);
            // Exact rational arithmetic: halves round up.
            const int want = (299 * r + 587 * g + 114 * b + 500) / 1000;
            wrong += pixel(dst, x, y) != want;
        }
    EXPECT_EQ(wrong, 0);
    // Bands are blue, green, red.
    EXPECT_EQ(convert("rgblinear", {0, 0, 255}, "ylinear", 1), std::vector<int>{76});
    EXPECT_EQ(convert("rgblinear", {255, 0, 0}, "ylinear", 1), std::vector<int>{29});
    EXPECT_EQ(convert("ylinear", {77}, "rgblinear", 3), (std::vector<int>{77, 77, 77}));
}

TEST_F(SpaceTest, Ycc601IsVideoRangeRec601)
{
    EXPECT_EQ(convert("rgb709", {255, 255, 255}, "ycc601", 3), (std::vector<int>{235, 128, 128}));
    EXPECT_EQ(convert("rgb709", {0, 0, 0}, "ycc601", 3), (std::vector<int>{16, 128, 128}));
    // Pure red (band 2): Y = 16 + 219 * 0.299, Cr = 128 + 112.
    EXPECT_EQ(convert("rgb709", {0, 0, 255}, "ycc601", 3), (std::vector<int>{81, 90, 240}));
    // Pure blue: Cb at the top of its range.
    EXPECT_EQ(convert("rgb709", {255, 0, 0}, "ycc601", 3), (std::vector<int>{41, 240, 110}));
    EXPECT_EQ(convert("ycc601", {235, 128, 128}, "rgb709", 3), (std::vector<int>{255, 255, 255}));
    // Y was rounded on the way in: red comes back as 65 * 255 / 219 +
    // 1.402 * 127.5 = 254.4.
    EXPECT_EQ(convert("ycc601", {81, 90, 240}, "rgb709", 3), (std::vector<int>{0, 0, 254}));
    // Out-of-gamut values clamp: G = 278.3 - 0.344 * 144.6 - 0.714 * 144.6.
    EXPECT_EQ(convert("ycc601", {255, 255, 255}, "rgb709", 3), (std::vector<int>{255, 125, 255}));
    EXPECT_EQ(convert("ycc601", {0, 0, 0}, "rgb709", 3), (std::vector<int>{0, 136, 0}));
}

TEST_F(SpaceTest, JpegRoundTripThroughTheViewersRangeConstants)
{
    // Save: rgb709 -> ycc601, then video range to full range; load: the
    // reverse.  Colours come back within 2 (rounding in 4 steps).
    std::mt19937 rng(8);
    const int w = 64, h = 64;
    VelaImage *rgb = make(w, h, 3, VELA_BYTE), *ycc = make(w, h, 3, VELA_BYTE);
    VelaImage *back = make(w, h, 3, VELA_BYTE);
    velatest::fill_random(rgb, rng);
    vela_set_colorspace(rgb, space("rgb709"));
    vela_set_colorspace(ycc, space("ycc601"));
    vela_set_colorspace(back, space("rgb709"));
    ASSERT_EQ(vela_color_convert(rgb, ycc), 1);
    const float save_scale[3] = {1.1643835f, 1.1383928f, 1.1383928f};
    const float save_offset[3] = {-18.630136f, -18.214285f, -18.214285f};
    ASSERT_EQ(vela_rescale(ycc, ycc, save_scale, save_offset), 1);
    // Full-range Y of white is 255, as JPEG wants.
    const float load_scale[3] = {0.8588235f, 0.8784314f, 0.8784314f};
    const float load_offset[3] = {16, 16, 16};
    ASSERT_EQ(vela_rescale(ycc, ycc, load_scale, load_offset), 1);
    ASSERT_EQ(vela_color_convert(ycc, back), 1);
    int worst = 0, clipped = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int b = 0; b < 3; ++b) {
                const int d = std::abs(pixel(back, x, y, b) - pixel(rgb, x, y, b));
                // Saturated colours can leave the YCbCr cube and clip.
                if (d > 4)
                    ++clipped;
                else
                    worst = std::max(worst, d);
            }
    EXPECT_LE(worst, 4);
    EXPECT_LT(clipped, w * h * 3 / 100);
}

TEST_F(SpaceTest, PhotoYccDecodesAsPhotoCd)
{
    // Kodak's extended range (Y 255 is 1.3584 times 255 in Kodak's
    // decoding) maps linearly onto 0..255: neutrals keep their Y.
    EXPECT_EQ(convert("photoycc", {255, 156, 137}, "rgb709", 3), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(convert("photoycc", {0, 156, 137}, "rgb709", 3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(convert("photoycc", {100, 156, 137}, "rgb709", 3), (std::vector<int>{100, 100, 100}));
    // A colour by Kodak's decoding formulas over 1.3584 (bands blue, green, red).
    const double k = 1.3584, l = 90, c1 = 2.2179 / k * (170 - 156), c2 = 1.8215 / k * (120 - 137);
    const std::vector<int> want = {static_cast<int>(std::floor(l + c1 + 0.5)),
                                   static_cast<int>(std::floor(l - 0.194 * c1 - 0.509 * c2 + 0.5)),
                                   static_cast<int>(std::floor(l + c2 + 0.5))};
    EXPECT_EQ(convert("photoycc", {90, 170, 120}, "rgb709", 3), want);
    // Encoding inverts the decoding.
    std::vector<int> ycc = convert("rgb709", {40, 120, 200}, "photoycc", 3);
    std::vector<int> rgb = convert("photoycc", ycc, "rgb709", 3);
    for (int b = 0; b < 3; ++b)
        EXPECT_NEAR(rgb[b], (std::vector<int>{40, 120, 200})[b], 3);
}

TEST_F(SpaceTest, LinearAndEncodedRgbDifferByTheRec709Transfer)
{
    // Linear 0.5 encodes as 1.099 * 0.5^0.45 - 0.099 = 0.7055.
    EXPECT_EQ(convert("rgblinear", {128, 128, 128}, "rgb709", 3), (std::vector<int>{180, 180, 180}));
    EXPECT_EQ(convert("rgb709", {180, 180, 180}, "rgblinear", 3), (std::vector<int>{128, 128, 128}));
    // The linear segment near black: 4.5 x.
    EXPECT_EQ(convert("rgblinear", {2, 2, 4}, "rgb709", 3), (std::vector<int>{9, 9, 18}));
    // ycc601 is built on encoded values: its grey 110 / 219 decodes to
    // linear 0.2618.
    EXPECT_EQ(convert("ycc601", {126, 128, 128}, "rgblinear", 3), (std::vector<int>{67, 67, 67}));
    EXPECT_EQ(convert("ylinear", {128}, "rgb709", 3), (std::vector<int>{180, 180, 180}));
    // Every byte survives linear -> 709 -> linear within the steps the
    // transfer's slope allows.
    VelaImage *a = make(256, 1, 3, VELA_BYTE), *e = make(256, 1, 3, VELA_BYTE);
    VelaImage *back = make(256, 1, 3, VELA_BYTE);
    for (int x = 0; x < 256; ++x)
        for (int b = 0; b < 3; ++b)
            set_pixel(e, x, 0, b, x);
    vela_set_colorspace(e, space("rgb709"));
    vela_set_colorspace(a, space("rgblinear"));
    vela_set_colorspace(back, space("rgb709"));
    ASSERT_EQ(vela_color_convert(e, a), 1);
    ASSERT_EQ(vela_color_convert(a, back), 1);
    for (int x = 0; x < 256; ++x) {
        const double lin = x / 255.0 < 0.081 ? x / 255.0 / 4.5
                                             : std::pow((x / 255.0 + 0.099) / 1.099, 1 / 0.45);
        EXPECT_EQ(pixel(a, x, 0, 1), static_cast<int>(std::floor(lin * 255 + 0.5))) << x;
        EXPECT_NEAR(pixel(back, x, 0, 1), x, x < 40 ? 4 : 1) << x;
    }
}

TEST_F(SpaceTest, OneBandImagesAndDefaults)
{
    // A grey JPEG save: a 1-band image tagged rgb709 into a 1-band ycc601
    // image keeps its values.
    VelaImage *g = make(16, 1, 1, VELA_BYTE), *y = make(16, 1, 1, VELA_BYTE);
    for (int x = 0; x < 16; ++x)
        set_pixel(g, x, 0, 0, x * 17);
    ASSERT_EQ(vela_set_colorspace(g, space("rgb709")), 1);
    ASSERT_EQ(vela_set_colorspace(y, space("ycc601")), 1);
    ASSERT_EQ(vela_color_convert(g, y), 1);
    EXPECT_EQ(velatest::samples(y), velatest::samples(g));
    // Untagged images read as rgblinear (3 bands) and ylinear (1 band).
    VelaImage *c = make(1, 1, 3, VELA_BYTE), *grey = make(1, 1, 1, VELA_BYTE);
    set_pixel(c, 0, 0, 2, 255);
    ASSERT_EQ(vela_color_convert(c, grey), 1);
    EXPECT_EQ(pixel(grey, 0, 0), 76);
    // Only the region of interest is written; shared memory is read first.
    VelaImage *img = make(6, 1, 3, VELA_BYTE);
    for (int x = 0; x < 6; ++x)
        for (int b = 0; b < 3; ++b)
            set_pixel(img, x, 0, b, 200);
    VelaImage *left = child(img, 0, 0, 6, 1, 0, 3);
    vela_set_colorspace(img, space("rgb709"));
    vela_set_colorspace(left, space("ycc601"));
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 0, 0, 3, 1);
    vela_set_roi(left, roi);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_color_convert(img, left), 1);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(pixel(img, x, 0, 0), x < 3 ? 188 : 200) << x; // 16 + 219 * 200 / 255
}

} // namespace
