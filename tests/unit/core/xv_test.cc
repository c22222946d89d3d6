// The XPM and XBM codecs without a display: files written by ImageMagick
// and netpbm load with the pixels those tools read; the XPM scanner finds
// what libXpm finds; the XBM parser reads what Xlib reads; our XPM files
// read back identically; damaged and hostile files fail cleanly.
#include "test_support.h"

#include <X11/Xlib.h>
#include <X11/xpm.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "formats/savefile.h"
#include "formats/xv.h"
#include "image/display.h"

namespace {

class Xv : public ::testing::Test {
protected:
    void SetUp() override { ensure_program(); }

    // Loads a file with the given loader; nullptr when the load fails.
    ImageRec *load_file(const std::string &path, int (*loader)(ImageRec *), int fmt)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[fmt], nullptr);
        if (loader(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    ImageRec *load_xpm(const std::string &path) { return load_file(path, xpm_load, FMT_XPM); }
    ImageRec *load_xbm(const std::string &path) { return load_file(path, xbm_load, FMT_XBM); }
    // Loads text written to a file.
    ImageRec *xpm_text(const std::string &text, const std::string &name = "in.xpm")
    {
        write_bytes(dir.file(name), std::vector<unsigned char>(text.begin(), text.end()));
        return load_xpm(dir.file(name));
    }
    ImageRec *xbm_text(const std::string &text, const std::string &name = "in.xbm")
    {
        write_bytes(dir.file(name), std::vector<unsigned char>(text.begin(), text.end()));
        return load_xbm(dir.file(name));
    }
    // Saves a copy of the record's image as the save flow does: a new
    // record holding a copy, with the colormap.  Returns xpm_save's result;
    // the new record is kept in *saved when asked for.
    int save(ImageRec *src, const std::string &path, ImageRec **saved = nullptr)
    {
        ImageRec *target = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_XPM], nullptr);
        VelaImage *o = src->orig_image;
        target->orig_image = vela_create_copy(o, 0, 0, vela_get_width(o), vela_get_height(o), 0,
                                              vela_get_nbands(o));
        copy_image_data(target, src);
        target->depth = retrieve_depth(vela_get_nbands(o), vela_get_datatype(o));
        int rc = xpm_save(target);
        if (saved != nullptr)
            *saved = target;
        else
            destroy_image(target);
        return rc;
    }
    TempDir dir;
};

// A record of an RGB picture (3 bands, red first).
ImageRec *rgb_record(const Rgb &pic)
{
    ImageRec *img = init_image("mem", "mem", 0, &all_types[FMT_XPM], nullptr);
    img->width = pic.width;
    img->height = pic.height;
    img->depth = 24;
    int ps = 0, rs = 0;
    unsigned char *d = create_data(img, &ps, &rs);
    for (int y = 0; y < pic.height; y++)
        for (int x = 0; x < pic.width; x++)
            std::memcpy(d + static_cast<ptrdiff_t>(y) * rs + static_cast<ptrdiff_t>(x) * ps,
                        &pic.pixels[3 * (static_cast<size_t>(y) * pic.width + x)], 3);
    img->rgb_order = 1;
    vela_import(img->orig_image, 1);
    return img;
}

// A record of an 8-bit picture with a colormap (r, g, b per entry).
ImageRec *indexed_record(int w, int h, const std::vector<unsigned char> &idx,
                         const std::vector<unsigned char> &map)
{
    ImageRec *img = init_image("mem", "mem", 0, &all_types[FMT_XPM], nullptr);
    img->width = w;
    img->height = h;
    img->depth = 8;
    int ps = 0, rs = 0;
    unsigned char *d = create_data(img, &ps, &rs);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            d[static_cast<ptrdiff_t>(y) * rs + x * ps] = idx[static_cast<size_t>(y) * w + x];
    vela_import(img->orig_image, 1);
    size_t n = map.size() / 3;
    img->red = static_cast<unsigned char *>(std::malloc(n));
    img->green = static_cast<unsigned char *>(std::malloc(n));
    img->blue = static_cast<unsigned char *>(std::malloc(n));
    for (size_t i = 0; i < n; i++) {
        img->red[i] = map[3 * i];
        img->green[i] = map[3 * i + 1];
        img->blue[i] = map[3 * i + 2];
    }
    img->ncolors = static_cast<int>(n);
    return img;
}

// A record of a 1-bit picture from 0/1 values (1 black).
ImageRec *bit_record(int w, int h, const std::vector<unsigned char> &bits)
{
    ImageRec *img = init_image("mem", "mem", 0, &all_types[FMT_XPM], nullptr);
    img->width = w;
    img->height = h;
    img->depth = 1;
    int ps = 0, rs = 0;
    unsigned char *d = create_data(img, &ps, &rs);
    for (int y = 0; y < h; y++) {
        std::memset(d + static_cast<ptrdiff_t>(y) * rs, 0, static_cast<size_t>(rs));
        for (int x = 0; x < w; x++)
            if (bits[static_cast<size_t>(y) * w + x])
                d[static_cast<ptrdiff_t>(y) * rs + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
    vela_import(img->orig_image, 1);
    return img;
}

// Returns a picture of n distinct colours in a deterministic pattern.
Rgb palette_picture(int w, int h, int n, unsigned seed)
{
    Rgb colours = test_picture(n, 1, seed);
    Rgb pic;
    pic.width = w;
    pic.height = h;
    pic.pixels.resize(static_cast<size_t>(w) * h * 3);
    for (int i = 0; i < w * h; i++) {
        int c = (i * 7 + i / w) % n;
        std::memcpy(&pic.pixels[3 * static_cast<size_t>(i)], &colours.pixels[3 * static_cast<size_t>(c)], 3);
    }
    // Every colour appears at least once.
    for (int c = 0; c < n && c < w * h; c++)
        std::memcpy(&pic.pixels[3 * static_cast<size_t>(c)], &colours.pixels[3 * static_cast<size_t>(c)], 3);
    return pic;
}

std::string read_text(const std::string &path)
{
    std::vector<unsigned char> b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

// libXpm's own values for a text, or false when it refuses it.  Its parser
// reads past the NUL of some damaged texts: the copy has room for that.
bool libxpm_values(const std::string &text, XpmValues *v)
{
    std::string copy = text + std::string(4096, '\0');
    XpmImage xi;
    std::memset(&xi, 0, sizeof xi);
    if (XpmCreateXpmImageFromBuffer(copy.data(), &xi, nullptr) < 0)
        return false;
    *v = XpmValues{xi.width, xi.height, xi.ncolors, xi.cpp};
    XpmFreeXpmImage(&xi);
    return true;
}

// Xlib's reading of an XBM file (display-free), as rows of XBM bytes.
bool xlib_bitmap(const std::string &path, XbmBitmap *out)
{
    unsigned int w = 0, h = 0;
    unsigned char *data = nullptr;
    int xh = 0, yh = 0;
    if (XReadBitmapFileData(path.c_str(), &w, &h, &data, &xh, &yh) != BitmapSuccess)
        return false;
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    out->bits.assign(data, data + (w + 7) / 8 * h);
    XFree(data);
    return true;
}

// The XBM rows of a loaded 1-bit record, for comparison with Xlib's.
std::vector<unsigned char> record_xbm_bits(ImageRec *img)
{
    Rgb rgb = record_to_rgb(img);
    size_t bpl = (static_cast<size_t>(rgb.width) + 7) / 8;
    std::vector<unsigned char> bits(bpl * rgb.height, 0);
    for (int y = 0; y < rgb.height; y++)
        for (int x = 0; x < rgb.width; x++)
            if (rgb.pixels[3 * (static_cast<size_t>(y) * rgb.width + x)] == 0)
                bits[bpl * y + x / 8] |= static_cast<unsigned char>(1 << (x % 8));
    return bits;
}

const char *small_xpm =
    "/* XPM */\n"
    "static char *pic[] = {\n"
    "/* width height ncolors cpp */\n"
    "\"4 3 4 1\",\n"
    "\"  c #FF0000\",\n"
    "\". c blue\",\n"
    "\"X c None\",\n"
    "\"o c #123456\",\n"
    "\" .Xo\",\n"
    "\"o X.\",\n"
    "\"    \"\n"
    "};\n";

} // namespace

TEST_F(Xv, PeerXpmFilesLoadWithThePeersPixels)
{
    if (run_command("command -v ppmtoxpm xpmtoppm >/dev/null && test -x /usr/bin/convert") != 0)
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    struct Case {
        const char *name;
        Rgb pic;
    } cases[] = {
        {"few", palette_picture(23, 9, 7, 2)},      // one character a pixel
        {"many", palette_picture(40, 20, 150, 3)},  // two characters
        {"random", test_picture(33, 17, 9)},        // 561 colours
    };
    for (const Case &c : cases) {
        std::string ppm = dir.file(std::string(c.name) + ".ppm");
        write_ppm(ppm, c.pic);
        std::string im = dir.file(std::string(c.name) + "_im.xpm");
        std::string nb = dir.file(std::string(c.name) + "_nb.xpm");
        ASSERT_EQ(run_command("/usr/bin/convert '" + ppm + "' xpm:'" + im + "'"), 0);
        ASSERT_EQ(run_command("ppmtoxpm '" + ppm + "' > '" + nb + "' 2>/dev/null"), 0);
        for (const std::string &file : {im, nb}) {
            ImageRec *img = load_xpm(file);
            ASSERT_NE(img, nullptr) << file;
            EXPECT_EQ(img->depth, 24);
            Rgb ours = record_to_rgb(img), theirs;
            ASSERT_TRUE(peer_decode("convert", file, &theirs, file));
            EXPECT_EQ(ours.pixels, theirs.pixels) << file << " ImageMagick";
            if (file == nb) {
                ASSERT_TRUE(peer_decode("xpmtoppm", file, &theirs, file));
                EXPECT_EQ(ours.pixels, theirs.pixels) << file << " netpbm";
                // netpbm writes the picture's exact colours, by name or number.
                EXPECT_EQ(ours.pixels, c.pic.pixels) << file;
            }
            destroy_image(img);
        }
    }

    // Transparent pixels ("None") read as black, as both peers read them.
    Rgb pic = palette_picture(12, 6, 4, 5);
    std::string ppm = dir.file("a.ppm"), pgm = dir.file("a.pgm");
    write_ppm(ppm, pic);
    std::string mask = "P5\n12 6\n255\n";
    for (int i = 0; i < 72; i++)
        mask += static_cast<char>(i % 5 == 0 ? 0 : 255);
    write_bytes(pgm, std::vector<unsigned char>(mask.begin(), mask.end()));
    std::string nb = dir.file("alpha_nb.xpm"), im = dir.file("alpha_im.xpm");
    ASSERT_EQ(run_command("ppmtoxpm -alphamask='" + pgm + "' '" + ppm + "' > '" + nb + "' 2>/dev/null"), 0);
    ASSERT_EQ(run_command("/usr/bin/convert '" + ppm + "' '" + pgm +
                          "' -alpha off -compose copy_opacity -composite xpm:'" + im + "'"),
              0);
    for (const std::string &file : {nb, im}) {
        ASSERT_NE(read_text(file).find("None"), std::string::npos) << file;
        ImageRec *img = load_xpm(file);
        ASSERT_NE(img, nullptr) << file;
        Rgb ours = record_to_rgb(img), theirs;
        ASSERT_TRUE(peer_decode("convert", file, &theirs, file));
        EXPECT_EQ(ours.pixels, theirs.pixels) << file;
        for (int i = 0; i < 72; i += 5) {
            EXPECT_EQ(ours.pixels[3 * i] | ours.pixels[3 * i + 1] | ours.pixels[3 * i + 2], 0) << i;
        }
        destroy_image(img);
    }
}

TEST_F(Xv, ColourNamesAndNumbersAsATrueColourServerReadsThem)
{
    // Values checked against Xvfb's XParseColor and XAllocColor (the X
    // tests compare the two paths on a live server too).
    struct Colour {
        const char *text;
        uint32_t rgb;
    } colours[] = {
        {"#F00", 0xf00000},        {"#123", 0x102030},         {"#12345678a", 0x124578},
        {"#123456789abc", 0x12569a}, {"#12FF34805678", 0x123456}, {"#C86432", 0xc86432},
        {"rgb:f/80/123", 0xff8012}, {"RGB:1/2/3", 0x112233},    {"rgb:ffff/0/8000", 0xff0080},
        {"red", 0xff0000},          {"Light Grey", 0xd3d3d3},   {"lightgrey", 0xd3d3d3},
        {"DarkSlateGray", 0x2f4f4f}, {"gray", 0xbebebe},         {"grey50", 0x7f7f7f},
        {"gray1", 0x030303},        {"web gray", 0x808080},     {"X11Gray", 0xbebebe},
        {"RebeccaPurple", 0x663399}, {"crimson", 0xdc143c},      {"green", 0x00ff00},
    };
    for (const Colour &s : colours) {
        uint32_t rgb = 1;
        EXPECT_TRUE(x_colour_rgb(s.text, &rgb)) << s.text;
        EXPECT_EQ(rgb, s.rgb) << s.text;
    }
    for (const char *bad : {"", "#ggg", "#1234", " red", "red ", "light  grey", "antique white1",
                            "DebianRed", "rgb:1/2", "rgb:12345/0/0", "rgb:1/2/3/", "none"}) {
        uint32_t rgb;
        EXPECT_FALSE(x_colour_rgb(bad, &rgb)) << bad;
    }

    // Every name of the system's colour database means the same here.
    std::ifstream db("/usr/share/X11/rgb.txt");
    if (!db)
        return;
    std::string line;
    int checked = 0;
    while (std::getline(db, line)) {
        int r, g, b, used = 0;
        if (line.empty() || line[0] == '!' || std::sscanf(line.c_str(), "%d %d %d %n", &r, &g, &b, &used) != 3)
            continue;
        std::string name = line.substr(static_cast<size_t>(used));
        if (name == "DebianRed")
            continue;
        uint32_t rgb = 0;
        EXPECT_TRUE(x_colour_rgb(name.c_str(), &rgb)) << name;
        EXPECT_EQ(rgb, static_cast<uint32_t>(r << 16 | g << 8 | b)) << name;
        checked++;
    }
    EXPECT_GT(checked, 700);
}

TEST_F(Xv, ColourKeysSymbolsAndTransparency)
{
    // Keys in libXpm's order (colour, grey, 4-level grey, mono), the
    // symbol "background" white as on a 24-bit canvas, None black.
    ImageRec *img = xpm_text("/* XPM */\n"
                             "static char *k[] = {\n"
                             "\"6 1 6 2\",\n"
                             "\"aa c bogus g #00ff00\",\n"
                             "\"bb m black\",\n"
                             "\"cc s background c #0000ff\",\n"
                             "\"dd c none\",\n"
                             "\"ee g4 #808080 m white\",\n"
                             "\"ff c light goldenrod\",\n"
                             "\"aabbccddeeff\"\n"
                             "};\n");
    ASSERT_NE(img, nullptr);
    Rgb rgb = record_to_rgb(img);
    EXPECT_EQ(rgb.pixels, (std::vector<unsigned char>{0, 255, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0,
                                                      128, 128, 128, 238, 221, 130}));
    destroy_image(img);

    // A colour no key names fails the load, as libXpm's does.
    EXPECT_EQ(xpm_text("/* XPM */\nstatic char *k[] = {\n\"1 1 1 1\",\n\". c nosuchcolour\",\n\".\"};\n"),
              nullptr);

    img = xpm_text(small_xpm);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 4);
    EXPECT_EQ(img->height, 3);
    rgb = record_to_rgb(img);
    EXPECT_EQ((std::vector<unsigned char>(rgb.pixels.begin(), rgb.pixels.begin() + 12)),
              (std::vector<unsigned char>{255, 0, 0, 0, 0, 255, 0, 0, 0, 0x12, 0x34, 0x56}));
    destroy_image(img);
}

TEST_F(Xv, TheScannerFindsTheValuesLibXpmFinds)
{
    // Every layout libXpm reads: XPM 3, XPM 2 in its natural and C forms,
    // XPM 1, comments holding quotes, values over several lines.
    const std::string body = "\"  c red\",\n\". c blue\",\n\" .\",\n\". \"\n};\n";
    std::vector<std::string> texts = {
        "/* XPM */\nstatic char *a[] = {\n\"2 2 2 1\",\n" + body,
        "/* XPM */\n/* a \"quoted\" comment */ static char *a[] = {\n\"2 2 2 1\",\n" + body,
        "/* XPM */ static char *a[] = { /* \"9 9 9 9\" */ \"2\n2 2 1\",\n" + body,
        "/* XPM */\nstatic char *a[] = {/**/\"2 2 2 1 XPMEXT\",\n" + body,
        "! XPM2\n2 2 2 1\n  c red\n. c blue\n .\n. \n",
        "! XPM2\n! a comment\n2 2 2 1\n  c red\n. c blue\n .\n. \n",
        "! XPM2 C\n/* c */ \"2 2 2 1\",\n" + body,
        "#define a_format 1\n#define a_width 2\n#define a_height 2\n#define a_ncolors 2\n"
        "#define a_chars_per_pixel 1\nstatic char *a_colors[] = {\n\" \", \"red\",\n\".\", \"blue\"\n};\n"
        "static char *a_pixels[] = {\n\" .\",\n\". \"\n};\n",
        // Refused by libXpm, and so by the scanner.
        "\n/* XPM */\nstatic char *a[] = {\n\"2 2 2 1\",\n" + body,
        "/* XPM static char *a[] = {\n\"2 2 2 1\",\n" + body,
        "/* XPM */\nstatic char *a[] = {\n/* never closed \"2 2 2 1\",\n" + body,
        "/* XPM */\nstatic char *a[] = {\n\"2 x 2 1\",\n" + body,
        "XPM\n",
        "",
    };
    for (const std::string &t : texts) {
        XpmValues ours, theirs;
        bool ok = xpm_scan_values(t.data(), t.size(), &ours);
        bool lib = libxpm_values(t, &theirs);
        EXPECT_EQ(ok, lib) << t;
        if (ok && lib) {
            EXPECT_EQ(ours.width, theirs.width) << t;
            EXPECT_EQ(ours.height, theirs.height) << t;
            EXPECT_EQ(ours.ncolors, theirs.ncolors) << t;
            EXPECT_EQ(ours.cpp, theirs.cpp) << t;
            ImageRec *img = xpm_text(t);
            ASSERT_NE(img, nullptr) << t;
            EXPECT_EQ(record_to_rgb(img).pixels,
                      (std::vector<unsigned char>{255, 0, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0}))
                << t;
            destroy_image(img);
        }
    }

    // Mutated texts: wherever the scanner finds values, libXpm finds the
    // same ones.  (Only small pictures are handed to libXpm.)
    std::mt19937 rng(11);
    const std::string base = texts[1];
    const char alphabet[] = "\"/*! \n0123456789XPM2C#_";
    int compared = 0;
    for (int round = 0; round < 4000; round++) {
        std::string t = base;
        int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; e++) {
            size_t at = rng() % (t.size() + 1);
            char c = alphabet[rng() % (sizeof alphabet - 1)];
            switch (rng() % 3) {
            case 0: t.insert(at, 1, c); break;
            case 1: if (at < t.size()) t[at] = c; break;
            default: if (at < t.size()) t.erase(at, 1); break;
            }
        }
        XpmValues ours, theirs;
        if (!xpm_scan_values(t.data(), t.size(), &ours) ||
            static_cast<uint64_t>(ours.width) * ours.height > 4096 || ours.ncolors > 4096 ||
            ours.cpp > 8)
            continue;
        if (libxpm_values(t, &theirs)) {
            compared++;
            EXPECT_TRUE(ours.width == theirs.width && ours.height == theirs.height &&
                        ours.ncolors == theirs.ncolors && ours.cpp == theirs.cpp)
                << t;
        }
    }
    EXPECT_GT(compared, 100);
}

TEST_F(Xv, PeerXbmFilesLoadWithThePeersPixels)
{
    if (run_command("command -v pbmtoxbm xbmtopbm >/dev/null && test -x /usr/bin/convert") != 0)
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    // Widths around the X10 padding (1 to 8 pixels past 16) and byte edges.
    for (int w : {1, 7, 8, 9, 15, 16, 17, 24, 25, 31, 33}) {
        Rgb pic = test_picture(w, 5, static_cast<unsigned>(w));
        for (unsigned char &v : pic.pixels)
            v = v < 128 ? 0 : 255;
        for (int i = 0; i < w * 5; i++) // grey to black and white per pixel
            pic.pixels[3 * i + 1] = pic.pixels[3 * i + 2] = pic.pixels[3 * i];
        std::string ppm = dir.file("b.ppm"), pbm = dir.file("b.pbm");
        write_ppm(ppm, pic);
        ASSERT_EQ(run_command("ppmtopgm '" + ppm + "' | pgmtopbm -threshold > '" + pbm + "' 2>/dev/null"), 0);
        struct Maker {
            const char *name, *cmd;
        } makers[] = {{"x11.xbm", "pbmtoxbm"}, {"x10.xbm", "pbmtoxbm -x10"}, {"im.xbm", nullptr}};
        for (const Maker &m : makers) {
            std::string out = dir.file(m.name);
            std::string cmd = m.cmd != nullptr
                                  ? std::string(m.cmd) + " '" + pbm + "' > '" + out + "' 2>/dev/null"
                                  : "/usr/bin/convert '" + pbm + "' xbm:'" + out + "'";
            ASSERT_EQ(run_command(cmd), 0);
            ImageRec *img = load_xbm(out);
            ASSERT_NE(img, nullptr) << m.name << " " << w;
            EXPECT_EQ(img->depth, 1);
            EXPECT_EQ(vela_get_datatype(img->orig_image), VELA_BIT);
            Rgb ours = record_to_rgb(img), theirs;
            EXPECT_EQ(ours.pixels, pic.pixels) << m.name << " " << w;
            ASSERT_TRUE(peer_decode("xbmtopbm", out, &theirs, out));
            EXPECT_EQ(ours.pixels, theirs.pixels) << m.name << " " << w << " netpbm";
            ASSERT_TRUE(peer_decode("convert", out, &theirs, out));
            EXPECT_EQ(ours.pixels, theirs.pixels) << m.name << " " << w << " ImageMagick";
            XbmBitmap xlib;
            ASSERT_TRUE(xlib_bitmap(out, &xlib)) << m.name;
            EXPECT_EQ(record_xbm_bits(img), xlib.bits) << m.name << " " << w << " Xlib";
            destroy_image(img);
        }
    }
}

TEST_F(Xv, TheXbmParserIsStrictAndAgreesWithXlib)
{
    const std::string head = "#define i_width 10\n#define i_height 2\n";
    const std::string good = head + "static unsigned char i_bits[] = {\n   0x01, 0x02,\n 0xff, 0x03 };\n";
    std::vector<std::string> accepted = {
        good,
        "/* made by hand */\n#define i_x_hot 1\n#define i_y_hot 1\n" + head +
            "static char i_bits[] = {\r\n 0x01,0X02,0xFF,0x03,\r\n};\r\n",
        "#define width 3\n#define height 1\nstatic char bits[] = {\n0x05};\n",
        head + "static short i_bits[] = {\n 0x0201, 0x03ff };\n",
    };
    for (const std::string &t : accepted) {
        XbmBitmap bm;
        ASSERT_TRUE(xbm_parse(t.data(), t.size(), &bm)) << t;
        std::string path = dir.file("ok.xbm");
        write_bytes(path, std::vector<unsigned char>(t.begin(), t.end()));
        XbmBitmap xlib;
        ASSERT_TRUE(xlib_bitmap(path, &xlib)) << t;
        EXPECT_EQ(bm.width, xlib.width);
        EXPECT_EQ(bm.height, xlib.height);
        EXPECT_EQ(bm.bits, xlib.bits) << t;
    }
    std::vector<std::string> refused = {
        head + "static unsigned char i_bits[] = {\n 1, 2, 255, 3 };\n",        // decimal
        head + "static unsigned char i_bits[] = {\n 0x01, 0x02, 0xff };\n",    // too few
        head + "static unsigned char i_bits[] = {\n 0x01, 0x02, 0xff, 0x03, 0x04 };\n", // too many
        head + "static unsigned char i_bits[] = { 0x01, 0x02,\n 0xff, 0x03 };\n", // Xlib skips these
        head + "static unsigned char i_bits[] = {\n 0x01 0x02 0xff 0x03 };\n",  // no commas
        head + "static unsigned char i_bits[] = {\n 0x01, 0x102, 0xff, 0x03 };\n", // not a byte
        head + "static unsigned char i_bits[] = {\n 0x01, 0x02, 0xff, 0x03\n",  // no brace
        head + "static unsigned char i_bits[] = {\n 0x01, /* c */ 0x02, 0xff, 0x03 };\n",
        head + "static const unsigned char i_bits[] = {\n 0x01, 0x02, 0xff, 0x03 };\n",
        head + "static unsigned short i_bits[] = {\n 0x0201, 0x03ff };\n",
        "#define i_width 10\nstatic char i_bits[] = {\n 0x01, 0x02 };\n",       // no height
        "#define i_width 0\n#define i_height 2\nstatic char i_bits[] = {\n};\n",
        "#define i_width 99999999999\n#define i_height 1\nstatic char i_bits[] = {\n 0x00 };\n",
        "/*" + std::string(300, '*') + "*/\n" + good,                           // Xlib's line limit
        // Lines Xlib reads as sizes or as the declaration must be clean ones.
        "static char a_bits[] =_bits[] = {\n" + good,
        "#define i_width 8\n#define i_width 10x\n#define i_height 2\n"
        "static char i_bits[] = {\n 0x01, 0x02, 0xff, 0x03 };\n",
        std::string("#define i_width 1\n#define i_height 1\nstatic char i_bits[] = {\n 0x0\0 };\n", 58),
        "",
    };
    for (const std::string &t : refused) {
        XbmBitmap bm;
        EXPECT_FALSE(xbm_parse(t.data(), t.size(), &bm)) << t;
    }
}

TEST_F(Xv, DamagedAndHostileFilesFailCleanly)
{
    Rgb pic = palette_picture(9, 7, 30, 4);
    std::string ppm = dir.file("d.ppm");
    write_ppm(ppm, pic);
    std::string xpm = small_xpm;
    if (run_command("ppmtoxpm '" + ppm + "' > '" + dir.file("d.xpm") + "' 2>/dev/null") == 0)
        xpm = read_text(dir.file("d.xpm"));
    std::string xbm = "#define d_width 13\n#define d_height 3\nstatic char d_bits[] = {\n"
                      " 0x55, 0x05, 0x00, 0x04, 0xff, 0x07 };\n";

    // Cut anywhere: the load fails, or gives the whole picture when only the
    // end of the file was lost.
    for (const std::string *text : {&xpm, &xbm}) {
        bool is_xpm = text == &xpm;
        ImageRec *whole = is_xpm ? xpm_text(*text) : xbm_text(*text);
        ASSERT_NE(whole, nullptr);
        Rgb full = record_to_rgb(whole);
        destroy_image(whole);
        for (size_t cut = 0; cut < text->size(); cut++) {
            std::string part = text->substr(0, cut);
            ImageRec *img = is_xpm ? xpm_text(part) : xbm_text(part);
            if (img != nullptr) {
                EXPECT_EQ(record_to_rgb(img).pixels, full.pixels) << "cut at " << cut;
                EXPECT_GE(cut, text->rfind(is_xpm ? '"' : '}')) << "cut at " << cut;
            }
            destroy_image(img);
        }
    }

    // Random corruption never crashes or takes long.
    std::mt19937 rng(5);
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 1500; round++) {
        bool is_xpm = round % 2 == 0;
        std::string t = is_xpm ? xpm : xbm;
        for (int e = 0; e < 4; e++)
            t[rng() % t.size()] = static_cast<char>(rng() % 256);
        std::vector<char> bytes(t.begin(), t.end());
        ImageRec *img = init_image("m", "m", static_cast<int>(bytes.size()),
                                   &all_types[is_xpm ? FMT_XPM : FMT_XBM], bytes.data());
        auto t0 = std::chrono::steady_clock::now();
        (is_xpm ? xpm_load : xbm_load)(img);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
        destroy_image(img);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

    // Huge declared sizes are refused before anything is allocated for them.
    std::vector<std::string> huge = {
        "/* XPM */\nstatic char *h[] = {\n\"65535 65535 1 1\",\n\". c red\",\n\"....\"\n};\n",
        "/* XPM */\nstatic char *h[] = {\n\"4 1 999999999 1\",\n\". c red\",\n\"....\"\n};\n",
        "/* XPM */\nstatic char *h[] = {\n\"4 1 1 999999999\",\n\". c red\",\n\"....\"\n};\n",
        "/* XPM */\nstatic char *h[] = {\n\"4294967295 4294967295 4294967295 4294967295\",\n};\n",
        "/* XPM */\nstatic char *h[] = {\n\"4294967296 1 1 1\",\n\". c red\",\n\".\"\n};\n",
    };
    for (const std::string &t : huge) {
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(xpm_text(t), nullptr) << t;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200)) << t;
    }
    for (const char *t : {"#define h_width 65535\n#define h_height 65535\nstatic char h_bits[] = {\n 0x00 };\n",
                          "#define h_width 262141\n#define h_height 1\nstatic char h_bits[] = {\n 0x00 };\n"}) {
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(xbm_text(t), nullptr) << t;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200)) << t;
    }
}

TEST_F(Xv, LoadsFromMemoryAndThroughZcat)
{
    std::string t = small_xpm;
    ImageRec *img = init_image("drop.xpm", "drop.xpm", static_cast<int>(t.size()), &all_types[FMT_XPM], t.data());
    ASSERT_EQ(xpm_load(img), 0);
    Rgb from_memory = record_to_rgb(img);
    destroy_image(img);

    std::string path = dir.file("pic.xpm");
    write_bytes(path, std::vector<unsigned char>(t.begin(), t.end()));
    ASSERT_EQ(run_command("compress -f '" + path + "'"), 0);
    std::string z = path + ".Z";
    img = init_image(z.c_str(), z.c_str(), 0, &all_types[FMT_XPM], nullptr);
    img->compression = COMP_UNIX;
    ASSERT_EQ(xpm_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, from_memory.pixels);
    destroy_image(img);

    std::string x = "#define m_width 3\n#define m_height 1\nstatic char m_bits[] = {\n 0x05 };\n";
    img = init_image("drop.xbm", "drop.xbm", static_cast<int>(x.size()), &all_types[FMT_XBM], x.data());
    ASSERT_EQ(xbm_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, (std::vector<unsigned char>{0, 0, 0, 255, 255, 255, 0, 0, 0}));
    destroy_image(img);
}

TEST_F(Xv, SavedFilesReadBackIdenticallyInPeers)
{
    bool peers = run_command("command -v xpmtoppm >/dev/null && test -x /usr/bin/convert") == 0;
    Rgb few = palette_picture(21, 11, 12, 6), many = palette_picture(30, 20, 200, 7);
    std::vector<unsigned char> idx(15 * 4);
    for (size_t i = 0; i < idx.size(); i++)
        idx[i] = static_cast<unsigned char>(i % 3);
    std::vector<unsigned char> bits(13 * 5);
    for (size_t i = 0; i < bits.size(); i++)
        bits[i] = static_cast<unsigned char>((i * 5 / 3) % 2);
    struct Case {
        const char *name;
        ImageRec *img;
        unsigned cpp;
    } cases[] = {
        {"few", rgb_record(few), 1},
        {"many", rgb_record(many), 2},                              // two characters a pixel
        {"two", indexed_record(15, 4, idx, {200, 10, 30, 5, 90, 250, 7, 7, 7}), 1},
        {"bits", bit_record(13, 5, bits), 1},
    };
    for (const Case &c : cases) {
        Rgb before = record_to_rgb(c.img);
        std::string path = dir.file(std::string(c.name) + ".xpm");
        ImageRec *saved = nullptr;
        ASSERT_EQ(save(c.img, path, &saved), 0) << c.name;
        // Up to 256 colours are written exactly and the record keeps its image.
        EXPECT_EQ(saved->depth, c.img->depth) << c.name;
        destroy_image(saved);
        std::string text = read_text(path);
        std::string header = "/* XPM */\nstatic char * " + std::string(c.name) + "_xpm[] = {\n";
        EXPECT_EQ(text.compare(0, header.size(), header), 0) << text.substr(0, 60);
        XpmValues v;
        ASSERT_TRUE(xpm_scan_values(text.data(), text.size(), &v));
        EXPECT_EQ(v.cpp, c.cpp) << c.name;
        ImageRec *back = load_xpm(path);
        ASSERT_NE(back, nullptr) << c.name;
        EXPECT_EQ(record_to_rgb(back).pixels, before.pixels) << c.name << " libXpm";
        destroy_image(back);
        if (peers) {
            Rgb theirs;
            ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
            EXPECT_EQ(theirs.pixels, before.pixels) << c.name << " ImageMagick";
            ASSERT_TRUE(peer_decode("xpmtoppm", path, &theirs, path));
            EXPECT_EQ(theirs.pixels, before.pixels) << c.name << " netpbm";
        }
        if (std::string(c.name) == "bits") {
            EXPECT_EQ(v.ncolors, 2u);
        }
        destroy_image(c.img);
    }
}

TEST_F(Xv, MoreColoursThanTheWriterTakesAreReducedToTheCube)
{
    Rgb pic = test_picture(40, 30, 3);  // 1200 random colours
    ImageRec *img = rgb_record(pic);
    std::string path = dir.file("cube.xpm");
    ImageRec *saved = nullptr;
    ASSERT_EQ(save(img, path, &saved), 0);
    // The record now holds the reduced 8-bit picture the file holds.
    EXPECT_EQ(saved->depth, 8);
    EXPECT_EQ(vela_get_nbands(saved->orig_image), 1);
    EXPECT_EQ(saved->ncolors, 216);
    EXPECT_EQ(saved->offset, 0);
    Rgb shown = record_to_rgb(saved);
    ImageRec *back = load_xpm(path);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(record_to_rgb(back).pixels, shown.pixels);
    destroy_image(back);
    std::string text = read_text(path);
    XpmValues v;
    ASSERT_TRUE(xpm_scan_values(text.data(), text.size(), &v));
    EXPECT_LE(v.ncolors, 216u);
    if (run_command("test -x /usr/bin/convert") == 0) {
        Rgb theirs;
        ASSERT_TRUE(peer_decode("convert", path, &theirs, path));
        EXPECT_EQ(theirs.pixels, shown.pixels);
    }
    // The dither keeps the picture: every channel within one cube step.
    int worst = 0;
    for (size_t i = 0; i < pic.pixels.size(); i++)
        worst = std::max(worst, std::abs(static_cast<int>(pic.pixels[i]) - shown.pixels[i]));
    EXPECT_LE(worst, 86);
    // The reduced record displays: an 8-bit picture with its own colormap.
    EXPECT_EQ(assign_display_func(saved, 24), 0);
    destroy_image(saved);
    destroy_image(img);
}

TEST_F(Xv, AFailedSaveLeavesTheOldFile)
{
    std::string path = dir.file("keep.xpm");
    write_bytes(path, {'o', 'l', 'd'});
    ImageRec *img = rgb_record(palette_picture(8, 8, 5, 1));
    savefile_fail_commit = true;
    EXPECT_EQ(save(img, path), -1);
    savefile_fail_commit = false;
    EXPECT_EQ(read_bytes(path), (std::vector<unsigned char>{'o', 'l', 'd'}));
    // No temporary file is left beside it.
    int entries = 0;
    if (DIR *d = opendir(dir.path().c_str())) {
        while (dirent *e = readdir(d))
            entries += e->d_name[0] != '.' || (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0);
        closedir(d);
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(save(img, dir.file("no/such/folder.xpm")), -1);
    EXPECT_EQ(save(img, path), 0);
    EXPECT_NE(read_bytes(path).size(), 3u);
    destroy_image(img);
}

TEST_F(Xv, TextsCutBeforeTheirLastStringAreRefusedBeforeLibXpmReadsThem)
{
    // libXpm's parser reads past the end of such buffers; they never reach it.
    const std::string whole = "/* XPM */\nstatic char *a[] = {\n\"2 2 2 1\",\n\"  c red\",\n"
                              "\". c blue\",\n\" .\",\n\". \"\n};\n";
    EXPECT_TRUE(xpm_strings_complete(whole.data(), whole.size()));
    size_t last_quote = whole.rfind('"');
    for (size_t cut = whole.find("\"2 2") + 9; cut <= last_quote; cut++)
        EXPECT_FALSE(xpm_strings_complete(whole.data(), cut)) << "cut at " << cut;
    const std::string plain = "! XPM2\n2 2 2 1\n  c red\n. c blue\n .\n. ";
    EXPECT_TRUE(xpm_strings_complete(plain.data(), plain.size()));
    EXPECT_FALSE(xpm_strings_complete(plain.data(), plain.find(". c")));
}
