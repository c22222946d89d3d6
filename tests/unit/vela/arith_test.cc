/*
 * arith_test.cc - casts between bits and bytes, constant arithmetic and
 * rescaling: rounding to nearest, clamping to the type's range, in-place
 * use, band views and regions of interest.
 */
#include "vela_test.h"

namespace {

using namespace velatest;

class Arith : public VelaTest {
  protected:
    // Returns a w x 1 image of the given bytes.
    VelaImage *row_of(std::vector<int> values, int bands = 1)
    {
        const int w = static_cast<int>(values.size()) / bands;
        VelaImage *img = make(w, 1, bands, VELA_BYTE);
        for (int x = 0; x < w; ++x)
            for (int b = 0; b < bands; ++b)
                set_pixel(img, x, 0, b, values[x * bands + b]);
        return img;
    }
};

TEST_F(Arith, CastBetweenBitsAndBytes)
{
    VelaImage *bytes = row_of({0, 1, 2, 255, 0, 128, 0, 0, 9});
    VelaImage *bits = make(9, 1, 1, VELA_BIT);
    ASSERT_EQ(vela_cast(bytes, bits), 1);
    EXPECT_EQ(samples(bits), (std::vector<int>{0, 1, 1, 1, 0, 1, 0, 0, 1}));
    VelaImage *back = make(9, 1, 1, VELA_BYTE);
    const float fill[1] = {77};
    vela_set_value(back, fill);
    ASSERT_EQ(vela_cast(bits, back), 1);
    EXPECT_EQ(samples(back), (std::vector<int>{0, 1, 1, 1, 0, 1, 0, 0, 1}));

    // Same-type casts copy; band counts must agree.
    VelaImage *same = make(9, 1, 1, VELA_BYTE);
    ASSERT_EQ(vela_cast(bytes, same), 1);
    EXPECT_EQ(samples(same), samples(bytes));
    EXPECT_EQ(vela_cast(bytes, make(9, 1, 3, VELA_BYTE)), 0);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].category, VELA_ERROR_USER);
}

TEST_F(Arith, ConstantsRoundToNearestAndClamp)
{
    VelaImage *src = row_of({10, 10, 250, 5, 100, 3});
    VelaImage *dst = make(6, 1, 1, VELA_BYTE);
    const float half[1] = {0.5f}, under_half[1] = {0.49f}, ten[1] = {10}, big[1] = {300};
    ASSERT_EQ(vela_add_const(src, half, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{11, 11, 251, 6, 101, 4}));
    ASSERT_EQ(vela_add_const(src, under_half, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{10, 10, 250, 5, 100, 3}));
    ASSERT_EQ(vela_add_const(src, ten, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{20, 20, 255, 15, 110, 13}));
    ASSERT_EQ(vela_subtract_const(src, ten, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{0, 0, 240, 0, 90, 0}));
    ASSERT_EQ(vela_subtract_const(src, big, dst), 1);
    EXPECT_EQ(samples(dst), std::vector<int>(6, 0));
    const float third[1] = {1.0f / 3}, neg[1] = {-2};
    ASSERT_EQ(vela_multiply_const(src, third, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{3, 3, 83, 2, 33, 1}));
    ASSERT_EQ(vela_multiply_const(src, neg, dst), 1);
    EXPECT_EQ(samples(dst), std::vector<int>(6, 0));
    EXPECT_TRUE(take_errors().empty());
}

// A PNM decoder stretches 0..maxval to 0..255 in place, band by band.
TEST_F(Arith, InPlacePerBandScaling)
{
    VelaImage *img = row_of({0, 7, 15, 15, 15, 15, 8, 1, 0}, 3);
    const float per_band[3] = {17, 255.0f / 15, 1};
    ASSERT_EQ(vela_multiply_const(img, per_band, img), 1);
    EXPECT_EQ(samples(img), (std::vector<int>{0, 119, 15, 255, 255, 15, 136, 17, 0}));
}

TEST_F(Arith, RescaleMovesColourIndicesUp)
{
    VelaImage *src = row_of({0, 1, 100, 215, 250});
    VelaImage *dst = make(5, 1, 1, VELA_BYTE);
    const float one[1] = {1}, offset[1] = {40};
    ASSERT_EQ(vela_rescale(src, dst, one, offset), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{40, 41, 140, 255, 255}));
    const float s[1] = {0.5f}, o[1] = {-0.25f};
    ASSERT_EQ(vela_rescale(src, dst, s, o), 1); // 0.5 v - 0.25
    EXPECT_EQ(samples(dst), (std::vector<int>{0, 0, 50, 107, 125}));
    EXPECT_EQ(vela_rescale(src, dst, s, nullptr), 0);
    EXPECT_EQ(take_errors().size(), 1u);
}

TEST_F(Arith, BitsClampToZeroAndOne)
{
    VelaImage *bits = make(4, 1, 1, VELA_BIT);
    set_pixel(bits, 1, 0, 0, 1);
    set_pixel(bits, 3, 0, 0, 1);
    VelaImage *out = make(4, 1, 1, VELA_BIT);
    const float two[1] = {2}, half[1] = {0.5f}, minus[1] = {-1};
    ASSERT_EQ(vela_add_const(bits, two, out), 1);
    EXPECT_EQ(samples(out), std::vector<int>(4, 1));
    ASSERT_EQ(vela_multiply_const(bits, half, out), 1); // 0.5 rounds up
    EXPECT_EQ(samples(out), (std::vector<int>{0, 1, 0, 1}));
    ASSERT_EQ(vela_rescale(bits, out, minus, two), 1); // 2 - v: 2 -> 1, 1 -> 1
    EXPECT_EQ(samples(out), std::vector<int>(4, 1));
    EXPECT_EQ(vela_add_const(bits, two, make(4, 1, 1, VELA_BYTE)), 0);
    EXPECT_EQ(take_errors().size(), 1u);
}

// Overlapping rectangles of a region must not apply an in-place operation
// twice; a band view changes only its band.
TEST_F(Arith, InPlaceOperationsFollowRegionsAndBandViews)
{
    VelaImage *img = make(6, 3, 1, VELA_BYTE);
    const float base[1] = {10};
    vela_set_value(img, base);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 0, 0, 4, 2);
    vela_roi_add_rect(roi, 2, 1, 4, 2);
    vela_set_roi(img, roi);
    vela_roi_destroy(roi);
    const float five[1] = {5};
    ASSERT_EQ(vela_add_const(img, five, img), 1);
    EXPECT_EQ(samples(img), (std::vector<int>{15, 15, 15, 15, 10, 10, //
                                              15, 15, 15, 15, 15, 15, //
                                              10, 10, 15, 15, 15, 15}));

    VelaImage *colour = row_of({1, 2, 3, 4, 5, 6}, 3);
    VelaImage *green = child(colour, 0, 0, 2, 1, 1, 1);
    const float hundred[1] = {100};
    ASSERT_EQ(vela_add_const(green, hundred, green), 1);
    EXPECT_EQ(samples(colour), (std::vector<int>{1, 102, 3, 4, 105, 6}));

    // Green into red of the same image: read before it is overwritten.
    VelaImage *red = child(colour, 0, 0, 2, 1, 2, 1);
    ASSERT_EQ(vela_add_const(green, five, red), 1);
    EXPECT_EQ(samples(colour), (std::vector<int>{1, 102, 107, 4, 105, 110}));
    EXPECT_TRUE(take_errors().empty());
}

} // namespace
