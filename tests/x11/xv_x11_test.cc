// The XPM and XBM codecs through the X server: on a 24-bit TrueColor canvas
// they give exactly the pixels of the display-free path; on an 8-bit canvas
// the same colours through a colormap; the symbol "background" follows the
// canvas depth; no X error is raised on the way.
#include "x11_support.h"

#include <X11/xpm.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/ui_corvat.h"
#include "formats/xv.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

int x_errors = 0;
int count_error(Display *, XErrorEvent *)
{
    x_errors++;
    return 0;
}

// The record's picture as 8-bit RGB (through its colormap, 1-bit as black
// and white).
std::vector<unsigned char> record_rgb(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    int w = vela_get_width(img), h = vela_get_height(img);
    VelaMemoryStorage s;
    vela_export(img);
    vela_get_memory_storage(img, &s);
    int bands = vela_get_nbands(img), type = vela_get_datatype(img);
    std::vector<unsigned char> out;
    for (int y = 0; y < h; y++) {
        const unsigned char *row = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        for (int x = 0; x < w; x++) {
            unsigned char o[3];
            if (type == VELA_BIT) {
                int bit = s.bit_offset + x;
                o[0] = o[1] = o[2] = (row[bit >> 3] >> (7 - (bit & 7))) & 1 ? 0 : 255;
            } else if (bands == 1) {
                int v = row[static_cast<ptrdiff_t>(x) * s.bytes_per_pixel];
                bool in = v < image->ncolors;
                o[0] = in ? image->red[v] : 0;
                o[1] = in ? image->green[v] : 0;
                o[2] = in ? image->blue[v] : 0;
            } else {
                const unsigned char *p = row + static_cast<ptrdiff_t>(x) * s.bytes_per_pixel;
                o[0] = image->rgb_order ? p[0] : p[2];
                o[1] = p[1];
                o[2] = image->rgb_order ? p[2] : p[0];
            }
            out.insert(out.end(), o, o + 3);
        }
    }
    vela_import(img, 0);
    return out;
}

class Xv : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensure_main_window());
        if (!prog->image_canvas_created)
            BaseImageCanvasObjectsCreate(base);
        ASSERT_NE(image_display, nullptr);
        ASSERT_NE(image_display->xdisplay, nullptr);
        depth = image_display->depth;
        x_errors = 0;
        XSync(image_display->xdisplay, False);
        old_handler = XSetErrorHandler(count_error);
    }
    void TearDown() override
    {
        XSync(image_display->xdisplay, False);
        XSetErrorHandler(old_handler);
        EXPECT_EQ(x_errors, 0);
    }
    std::string write(const std::string &name, const std::string &text)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Loads with the given loader; nullptr when it fails.
    ImageRec *load(const std::string &path, int (*loader)(ImageRec *), int fmt)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[fmt], nullptr);
        if (loader(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    std::string dir = test_folder();
    int depth = 0;
    XErrorHandler old_handler = nullptr;
};

// An XPM text of n colours (cpp 2 above 92), w x h pixels.
std::string xpm_of(int w, int h, int n)
{
    std::string t = "/* XPM */\nstatic char *g[] = {\n\"" + std::to_string(w) + " " +
                    std::to_string(h) + " " + std::to_string(n) + " 2\",\n";
    auto code = [](int i) {
        return std::string{static_cast<char>('#' + i % 90), static_cast<char>('#' + i / 90)};
    };
    for (int i = 0; i < n; i++) {
        char c[32];
        std::snprintf(c, sizeof c, "#%02X%02X%02X", (i * 37) & 255, (i * 91) & 255, (i * 13 + 7) & 255);
        std::string key = code(i);
        for (char &ch : key)
            if (ch == '"' || ch == '\\')
                ch = '!';
        t += "\"" + key + " c " + c + "\",\n";
    }
    for (int y = 0; y < h; y++) {
        t += "\"";
        for (int x = 0; x < w; x++) {
            std::string key = code((x + y * w) % n);
            for (char &ch : key)
                if (ch == '"' || ch == '\\')
                    ch = '!';
            t += key;
        }
        t += y + 1 < h ? "\",\n" : "\"\n};\n";
    }
    return t;
}

} // namespace

TEST_F(Xv, XpmThroughTheServerGivesTheDisplayFreePixels)
{
    std::vector<std::string> files = {
        write("names.xpm", "/* XPM */\nstatic char *n[] = {\n\"6 2 6 1\",\n"
                           "\"r c red\",\n\"g c Light Grey\",\n\"b c DarkSlateGray\",\n"
                           "\"h c #F00\",\n\"l c #12FF34805678\",\n\"d c rgb:f/80/123\",\n"
                           "\"rgbhld\",\n\"dlhbgr\"\n};\n"),
        write("keys.xpm", "/* XPM */\nstatic char *k[] = {\n\"4 1 4 2\",\n"
                          "\"aa c bogus g #00ff00\",\n\"bb m black\",\n\"cc c none\",\n"
                          "\"dd g4 #808080 m white\",\n\"aabbccdd\"\n};\n"),
        write("xpm2.xpm", "! XPM2\n3 1 2 1\n  c blue\n. c #C86432\n . \n"),
        write("many.xpm", xpm_of(30, 10, 200)),
    };
    for (const std::string &f : files) {
        ImageRec *x = load(f, xpm_load, FMT_XPM);
        ImageRec *free = load(f, xpm_load_no_display, FMT_XPM);
        ASSERT_NE(x, nullptr) << f;
        ASSERT_NE(free, nullptr) << f;
        EXPECT_EQ(x->depth, depth == 24 ? 24 : 8) << f;
        EXPECT_EQ(record_rgb(x), record_rgb(free)) << f << " at depth " << depth;
        destroy_image(x);
        destroy_image(free);
    }
}

TEST_F(Xv, BackgroundFollowsTheCanvasAndTransparentIsBlack)
{
    std::string f = write("bg.xpm", "/* XPM */\nstatic char *b[] = {\n\"3 1 3 1\",\n"
                                    "\"  s background c #336699\",\n\". c None\",\n\"X c yellow\",\n"
                                    "\" .X\"\n};\n");
    ImageRec *img = load(f, xpm_load, FMT_XPM);
    ASSERT_NE(img, nullptr);
    std::vector<unsigned char> rgb = record_rgb(img);
    unsigned char bg = depth == 24 ? 255 : 0;
    EXPECT_EQ(rgb, (std::vector<unsigned char>{bg, bg, bg, 0, 0, 0, 255, 255, 0}))
        << "depth " << depth;
    destroy_image(img);
}

TEST_F(Xv, MoreColoursThanCellsLoadWithTheNearest)
{
    std::string f = write("300.xpm", xpm_of(30, 20, 300));
    ImageRec *x = load(f, xpm_load, FMT_XPM);
    ImageRec *free = load(f, xpm_load_no_display, FMT_XPM);
    ASSERT_NE(x, nullptr);
    ASSERT_NE(free, nullptr);
    std::vector<unsigned char> a = record_rgb(x), b = record_rgb(free);
    ASSERT_EQ(a.size(), b.size());
    if (depth == 24) {
        EXPECT_EQ(a, b);
    } else {
        long error = 0;
        for (size_t i = 0; i < a.size(); i++)
            error += std::abs(static_cast<int>(a[i]) - b[i]);
        EXPECT_LT(static_cast<double>(error) / static_cast<double>(a.size()), 24.0);
    }
    destroy_image(x);
    destroy_image(free);
}

TEST_F(Xv, XbmThroughAServerBitmap)
{
    std::vector<std::string> files = {
        write("x11.xbm", "#define a_width 11\n#define a_height 3\nstatic char a_bits[] = {\n"
                         " 0x55,0x05,0x00,0x04,0xff,0x07};\n"),
        write("x10.xbm", "#define a_width 11\n#define a_height 3\nstatic short a_bits[] = {\n"
                         " 0x0555,0x0400,0x07ff};\n"),
        write("wide.xbm", "#define w_width 37\n#define w_height 2\nstatic unsigned char w_bits[] = {\n"
                          " 0x01, 0x80, 0x7e, 0xc3, 0x15,\n 0xfe, 0x7f, 0x81, 0x3c, 0x0a };\n"),
    };
    for (const std::string &f : files) {
        ImageRec *x = load(f, xbm_load, FMT_XBM);
        ImageRec *free = load(f, xbm_load_no_display, FMT_XBM);
        ASSERT_NE(x, nullptr) << f;
        ASSERT_NE(free, nullptr) << f;
        EXPECT_EQ(x->depth, 1);
        EXPECT_EQ(vela_get_datatype(x->orig_image), VELA_BIT);
        EXPECT_EQ(record_rgb(x), record_rgb(free)) << f;
        destroy_image(x);
        destroy_image(free);
    }
    std::vector<unsigned char> first_row = {0, 0, 0, 255, 255, 255, 0, 0, 0};
    ImageRec *x = load(files[0], xbm_load, FMT_XBM);
    ASSERT_NE(x, nullptr);
    std::vector<unsigned char> shown = record_rgb(x);
    EXPECT_EQ(std::vector<unsigned char>(shown.begin(), shown.begin() + 9), first_row);
    destroy_image(x);

    // Input held in memory or compressed reaches the server as a file.
    std::string text = "#define m_width 3\n#define m_height 1\nstatic char m_bits[] = {\n 0x05 };\n";
    ImageRec *mem = init_image("drop.xbm", "drop.xbm", static_cast<int>(text.size()),
                               &all_types[FMT_XBM], text.data());
    ASSERT_EQ(xbm_load(mem), 0);
    EXPECT_EQ(record_rgb(mem), first_row);
    destroy_image(mem);
    std::string z = write("c.xbm", text);
    ASSERT_EQ(std::system(("compress -f '" + z + "'").c_str()), 0);
    z += ".Z";
    ImageRec *comp = init_image(z.c_str(), z.c_str(), 0, &all_types[FMT_XBM], nullptr);
    comp->compression = COMP_UNIX;
    ASSERT_EQ(xbm_load(comp), 0);
    EXPECT_EQ(record_rgb(comp), first_row);
    destroy_image(comp);

    // The parser stands before the server: a file it refuses never reaches
    // XReadBitmapFile, a huge one never becomes a pixmap.
    EXPECT_EQ(load(write("bad.xbm", "#define a_width 11\n#define a_height 3\nstatic char a_bits[] = {\n"
                                    " 0x55,0x05};\n"),
                   xbm_load, FMT_XBM),
              nullptr);
    EXPECT_EQ(load(write("huge.xbm", "#define a_width 40000\n#define a_height 1\nstatic char a_bits[] = {\n"
                                     " 0x00 };\n"),
                   xbm_load, FMT_XBM),
              nullptr);
}
