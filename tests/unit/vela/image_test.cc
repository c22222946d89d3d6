/*
 * image_test.cc - the library state and its errors, image records (layout,
 * children, copies, destruction order), raw storage access, filling,
 * copying and regions of interest.
 */
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "vela_test.h"

// Lets allocation failures come back as NULL under AddressSanitizer, as
// they do without it.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using namespace velatest;

TEST_F(VelaTest, NewImagesAreZeroFilledWithPackedRows)
{
    struct {
        int w, bands, type, row, pixel;
    } const cases[] = {{5, 1, VELA_BYTE, 5, 1},
                       {5, 3, VELA_BYTE, 15, 3},
                       {13, 1, VELA_BIT, 2, 0},
                       {16, 1, VELA_BIT, 2, 0},
                       {1, 1, VELA_BIT, 1, 0}};
    for (const auto &c : cases) {
        VelaImage *img = make(c.w, 3, c.bands, c.type);
        int w, h, nb, type;
        vela_get_info(img, &w, &h, &nb, &type);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, 3);
        EXPECT_EQ(nb, c.bands);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(vela_get_width(img), c.w);
        EXPECT_EQ(vela_get_nbands(img), c.bands);
        EXPECT_EQ(vela_get_datatype(img), c.type);
        EXPECT_EQ(vela_get_state(img), state);
        VelaMemoryStorage st = storage_of(img);
        EXPECT_EQ(st.bytes_per_row, c.row);
        EXPECT_EQ(st.bytes_per_pixel, c.pixel);
        EXPECT_EQ(st.bit_offset, 0);
        for (int i = 0; i < c.row * 3; ++i)
            ASSERT_EQ(st.data[i], 0);
    }
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(VelaTest, RefusesImpossibleImagesAsUserErrors)
{
    struct {
        int w, h, bands, type;
    } const cases[] = {{0, 5, 1, VELA_BYTE},     {5, 0, 1, VELA_BYTE},
                       {-3, 5, 1, VELA_BYTE},    {262141, 1, 1, VELA_BYTE},
                       {1, 262141, 1, VELA_BIT}, {4, 4, 2, VELA_BYTE},
                       {4, 4, 3, VELA_BIT},      {4, 4, 1, 2},
                       {4, 4, 0, VELA_BYTE}};
    for (const auto &c : cases) {
        EXPECT_EQ(vela_create(state, c.w, c.h, c.bands, c.type), nullptr)
            << c.w << "x" << c.h << "x" << c.bands << " type " << c.type;
        std::vector<SeenError> errors = take_errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].category, VELA_ERROR_USER);
        EXPECT_EQ(errors[0].primary, 1);
        EXPECT_EQ(errors[0].text.rfind("vela_create: ", 0), 0u) << errors[0].text;
    }
}

// The largest allowed image needs about 200 GB: either the system refuses
// it (a resource error reaches the handler) or it hands out memory lazily.
TEST_F(VelaTest, HugeImagesFailAsResourceErrorsOrCostNothing)
{
    VelaImage *img = vela_create(state, 262140, 262140, 3, VELA_BYTE);
    std::vector<SeenError> errors = take_errors();
    if (img) {
        EXPECT_TRUE(errors.empty());
        vela_destroy(img);
        return;
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].category, VELA_ERROR_RESOURCE);
}

TEST_F(VelaTest, DefaultHandlerPrintsPrimaryErrors)
{
    // A handler that declines leaves the error to the default one.
    ASSERT_EQ(vela_install_error_handler(state, [](VelaError *) { return 0; }), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vela_create(state, 0, 1, 1, VELA_BYTE), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vela: vela_create: size 0 x 1 out of range\n");

    ASSERT_EQ(vela_install_error_handler(state, nullptr), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(vela_create_child(make(2, 2, 1, VELA_BYTE), 1, 1, 2, 2, 0, 1), nullptr);
    std::string text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text.rfind("vela: vela_create_child: ", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(VelaTest, ChildrenViewTheirParentsMemory)
{
    VelaImage *parent = make(10, 6, 3, VELA_BYTE);
    VelaImage *inner = child(parent, 2, 1, 6, 4, 0, 3);
    VelaImage *grand = child(inner, 1, 2, 3, 2, 0, 3);
    VelaImage *green = child(parent, 0, 0, 10, 6, 1, 1);

    set_pixel(parent, 4, 3, 1, 77);
    EXPECT_EQ(pixel(inner, 2, 2, 1), 77);
    EXPECT_EQ(pixel(grand, 1, 0, 1), 77);
    EXPECT_EQ(pixel(green, 4, 3), 77);
    set_pixel(grand, 2, 1, 2, 99); // parent (5, 4)
    EXPECT_EQ(pixel(parent, 5, 4, 2), 99);

    VelaMemoryStorage st = storage_of(green);
    EXPECT_EQ(st.bytes_per_pixel, 3);
    EXPECT_EQ(st.bytes_per_row, 30);
    EXPECT_EQ(st.data, storage_of(parent).data + 1);
    EXPECT_EQ(vela_get_nbands(green), 1);
}

TEST_F(VelaTest, BitChildrenStartInsideAByte)
{
    VelaImage *parent = make(20, 3, 1, VELA_BIT);
    VelaImage *a = child(parent, 3, 1, 12, 2, 0, 1);
    VelaImage *b = child(a, 6, 0, 5, 2, 0, 1); // parent x 9
    EXPECT_EQ(storage_of(a).bit_offset, 3);
    EXPECT_EQ(storage_of(b).bit_offset, 1);
    EXPECT_EQ(storage_of(b).data, storage_of(parent).data + 3 + 1);
    set_pixel(b, 0, 1, 0, 1);
    EXPECT_EQ(pixel(parent, 9, 2), 1);
    EXPECT_EQ(samples(parent), [] {
        std::vector<int> v(60, 0);
        v[2 * 20 + 9] = 1;
        return v;
    }());
    const float one[1] = {1};
    ASSERT_EQ(vela_set_value(b, one), 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pixel(parent, x, y), y >= 1 && x >= 9 && x < 14) << x << "," << y;
}

TEST_F(VelaTest, ChildrenOutsideTheParentOrItsBandsAreRefused)
{
    VelaImage *parent = make(8, 8, 3, VELA_BYTE);
    VelaImage *grey = make(8, 8, 1, VELA_BYTE);
    EXPECT_EQ(vela_create_child(parent, 4, 4, 5, 4, 0, 3), nullptr);
    EXPECT_EQ(vela_create_child(parent, -1, 0, 2, 2, 0, 3), nullptr);
    EXPECT_EQ(vela_create_child(parent, 0, 0, 0, 2, 0, 3), nullptr);
    EXPECT_EQ(vela_create_child(parent, 0, 0, 2, 2, 3, 1), nullptr);
    EXPECT_EQ(vela_create_child(parent, 0, 0, 2, 2, 1, 2), nullptr);
    EXPECT_EQ(vela_create_child(grey, 0, 0, 2, 2, 0, 3), nullptr);
    EXPECT_EQ(vela_create_copy(parent, 7, 7, 2, 1, 0, 3), nullptr);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 7u);
    for (const SeenError &e : errors)
        EXPECT_EQ(e.category, VELA_ERROR_USER) << e.text;
}

// Destroying a parent first must not free memory its child still views.
TEST_F(VelaTest, ParentMayGoBeforeItsChild)
{
    VelaImage *parent = vela_create(state, 9, 9, 1, VELA_BYTE);
    ASSERT_NE(parent, nullptr);
    set_pixel(parent, 4, 5, 0, 42);
    VelaImage *c = vela_create_child(parent, 3, 3, 4, 4, 0, 1);
    VelaImage *cc = vela_create_child(c, 1, 1, 2, 2, 0, 1);
    ASSERT_NE(cc, nullptr);
    vela_destroy(parent);
    vela_destroy(c);
    EXPECT_EQ(pixel(cc, 0, 1), 42);
    const float v[1] = {5};
    EXPECT_EQ(vela_set_value(cc, v), 1);
    EXPECT_EQ(pixel(cc, 1, 1), 5);
    vela_destroy(cc);
}

TEST_F(VelaTest, CreateCopyTakesAnAreaAndBandsIntoItsOwnMemory)
{
    VelaImage *src = make(7, 5, 3, VELA_BYTE);
    std::mt19937 rng(3);
    fill_random(src, rng);
    VelaImage *red = vela_create_copy(src, 2, 1, 4, 3, 2, 1);
    ASSERT_NE(red, nullptr);
    owned.insert(owned.begin(), red);
    EXPECT_EQ(vela_get_nbands(red), 1);
    EXPECT_EQ(storage_of(red).bytes_per_pixel, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixel(red, x, y), pixel(src, x + 2, y + 1, 2));
    set_pixel(red, 0, 0, 0, pixel(src, 2, 1, 2) ^ 0xff);
    EXPECT_NE(pixel(red, 0, 0), pixel(src, 2, 1, 2));

    VelaImage *bits = make(19, 2, 1, VELA_BIT);
    fill_random(bits, rng);
    VelaImage *part = vela_create_copy(bits, 5, 1, 11, 1, 0, 1);
    ASSERT_NE(part, nullptr);
    owned.insert(owned.begin(), part);
    EXPECT_EQ(storage_of(part).bit_offset, 0);
    for (int x = 0; x < 11; ++x)
        EXPECT_EQ(pixel(part, x, 0), pixel(bits, x + 5, 1));
}

TEST_F(VelaTest, SetValueRoundsClampsAndFollowsTheRegion)
{
    VelaImage *img = make(6, 4, 3, VELA_BYTE);
    const float v[3] = {3.5f, -20, 300};
    ASSERT_EQ(vela_set_value(img, v), 1);
    EXPECT_EQ(pixel(img, 5, 3, 0), 4);
    EXPECT_EQ(pixel(img, 5, 3, 1), 0);
    EXPECT_EQ(pixel(img, 5, 3, 2), 255);
    const float w[3] = {3.49f, NAN, 254.5f};
    ASSERT_EQ(vela_set_value(img, w), 1);
    EXPECT_EQ(pixel(img, 0, 0, 0), 3);
    EXPECT_EQ(pixel(img, 0, 0, 1), 0);
    EXPECT_EQ(pixel(img, 0, 0, 2), 255);

    VelaImage *bits = make(11, 3, 1, VELA_BIT);
    const float half[1] = {0.6f}, low[1] = {0.4f};
    ASSERT_EQ(vela_set_value(bits, half), 1);
    EXPECT_EQ(samples(bits), std::vector<int>(33, 1));

    // Two overlapping rectangles and one partly outside the image.
    VelaRoi *roi = vela_roi_create(state);
    ASSERT_NE(roi, nullptr);
    ASSERT_EQ(vela_roi_add_rect(roi, 1, 0, 3, 2), 1);
    ASSERT_EQ(vela_roi_add_rect(roi, 2, 1, 3, 1), 1);
    ASSERT_EQ(vela_roi_add_rect(roi, 9, 2, 10, 10), 1);
    ASSERT_EQ(vela_set_roi(bits, roi), 1);
    vela_roi_destroy(roi); // the image keeps its own copy
    ASSERT_EQ(vela_set_value(bits, low), 1);
    const char *expect[3] = {"10001111111", "10000111111", "11111111100"};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 11; ++x)
            EXPECT_EQ(pixel(bits, x, y), expect[y][x] - '0') << x << "," << y;

    // An empty region writes nothing; removing it opens the whole image.
    VelaRoi *none = vela_roi_create(state);
    ASSERT_EQ(vela_roi_add_rect(none, 3, 3, 0, 5), 1);
    ASSERT_EQ(vela_set_roi(bits, none), 1);
    vela_roi_destroy(none);
    ASSERT_EQ(vela_set_value(bits, half), 1);
    EXPECT_EQ(pixel(bits, 1, 0), 0);
    ASSERT_EQ(vela_set_roi(bits, nullptr), 1);
    ASSERT_EQ(vela_set_value(bits, half), 1);
    EXPECT_EQ(samples(bits), std::vector<int>(33, 1));
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(VelaTest, RegionRefusesNegativeSizes)
{
    VelaRoi *roi = vela_roi_create(state);
    EXPECT_EQ(vela_roi_add_rect(roi, 0, 0, -1, 4), 0);
    vela_roi_destroy(roi);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].category, VELA_ERROR_USER);
}

TEST_F(VelaTest, CopyAlignsOriginsAndClipsToOverlapAndRegion)
{
    VelaImage *src = make(4, 3, 1, VELA_BYTE);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            set_pixel(src, x, y, 0, 10 * y + x + 1);
    VelaImage *dst = make(6, 4, 1, VELA_BYTE);
    // The source's pixel (0, 0) lands on the destination's (2, 1), as the
    // canvas paints a scrolled display image.
    vela_set_origin(src, -2, -1);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 0, 0, 5, 3);
    vela_set_roi(dst, roi);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_copy(src, dst), 1);
    EXPECT_EQ(samples(dst), (std::vector<int>{0, 0, 0,  0,  0,  0, //
                                              0, 0, 1,  2,  3,  0, //
                                              0, 0, 11, 12, 13, 0, //
                                              0, 0, 0,  0,  0,  0}));

    VelaImage *bits = make(3, 3, 1, VELA_BIT);
    EXPECT_EQ(vela_copy(src, bits), 0);
    EXPECT_EQ(vela_copy(src, make(6, 4, 3, VELA_BYTE)), 0);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].category, VELA_ERROR_USER);
}

TEST_F(VelaTest, CopyBetweenBitImagesAtAnyBitOffset)
{
    std::mt19937 rng(11);
    VelaImage *a = make(37, 5, 1, VELA_BIT);
    VelaImage *b = make(41, 6, 1, VELA_BIT);
    fill_random(a, rng);
    fill_random(b, rng);
    std::vector<int> before = samples(b);
    VelaImage *from = child(a, 3, 1, 30, 4, 0, 1);
    VelaImage *to = child(b, 5, 2, 33, 4, 0, 1);
    ASSERT_EQ(vela_copy(from, to), 1);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 41; ++x) {
            bool inside = x >= 5 && x < 35 && y >= 2;
            int want = inside ? pixel(a, x - 5 + 3, y - 2 + 1) : before[y * 41 + x];
            ASSERT_EQ(pixel(b, x, y), want) << x << "," << y;
        }
}

TEST_F(VelaTest, ExportImportAndOwnStorageRoundTrip)
{
    VelaImage *img = make(5, 4, 3, VELA_BYTE);
    EXPECT_EQ(vela_is_exported(img), 0);
    ASSERT_EQ(vela_export(img), 1);
    EXPECT_EQ(vela_is_exported(img), 1);
    VelaMemoryStorage st = storage_of(img);
    st.data[2 * st.bytes_per_row + 3 * st.bytes_per_pixel + 1] = 200;
    ASSERT_EQ(vela_import(img, 1), 1);
    EXPECT_EQ(vela_is_exported(img), 0);
    EXPECT_EQ(pixel(img, 3, 2, 1), 200);

    // New memory with padded rows, as a decoder hands it over.
    const int row = 5 * 3 + 7;
    auto *mem = static_cast<unsigned char *>(std::malloc(row * 4));
    ASSERT_NE(mem, nullptr);
    for (int i = 0; i < row * 4; ++i)
        mem[i] = static_cast<unsigned char>(i);
    VelaMemoryStorage mine{mem, row, 3, 0};
    ASSERT_EQ(vela_export(img), 1);
    ASSERT_EQ(vela_set_memory_storage(img, &mine), 1);
    ASSERT_EQ(vela_import(img, 1), 1);
    EXPECT_EQ(storage_of(img).data, mem);
    EXPECT_EQ(storage_of(img).bytes_per_row, row);
    VelaImage *copy = make(5, 4, 3, VELA_BYTE);
    ASSERT_EQ(vela_copy(img, copy), 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            for (int b = 0; b < 3; ++b)
                ASSERT_EQ(pixel(copy, x, y, b), (y * row + x * 3 + b) & 0xff);
    EXPECT_EQ(storage_of(copy).bytes_per_row, 15);
    EXPECT_TRUE(take_errors().empty());
}

TEST_F(VelaTest, OwnStorageIsRefusedForChildrenParentsAndBadLayouts)
{
    VelaImage *parent = make(8, 8, 1, VELA_BYTE);
    VelaImage *c = child(parent, 0, 0, 4, 4, 0, 1);
    auto *mem = static_cast<unsigned char *>(std::malloc(64));
    ASSERT_NE(mem, nullptr);
    VelaMemoryStorage st{mem, 8, 1, 0};
    EXPECT_EQ(vela_set_memory_storage(c, &st), 0);
    EXPECT_EQ(vela_set_memory_storage(parent, &st), 0);
    VelaImage *alone = make(8, 8, 1, VELA_BYTE);
    VelaMemoryStorage short_rows{mem, 7, 1, 0};
    VelaMemoryStorage bit_layout{mem, 8, 0, 2};
    EXPECT_EQ(vela_set_memory_storage(alone, &short_rows), 0);
    EXPECT_EQ(vela_set_memory_storage(alone, &bit_layout), 0);
    std::vector<SeenError> errors = take_errors();
    ASSERT_EQ(errors.size(), 4u);
    for (const SeenError &e : errors)
        EXPECT_EQ(e.category, VELA_ERROR_USER) << e.text;
    // A refused memory block stays the caller's.
    std::free(mem);

    // Once the child is gone the parent may take new memory; a 1-bit
    // image may take memory whose rows start inside a byte.
    vela_destroy(c);
    owned.erase(std::find(owned.begin(), owned.end(), c));
    auto *pmem = static_cast<unsigned char *>(std::calloc(64, 1));
    ASSERT_NE(pmem, nullptr);
    VelaMemoryStorage parent_st{pmem, 8, 1, 0};
    ASSERT_EQ(vela_set_memory_storage(parent, &parent_st), 1);
    VelaImage *bits = make(10, 2, 1, VELA_BIT);
    auto *bmem = static_cast<unsigned char *>(std::calloc(4, 1));
    ASSERT_NE(bmem, nullptr);
    bmem[0] = 0x10; // pixel 0 at bit 3
    VelaMemoryStorage bits_st{bmem, 2, 0, 3};
    ASSERT_EQ(vela_set_memory_storage(bits, &bits_st), 1);
    EXPECT_EQ(pixel(bits, 0, 0), 1);
    EXPECT_EQ(pixel(bits, 1, 0), 0);
}

} // namespace
