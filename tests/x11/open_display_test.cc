// Opening pictures in the main window: what the canvas shows (read back
// from the window), the title, the scroll bars, and every refusal of the
// open flow with its alert.
#include "x11_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/ui_corvat.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/image.h"
#include "image/state.h"

namespace {

class OpenDisplay : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ensure_main_window()); }

    // Opens path as the Open dialog would; returns open_newfile's result.
    int open(const std::string &path, int index = -1)
    {
        int rc = open_newfile(path.c_str(), path.c_str(), index, nullptr, 0);
        flush_events();
        return rc;
    }
    // Opens path expecting one alert answered with "Continue"; returns its
    // message.
    std::string open_refused(const std::string &path, int expected_rc, int index = -1)
    {
        AlertSeen seen;
        answer_next_alert("Continue", &seen);
        EXPECT_EQ(open(path, index), expected_rc) << path;
        EXPECT_TRUE(seen.seen) << path;
        return seen.message;
    }
    Window canvas() { return XtWindow(base->canvas); }
    std::string dir = test_folder();
};

// Returns the window title of the main shell.
std::string title()
{
    char *t = nullptr;
    XtVaGetValues(app_shell, XmNtitle, &t, nullptr);
    return t != nullptr ? t : "";
}

// A picture of eight flat colour bands, each 8 columns wide.
const unsigned char band_colours[8][3] = {{255, 0, 0},   {0, 255, 0},     {0, 0, 255},
                                          {255, 255, 0}, {0, 255, 255},   {255, 0, 255},
                                          {0, 0, 0},     {255, 255, 255}};

std::vector<unsigned char> bands_rgb(int w, int h)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            std::memcpy(&rgb[3 * (static_cast<size_t>(y) * w + x)], band_colours[(x / 8) % 8], 3);
    return rgb;
}

} // namespace

TEST_F(OpenDisplay, ATrueColourPictureShowsInItsColours)
{
    std::string path = write_raster_24(dir + "/bands24.ras", 64, 40, bands_rgb(64, 40));
    ASSERT_EQ(open(path), 0);
    EXPECT_EQ(title(), "Lumora - bands24.ras");
    for (int band = 0; band < 8; band++) {
        unsigned char rgb[3];
        window_rgb(canvas(), band * 8 + 4, 20, rgb);
        EXPECT_EQ(rgb[0], band_colours[band][0]) << "band " << band;
        EXPECT_EQ(rgb[1], band_colours[band][1]) << "band " << band;
        EXPECT_EQ(rgb[2], band_colours[band][2]) << "band " << band;
    }
    // Outside the picture the canvas shows its background.
    XWindowAttributes a;
    XGetWindowAttributes(XtDisplay(app_shell), canvas(), &a);
    if (a.width > 70) {
        unsigned char bg[3];
        window_rgb(canvas(), 68, 20, bg);
        EXPECT_FALSE(bg[0] == 255 && bg[1] == 255 && bg[2] == 255);
    }
}

TEST_F(OpenDisplay, ColormappedAndOneBitPictures)
{
    std::vector<unsigned char> map = {10, 200, 30, 250, 250, 5, 90, 0, 160};
    std::vector<unsigned char> idx(30 * 20);
    for (size_t i = 0; i < idx.size(); i++)
        idx[i] = static_cast<unsigned char>((i % 30) / 10);
    ASSERT_EQ(open(write_raster_8(dir + "/pal8.ras", 30, 20, idx, map)), 0);
    for (int c = 0; c < 3; c++) {
        unsigned char rgb[3];
        window_rgb(canvas(), c * 10 + 5, 10, rgb);
        EXPECT_EQ(rgb[0], map[3 * c]) << c;
        EXPECT_EQ(rgb[1], map[3 * c + 1]) << c;
        EXPECT_EQ(rgb[2], map[3 * c + 2]) << c;
    }
    std::vector<unsigned char> bits(21 * 9, 0);
    for (int y = 0; y < 9; y++)
        for (int x = 10; x < 21; x++)
            bits[static_cast<size_t>(y) * 21 + x] = 1;
    ASSERT_EQ(open(write_raster_1(dir + "/bits.ras", 21, 9, bits)), 0);
    unsigned char white[3], black[3];
    window_rgb(canvas(), 3, 4, white);
    window_rgb(canvas(), 15, 4, black);
    EXPECT_EQ(white[0] + white[1] + white[2], 3 * 255);
    EXPECT_EQ(black[0] + black[1] + black[2], 0);
}

TEST_F(OpenDisplay, ScrollBarsFollowThePictureSize)
{
    ASSERT_EQ(open(write_raster_24(dir + "/small.ras", 40, 30, bands_rgb(40, 30))), 0);
    EXPECT_FALSE(XtIsManaged(base->hscrollbar));
    EXPECT_FALSE(XtIsManaged(base->vscrollbar));
    EXPECT_EQ(current_state->hfit, 0);
    EXPECT_EQ(current_state->vfit, 0);

    // Larger than the screen allows the window: both bars appear.
    Screen *s = XtScreen(app_shell);
    int w = WidthOfScreen(s) + 200, h = HeightOfScreen(s) + 100;
    ASSERT_EQ(open(write_raster_24(dir + "/big.ras", w, h, bands_rgb(w, h))), 0);
    run_until([] { return XtIsManaged(base->hscrollbar) && XtIsManaged(base->vscrollbar); }, 2000);
    EXPECT_TRUE(XtIsManaged(base->hscrollbar));
    EXPECT_TRUE(XtIsManaged(base->vscrollbar));
    EXPECT_EQ(current_state->hfit, 2);
    // Scrolling right by 16 columns moves band 2 to where band 0 was.
    XmScrollBarCallbackStruct cb = {};
    cb.reason = XmCR_VALUE_CHANGED;
    cb.value = 16;
    XtVaSetValues(base->hscrollbar, XmNvalue, 16, nullptr);
    ScrollBarCallback(base->hscrollbar, reinterpret_cast<XtPointer>(2), &cb);
    flush_events();
    unsigned char rgb[3];
    window_rgb(canvas(), 4, 10, rgb);
    EXPECT_EQ(rgb[0], band_colours[2][0]);
    EXPECT_EQ(rgb[2], band_colours[2][2]);
}

TEST_F(OpenDisplay, RefusalsLeaveThePreviousPictureShown)
{
    std::string good = write_raster_24(dir + "/keep.ras", 64, 40, bands_rgb(64, 40));
    ASSERT_EQ(open(good), 0);
    ImageRec *shown = current_image;

    std::string folder = dir + "/folder";
    mkdir(folder.c_str(), 0755);
    EXPECT_EQ(open_refused(folder, -1),
              folder + " is a folder.\nUse File->Open to choose a single file.");
    EXPECT_STREQ(prog->directory, folder.c_str());

    std::string empty = dir + "/empty.ras";
    std::ofstream(empty).close();
    EXPECT_EQ(open_refused(empty, -1), empty + " is an empty file.");
    EXPECT_EQ(open_refused(dir + "/   ", -1), "Please enter a file name.");
    EXPECT_EQ(open_refused(dir + "/missing.ras", -1), dir + "/missing.ras does not exist.");

    std::string text = dir + "/notes.txt";
    std::ofstream(text) << "Dear diary, today I opened a text file in a picture viewer.\n";
    EXPECT_EQ(open_refused(text, -1),
              "File format not supported.\nUse the Open As option to choose a file format.");

    // A damaged file of a known format fails its load.
    std::string cut = dir + "/cut.ras";
    {
        std::ifstream in(good, std::ios::binary);
        std::vector<char> bytes(200);
        in.read(bytes.data(), 200);
        std::ofstream(cut, std::ios::binary).write(bytes.data(), 200);
    }
    EXPECT_EQ(open_refused(cut, -2), "Error opening " + cut + ".");
    EXPECT_EQ(current_image, shown);
    EXPECT_EQ(title(), "Lumora - keep.ras");
    unsigned char rgb[3];
    window_rgb(canvas(), 12, 20, rgb);
    EXPECT_EQ(rgb[1], 255) << "the previous picture is still painted";
}

TEST_F(OpenDisplay, CompressedFilesAndOpenAs)
{
    std::string plain = write_raster_24(dir + "/zipped.ras", 32, 16, bands_rgb(32, 16));
    ASSERT_EQ(std::system(("compress -f '" + plain + "'").c_str()), 0);
    ASSERT_EQ(open(plain + ".Z"), 0);
    EXPECT_EQ(current_image->type->type, FMT_RASTER);
    // Open As with the format: the ".Z" ending switches decompression on.
    ASSERT_EQ(open(plain + ".Z", FMT_RASTER), 0);

    // A wrong explicit format is retried with the detected one.
    std::string path = write_raster_24(dir + "/retry.ras", 16, 16, bands_rgb(16, 16));
    AlertSeen seen;
    answer_next_alert("Continue", &seen);
    ASSERT_EQ(open(path, FMT_TIFF), 0);
    EXPECT_EQ(seen.message, "Error opening file as a TIFF.\nOpening file as a Kestrel Raster.");
    EXPECT_EQ(current_image->type->type, FMT_RASTER);
}

TEST_F(OpenDisplay, TheCanvasIsInTheColormapWindows)
{
    ASSERT_EQ(open(write_raster_24(dir + "/cm.ras", 16, 16, bands_rgb(16, 16))), 0);
    Window *wins = nullptr;
    int n = 0;
    ASSERT_TRUE(XGetWMColormapWindows(XtDisplay(app_shell), XtWindow(app_shell), &wins, &n));
    std::vector<Window> list(wins, wins + n);
    XFree(wins);
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], canvas());
    EXPECT_EQ(list[1], XtWindow(app_shell));
}

TEST_F(OpenDisplay, JpegAndPhotoCdPicturesOpen)
{
    // Flat colour bands survive JPEG coding closely enough to check.
    std::string ras = write_raster_24(dir + "/for_jpeg.ras", 64, 40, bands_rgb(64, 40));
    std::string jpg = dir + "/bands.jpg";
    ASSERT_EQ(std::system(("/usr/bin/convert '" + ras + "' -quality 95 -sampling-factor 1x1 '" + jpg +
                           "'").c_str()),
              0);
    ASSERT_EQ(open(jpg), 0);
    EXPECT_EQ(title(), "Lumora - bands.jpg");
    EXPECT_EQ(current_image->type->type, FMT_JFIF);
    for (int band = 0; band < 8; band++) {
        unsigned char rgb[3];
        window_rgb(canvas(), band * 8 + 4, 20, rgb);
        for (int c = 0; c < 3; c++)
            EXPECT_NEAR(rgb[c], band_colours[band][c], 12) << "band " << band << " channel " << c;
    }

    // A Photo CD pack opens at Base by its content, at Base/4 and Base/16
    // through Open As.
    std::string pcd = dir + "/pack.pcd";
    ASSERT_EQ(std::system(("/usr/bin/convert -size 384x512 xc:red -size 384x512 xc:blue +append pcd:'" +
                           pcd + "'").c_str()),
              0);
    struct Level {
        int index, width, height;
    } levels[] = {{-1, 768, 512}, {FMT_PCD4, 384, 256}, {FMT_PCD16, 192, 128}};
    for (const Level &l : levels) {
        ASSERT_EQ(open(pcd, l.index), 0) << l.index;
        EXPECT_EQ(current_image->width, l.width);
        EXPECT_EQ(current_image->height, l.height);
        EXPECT_EQ(title(), "Lumora - pack.pcd");
    }
    // Base/16 shows the left half red and the right half blue (as
    // ImageMagick's coder stores them, a little dim).
    unsigned char rgb[3];
    window_rgb(canvas(), 20, 64, rgb);
    EXPECT_GT(rgb[0], 180);
    EXPECT_LT(rgb[1], 60);
    EXPECT_LT(rgb[2], 60);
    window_rgb(canvas(), 170, 64, rgb);
    EXPECT_LT(rgb[0], 60);
    EXPECT_LT(rgb[1], 60);
    EXPECT_GT(rgb[2], 180);
}
