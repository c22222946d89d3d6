// Colormaps and depth conversion on real servers: where an image's colours
// land in its private 8-bit colormap, the boundaries between exact colours
// and dithering, a second image's own colours at 4 bits, and every image
// kind in exact colours on a TrueColor screen.
#include "x11_support.h"

#include <cstring>

#include "app/ui_corvat.h"
#include "formats/open.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

bool pseudo_colour_8()
{
    Display *d = XtDisplay(app_shell);
    return DefaultDepth(d, DefaultScreen(d)) == 8 &&
           DefaultVisual(d, DefaultScreen(d))->c_class == PseudoColor;
}

bool true_colour_24()
{
    Display *d = XtDisplay(app_shell);
    return DefaultDepth(d, DefaultScreen(d)) == 24;
}

int open(const std::string &path)
{
    int rc = open_newfile(path.c_str(), path.c_str(), -1, nullptr, 0);
    flush_events();
    return rc;
}

XColor query(Colormap cmap, unsigned long pixel)
{
    XColor c;
    c.pixel = pixel;
    XQueryColor(XtDisplay(app_shell), cmap, &c);
    return c;
}

// An 8-bit picture using the first n entries of a colormap of distinct
// colours (entry i = (i, 255 - i, i * 7)).
std::string palette_picture(const std::string &name, int n)
{
    std::vector<unsigned char> map;
    for (int i = 0; i < n; i++) {
        map.push_back(static_cast<unsigned char>(i));
        map.push_back(static_cast<unsigned char>(255 - i));
        map.push_back(static_cast<unsigned char>(i * 7));
    }
    int w = 32, h = (n + 31) / 32;
    std::vector<unsigned char> idx(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < idx.size(); i++)
        idx[i] = static_cast<unsigned char>(i % static_cast<size_t>(n));
    return write_raster_8(test_folder() + "/" + name, w, h, idx, map);
}

// A 24-bit picture of exactly n distinct colours.
std::string colours_picture(const std::string &name, int n)
{
    int w = 32, h = (n + 31) / 32;
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (int i = 0; i < w * h; i++) {
        int k = i % n;
        rgb[3 * i] = static_cast<unsigned char>(k * 5 % 256);
        rgb[3 * i + 1] = static_cast<unsigned char>(k / 3);
        rgb[3 * i + 2] = static_cast<unsigned char>(255 - k);
    }
    return write_raster_24(test_folder() + "/" + name, w, h, rgb);
}

} // namespace

TEST(Colormap, TenColoursSitAtTheTopOfAPrivateColormap)
{
    ASSERT_TRUE(ensure_main_window());
    if (!pseudo_colour_8())
        GTEST_SKIP() << "needs an 8-bit PseudoColor screen";
    ASSERT_EQ(open(palette_picture("ten.ras", 10)), 0);
    ImageRec *img = current_image;
    ASSERT_NE(img->cmap, 0u);
    EXPECT_EQ(img->offset, 246);
    for (int i = 0; i < 10; i++) {
        XColor c = query(img->cmap, static_cast<unsigned long>(246 + i));
        EXPECT_EQ(c.red >> 8, i) << i;
        EXPECT_EQ(c.green >> 8, 255 - i) << i;
        EXPECT_EQ(c.blue >> 8, i * 7) << i;
    }
    // The default colormap's first 40 cells are copied for other windows.
    Display *d = XtDisplay(app_shell);
    Colormap def = DefaultColormap(d, DefaultScreen(d));
    for (unsigned long p = 0; p < 40; p++) {
        XColor a = query(img->cmap, p), b = query(def, p);
        EXPECT_EQ(a.red, b.red) << p;
        EXPECT_EQ(a.green, b.green) << p;
        EXPECT_EQ(a.blue, b.blue) << p;
    }
    // The reference colours sit just below the picture's.
    EXPECT_LT(image_display->black_pixel, 246);
    EXPECT_GE(image_display->black_pixel, 240);
    XColor black = query(img->cmap, static_cast<unsigned long>(image_display->black_pixel));
    EXPECT_EQ(black.red + black.green + black.blue, 0);
}

TEST(Colormap, EightBitPicturesAreCompactedOrReduced)
{
    ASSERT_TRUE(ensure_main_window());
    if (!pseudo_colour_8())
        GTEST_SKIP() << "needs an 8-bit PseudoColor screen";
    ASSERT_EQ(open(palette_picture("p216.ras", 216)), 0);
    EXPECT_FALSE(current_image->colormap_reduced);
    EXPECT_EQ(current_image->offset, 40);
    XColor c = query(current_image->cmap, 40 + 100);
    EXPECT_EQ(c.red >> 8, 100);
    EXPECT_EQ(c.green >> 8, 155);

    ASSERT_EQ(open(palette_picture("p217.ras", 217)), 0);
    EXPECT_TRUE(current_image->colormap_reduced);
    EXPECT_EQ(current_image->offset, 40);
    EXPECT_EQ(current_image->ncolors, 216);
}

TEST(Colormap, FewTrueColoursAreShownExactlyManyAreDithered)
{
    ASSERT_TRUE(ensure_main_window());
    if (!pseudo_colour_8())
        GTEST_SKIP() << "needs an 8-bit PseudoColor screen";
    ASSERT_EQ(open(colours_picture("c214.ras", 214)), 0);
    EXPECT_EQ(current_image->display_func, image_24to8_no_dither);
    // Every pixel's colour in the window is the picture's own.
    for (int k : {0, 17, 100, 213}) {
        unsigned char rgb[3];
        window_rgb(XtWindow(base->canvas), k % 32, k / 32, rgb);
        EXPECT_EQ(rgb[0], k * 5 % 256) << k;
        EXPECT_EQ(rgb[2], 255 - k) << k;
    }
    ASSERT_EQ(open(colours_picture("c215.ras", 215)), 0);
    EXPECT_EQ(current_image->display_func, image_24to8);
    EXPECT_EQ(current_image->offset, 40);
}

TEST(Colormap, ASecondPictureAtFourBitsUsesItsOwnColours)
{
    ASSERT_TRUE(ensure_main_window());
    // The server offers no 4-bit visual: the conversion for a 4-bit depth
    // is checked through its result for a file.
    ImageRec *images[2];
    const unsigned char colours[2][3] = {{255, 0, 0}, {0, 0, 255}};
    for (int k = 0; k < 2; k++) {
        std::vector<unsigned char> idx(8 * 8, 0);
        std::vector<unsigned char> map(colours[k], colours[k] + 3);
        std::string path = write_raster_8(test_folder() + "/four" + std::to_string(k) + ".ras", 8, 8, idx, map);
        ASSERT_EQ(open(path), 0);
        images[k] = current_image;
        current_image->output_conversion = 1;
        image_geo_op(current_image);
        ASSERT_EQ(assign_display_func(current_image, 4), 0);
        VelaImage *out = current_image->display_func(current_image->view_image);
        current_image->output_conversion = 0;
        ASSERT_NE(out, nullptr);
        VelaMemoryStorage s;
        vela_get_memory_storage(out, &s);
        // 16-colour cube index: blue x1, green x2, red x8.
        EXPECT_EQ(s.data[0], k == 0 ? 8 : 1) << "picture " << k;
        vela_destroy(out);
    }
    (void)images;
}

TEST(Colormap, EveryKindOfPictureInExactColoursOnTrueColour)
{
    ASSERT_TRUE(ensure_main_window());
    if (!true_colour_24())
        GTEST_SKIP() << "needs a 24-bit screen";
    // Grey ramp (an 8-bit file without a colormap).
    std::string grey = test_folder() + "/grey.ras";
    {
        std::vector<unsigned char> idx(16 * 4);
        for (size_t i = 0; i < idx.size(); i++)
            idx[i] = static_cast<unsigned char>((i % 16) * 16);
        write_raster_8(grey, 16, 4, idx, {});
    }
    ASSERT_EQ(open(grey), 0);
    for (int x = 0; x < 16; x++) {
        unsigned char rgb[3];
        window_rgb(XtWindow(base->canvas), x, 1, rgb);
        EXPECT_EQ(rgb[0], x * 16);
        EXPECT_EQ(rgb[1], x * 16);
        EXPECT_EQ(rgb[2], x * 16);
    }
    // Blue-green-red order (a standard 24-bit raster file).
    std::string bgr = test_folder() + "/bgr.ras";
    {
        std::vector<unsigned char> rgb = {10, 20, 30, 200, 100, 50};
        std::vector<unsigned char> bgr_bytes = {30, 20, 10, 50, 100, 200};
        FILE *f = std::fopen(bgr.c_str(), "wb");
        const unsigned char hdr[32] = {0x59, 0xa6, 0x6a, 0x95, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 24,
                                       0,    0,    0,    6,    0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
        std::fwrite(hdr, 1, 32, f);
        std::fwrite(bgr_bytes.data(), 1, 6, f);
        std::fclose(f);
        ASSERT_EQ(open(bgr), 0);
        for (int x = 0; x < 2; x++) {
            unsigned char got[3];
            window_rgb(XtWindow(base->canvas), x, 0, got);
            EXPECT_EQ(got[0], rgb[3 * x]);
            EXPECT_EQ(got[1], rgb[3 * x + 1]);
            EXPECT_EQ(got[2], rgb[3 * x + 2]);
        }
    }
}
