/*
 * jpeg_test.cc - the "Jpeg" compressed image sequence: frames queue and
 * leave in order, buffers go back to their owners exactly once, images
 * round-trip through compression, an "rgb709" destination receives the
 * display's colours, and damaged frames fail without harm.
 */
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vela_test.h"

namespace {

using velatest::pixel;
using velatest::set_pixel;

// Buffers handed back by the library, in order.
std::vector<void *> &released()
{
    static std::vector<void *> list;
    return list;
}

void note_release(void *bits)
{
    released().push_back(bits);
}

class Jpeg : public velatest::VelaTest {
  protected:
    void SetUp() override
    {
        VelaTest::SetUp();
        released().clear();
    }
    // Returns a smooth w x h picture of full-range Y, Cb, Cr.
    VelaImage *ycc_picture(int w, int h)
    {
        VelaImage *img = make(w, h, 3, VELA_BYTE);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                set_pixel(img, x, y, 0, 20 + 200 * x / w);
                set_pixel(img, x, y, 1, 100 + 50 * y / h);
                set_pixel(img, x, y, 2, 160 - 40 * x / w);
            }
        return img;
    }
    // Returns the compressed bytes of img (one frame).
    std::vector<unsigned char> compress(VelaImage *img)
    {
        VelaCis *cis = vela_cis_create(state, "Jpeg");
        EXPECT_NE(cis, nullptr);
        EXPECT_EQ(vela_compress(img, cis), 1);
        EXPECT_GT(vela_cis_has_data(cis), 0);
        int n = 0, frames = 0;
        auto *p = static_cast<unsigned char *>(vela_cis_get_bits_ptr(cis, &n, &frames));
        EXPECT_EQ(frames, 1);
        std::vector<unsigned char> out(p, p + n);
        EXPECT_EQ(vela_cis_has_data(cis), 0);
        EXPECT_EQ(vela_cis_get_bits_ptr(cis, &n, &frames), nullptr);
        vela_cis_destroy(cis);
        return out;
    }
};

} // namespace

TEST_F(Jpeg, FramesRoundTripInOrder)
{
    VelaImage *a = ycc_picture(40, 24);
    VelaImage *grey = make(17, 9, 1, VELA_BYTE);
    for (int x = 0; x < 17; ++x)
        for (int y = 0; y < 9; ++y)
            set_pixel(grey, x, y, 0, x * 15);
    std::vector<unsigned char> first = compress(a), second = compress(grey);
    // Our streams start with SOI and carry no JFIF or Adobe segment.
    ASSERT_GT(first.size(), 4u);
    EXPECT_EQ(first[0], 0xff);
    EXPECT_EQ(first[1], 0xd8);
    EXPECT_EQ(first[2], 0xff);
    EXPECT_NE(first[3], 0xe0);
    EXPECT_NE(first[3], 0xee);

    // Two frames in one buffer, decoded one after the other.
    auto *both = static_cast<unsigned char *>(std::malloc(first.size() + second.size()));
    std::memcpy(both, first.data(), first.size());
    std::memcpy(both + first.size(), second.data(), second.size());
    VelaCis *cis = vela_cis_create(state, "Jpeg");
    ASSERT_EQ(vela_cis_put_bits_ptr(cis, static_cast<int>(first.size() + second.size()), 2, both,
                                    note_release),
              1);
    int w, h, nb, type;
    vela_imagetype_get_info(vela_cis_get_output_type(cis), &w, &h, &nb, &type);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(nb, 3);
    EXPECT_EQ(type, VELA_BYTE);
    VelaImage *back = make(40, 24, 3, VELA_BYTE);
    ASSERT_EQ(vela_decompress(cis, back), 1);
    for (int y = 0; y < 24; y += 5)
        for (int x = 0; x < 40; x += 7)
            for (int b = 0; b < 3; ++b)
                EXPECT_NEAR(pixel(back, x, y, b), pixel(a, x, y, b), 4) << x << "," << y;
    EXPECT_TRUE(released().empty());
    EXPECT_EQ(vela_cis_has_data(cis), static_cast<int>(second.size()));

    vela_imagetype_get_info(vela_cis_get_output_type(cis), &w, &h, &nb, &type);
    EXPECT_EQ(w, 17);
    EXPECT_EQ(nb, 1);
    VelaImage *grey_back = make(17, 9, 1, VELA_BYTE);
    ASSERT_EQ(vela_decompress(cis, grey_back), 1);
    EXPECT_NEAR(pixel(grey_back, 16, 4), 240, 3);
    ASSERT_EQ(released().size(), 1u);
    EXPECT_EQ(released()[0], both);
    EXPECT_EQ(vela_cis_has_data(cis), 0);
    EXPECT_EQ(vela_cis_get_output_type(cis), nullptr);
    vela_cis_destroy(cis);
    std::free(both);
}

TEST_F(Jpeg, Rgb709DestinationsGetDisplayColours)
{
    // A full-range colour with known JFIF values: R 200, G 100, B 50.
    VelaImage *img = make(16, 16, 3, VELA_BYTE);
    const float ycc[3] = {static_cast<float>(0.299 * 200 + 0.587 * 100 + 0.114 * 50),
                          static_cast<float>(128 - 0.168736 * 200 - 0.331264 * 100 + 0.5 * 50),
                          static_cast<float>(128 + 0.5 * 200 - 0.418688 * 100 - 0.081312 * 50)};
    ASSERT_EQ(vela_set_value(img, ycc), 1);
    std::vector<unsigned char> bytes = compress(img);
    VelaCis *cis = vela_cis_create(state, "Jpeg");
    ASSERT_EQ(vela_cis_put_bits_ptr(cis, static_cast<int>(bytes.size()), 1, bytes.data(), nullptr), 1);
    VelaImage *bgr = make(16, 16, 3, VELA_BYTE);
    ASSERT_EQ(vela_set_colorspace(bgr, vela_colorspace_get_by_name(state, "rgb709")), 1);
    ASSERT_EQ(vela_decompress(cis, bgr), 1);
    EXPECT_NEAR(pixel(bgr, 8, 8, 0), 50, 2);
    EXPECT_NEAR(pixel(bgr, 8, 8, 1), 100, 2);
    EXPECT_NEAR(pixel(bgr, 8, 8, 2), 200, 2);
    vela_cis_destroy(cis);
}

TEST_F(Jpeg, BuffersGoBackOnceWhateverHappens)
{
    std::vector<unsigned char> good = compress(ycc_picture(8, 8));
    VelaCis *cis = vela_cis_create(state, "Jpeg");
    std::vector<void *> bufs;
    for (int i = 0; i < 3; ++i) {
        void *p = std::malloc(good.size());
        std::memcpy(p, good.data(), good.size());
        bufs.push_back(p);
        ASSERT_EQ(vela_cis_put_bits_ptr(cis, static_cast<int>(good.size()), 1, p, note_release), 1);
    }
    EXPECT_EQ(vela_cis_has_data(cis), static_cast<int>(3 * good.size()));
    // A wrong destination is refused and the frame stays queued.
    VelaImage *wrong = make(9, 8, 3, VELA_BYTE);
    EXPECT_EQ(vela_decompress(cis, wrong), 0);
    EXPECT_TRUE(released().empty());
    // Taking bytes out hands them back at the next take (or destruction).
    int n = 0, frames = 0;
    EXPECT_EQ(vela_cis_get_bits_ptr(cis, &n, &frames), bufs[0]);
    EXPECT_EQ(n, static_cast<int>(good.size()));
    EXPECT_TRUE(released().empty());
    EXPECT_EQ(vela_cis_get_bits_ptr(cis, &n, &frames), bufs[1]);
    ASSERT_EQ(released().size(), 1u);
    EXPECT_EQ(released()[0], bufs[0]);
    vela_cis_destroy(cis);
    ASSERT_EQ(released().size(), 3u);
    EXPECT_EQ(released()[1], bufs[1]);
    EXPECT_EQ(released()[2], bufs[2]);
    for (void *p : bufs)
        std::free(p);
}

TEST_F(Jpeg, DamagedFramesFailAndLeave)
{
    std::vector<unsigned char> good = compress(ycc_picture(32, 32));
    VelaImage *dst = make(32, 32, 3, VELA_BYTE);
    // Cut short: the frame fails and its buffer goes back.
    std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(good.size() - 20));
    VelaCis *cis = vela_cis_create(state, "Jpeg");
    ASSERT_EQ(vela_cis_put_bits_ptr(cis, static_cast<int>(cut.size()), 1, cut.data(), note_release), 1);
    EXPECT_NE(vela_cis_get_output_type(cis), nullptr);
    EXPECT_EQ(vela_decompress(cis, dst), 0);
    EXPECT_EQ(released().size(), 1u);
    EXPECT_EQ(vela_cis_has_data(cis), 0);
    // Not a JPEG stream at all.
    std::vector<unsigned char> junk(64, 0x55);
    ASSERT_EQ(vela_cis_put_bits_ptr(cis, 64, 1, junk.data(), note_release), 1);
    EXPECT_EQ(vela_cis_get_output_type(cis), nullptr);
    EXPECT_EQ(vela_decompress(cis, dst), 0);
    EXPECT_EQ(released().size(), 2u);
    bool reported = false;
    for (const velatest::SeenError &e : take_errors())
        reported = reported || e.category == VELA_ERROR_CIS_DATA;
    EXPECT_TRUE(reported);
    vela_cis_destroy(cis);

    EXPECT_EQ(vela_cis_create(state, "Cell"), nullptr);
    EXPECT_EQ(vela_cis_has_data(nullptr), -1);
    VelaImage *bits = make(8, 8, 1, VELA_BIT);
    cis = vela_cis_create(state, "Jpeg");
    EXPECT_EQ(vela_compress(bits, cis), 0);
    EXPECT_EQ(vela_cis_put_bits_ptr(cis, 0, 1, junk.data(), nullptr), 0);
    vela_cis_destroy(cis);
}
