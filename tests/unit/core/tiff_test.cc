// The TIFF codec: files written by ImageMagick, libtiff's tools and netpbm
// load with the pixels tiff2rgba (or ImageMagick) reads; what we write reads
// back identically in them; resolution tags; refusals and their
// diagnostics; damaged and hostile files; failing saves.
#include "test_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "formats/savefile.h"
#include "formats/tiff.h"
#include "image/display.h"
#include "image/dither.h"

namespace {

// A baseline little-endian TIFF of one strip, built from its tags.
struct Tag {
    uint16_t tag, type; // type 3 SHORT, 4 LONG, 5 RATIONAL (pairs)
    std::vector<uint32_t> values;
};

std::vector<unsigned char> build_tiff(std::vector<Tag> tags,
                                      const std::vector<unsigned char> &strip)
{
    auto has = [&](uint16_t t) {
        for (const Tag &g : tags)
            if (g.tag == t)
                return true;
        return false;
    };
    if (!has(273) && !has(324))
        tags.push_back({273, 4, {8}});
    if (!has(279) && !has(325))
        tags.push_back({279, 4, {static_cast<uint32_t>(strip.size())}});
    std::sort(tags.begin(), tags.end(), [](const Tag &a, const Tag &b) { return a.tag < b.tag; });
    std::vector<unsigned char> out = {'I', 'I', 42, 0};
    auto put = [&](std::vector<unsigned char> &v, uint32_t x, int n) {
        for (int i = 0; i < n; i++)
            v.push_back(static_cast<unsigned char>(x >> (8 * i)));
    };
    uint32_t ifd = static_cast<uint32_t>(8 + strip.size());
    put(out, ifd, 4);
    out.insert(out.end(), strip.begin(), strip.end());
    std::vector<unsigned char> extra;
    uint32_t extra_at = ifd + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
    put(out, static_cast<uint32_t>(tags.size()), 2);
    for (const Tag &g : tags) {
        int size = g.type == 3 ? 2 : 4;
        uint32_t count = static_cast<uint32_t>(g.type == 5 ? g.values.size() / 2 : g.values.size());
        put(out, g.tag, 2);
        put(out, g.type, 2);
        put(out, count, 4);
        std::vector<unsigned char> bytes;
        for (uint32_t v : g.values)
            put(bytes, v, size);
        if (bytes.size() <= 4) {
            bytes.resize(4, 0);
            out.insert(out.end(), bytes.begin(), bytes.end());
        } else {
            put(out, extra_at + static_cast<uint32_t>(extra.size()), 4);
            extra.insert(extra.end(), bytes.begin(), bytes.end());
        }
    }
    put(out, 0, 4);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

// Tags of a one-strip picture without compression.
std::vector<Tag> basic_tags(uint32_t w, uint32_t h, uint16_t bits, uint16_t samples,
                            uint16_t photometric)
{
    std::vector<uint32_t> b(samples, bits);
    return {{256, 4, {w}},           {257, 4, {h}},       {258, 3, b},  {259, 3, {1}},
            {262, 3, {photometric}}, {277, 3, {samples}}, {278, 4, {h}}};
}

// Reads an uncompressed 8-bit RGB TIFF (what tiff2rgba -n writes).
bool read_rgb_tiff(const std::string &path, Rgb *out)
{
    TIFF *t = TIFFOpen(path.c_str(), "r");
    if (t == nullptr)
        return false;
    uint32_t w = 0, h = 0;
    uint16_t samples = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    bool ok = samples == 3;
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    out->pixels.resize(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; ok && y < h; y++)
        ok = TIFFReadScanline(t, &out->pixels[static_cast<size_t>(y) * w * 3], y, 0) == 1;
    TIFFClose(t);
    return ok;
}

// libtiff's own reading of a file, through tiff2rgba.
bool tiff2rgba_decode(const std::string &path, Rgb *out)
{
    std::string rgb = path + ".rgba.tif";
    return run_command("tiff2rgba -c none -n '" + path + "' '" + rgb + "' 2>/dev/null") == 0 &&
           read_rgb_tiff(rgb, out);
}

// The value of a 16-bit tag of a file, or -1.
int tag16(const std::string &path, ttag_t tag)
{
    TIFF *t = TIFFOpen(path.c_str(), "r");
    if (t == nullptr)
        return -1;
    uint16_t v = 0;
    int r = TIFFGetField(t, tag, &v) == 1 ? v : -1;
    TIFFClose(t);
    return r;
}

bool have_peers()
{
    return run_command(
               "command -v tiffcp tiff2rgba pnmtotiff pamtotiff pgmtopbm ppmtopgm >/dev/null"
               " && test -x /usr/bin/convert") == 0;
}

class Tiff : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensure_program();
        prog->verbose = 0;
    }
    void TearDown() override
    {
        prog->verbose = 0;
        savefile_fail_commit = false;
    }
    ImageRec *load_file(const std::string &path)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[1], nullptr);
        if (tiff_load(img) != 0) {
            EXPECT_EQ(img->orig_image, nullptr);
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    ImageRec *load(const std::vector<unsigned char> &bytes, const std::string &name = "in.tif")
    {
        write_bytes(dir.file(name), bytes);
        return load_file(dir.file(name));
    }
    // Writes a copy of the record's picture the way the save flow does.
    int save(ImageRec *src, int compression, const std::string &path)
    {
        ImageRec *target = init_image(path.c_str(), path.c_str(), 0, &all_types[1], nullptr);
        VelaImage *o = src->orig_image;
        target->orig_image =
            vela_create_copy(o, 0, 0, vela_get_width(o), vela_get_height(o), 0, vela_get_nbands(o));
        copy_image_data(target, src);
        target->depth = retrieve_depth(vela_get_nbands(o), vela_get_datatype(o));
        target->compression = compression;
        target->hres = src->hres;
        target->vres = src->vres;
        target->res_unit = src->res_unit;
        int rc = tiff_save(target);
        destroy_image(target);
        return rc;
    }
    TempDir dir;
};

// One peer-written file: how it is made, the depth it must load at, and
// the bits per sample the tool must have written.
struct PeerFile {
    std::string name, command;
    int depth, bits;
};

// Makes the peers' files once per run from one colour picture of odd size
// (tiles of 16 leave ragged right and bottom edges); returns the list and
// the folder that holds them.
const std::vector<PeerFile> &peer_files(std::string *folder)
{
    static TempDir dir;
    static std::vector<PeerFile> files;
    *folder = dir.path();
    if (!files.empty())
        return files;
    write_ppm(dir.file("pic.ppm"), test_picture(37, 23, 4));
    auto f = [&](const char *name) { return "'" + dir.file(name) + "'"; };
    std::string in = f("pic.ppm"), pgm = f("pic.pgm"), pbm = f("pic.pbm");
    EXPECT_EQ(run_command("ppmtopgm " + in + " > " + pgm + " && pgmtopbm " + pgm + " > " + pbm), 0);
    const std::string C = "/usr/bin/convert ";
    files = {
        {"im_lzw.tif", C + in + " -compress lzw " + f("im_lzw.tif"), 24, 8},
        {"im_none.tif", C + in + " -compress none " + f("im_none.tif"), 24, 8},
        {"im_pal4.tif", C + in + " -colors 12 -type palette " + f("im_pal4.tif"), 8, 4},
        {"im_pal8.tif", C + in + " -colors 100 -type palette -compress lzw " + f("im_pal8.tif"), 8,
         8},
        {"im_pal2.tif", C + in + " -colors 4 -type palette " + f("im_pal2.tif"), 8, 2},
        {"im_pal1.tif", C + pbm + " -type palette " + f("im_pal1.tif"), 8, 1},
        {"im_grey.tif", C + in + " -colorspace gray " + f("im_grey.tif"), 8, 8},
        {"im_grey4.tif", C + in + " -colorspace gray -depth 4 " + f("im_grey4.tif"), 8, 4},
        {"im_bw_black.tif", C + pbm + " " + f("im_bw_black.tif"), 1, 1},
        {"cp_separate.tif",
         "tiffcp -c none -p separate " + f("im_none.tif") + " " + f("cp_separate.tif"), 24, 8},
        {"cp_tiled.tif",
         "tiffcp -c lzw -t -w 16 -l 16 " + f("im_none.tif") + " " + f("cp_tiled.tif"), 24, 8},
        {"cp_tiled_sep.tif",
         "tiffcp -c lzw -p separate -t -w 16 -l 32 " + f("im_none.tif") + " " +
             f("cp_tiled_sep.tif"),
         24, 8},
        {"cp_rows5.tif", "tiffcp -c lzw -r 5 " + f("im_none.tif") + " " + f("cp_rows5.tif"), 24, 8},
        {"cp_bw_tiled.tif",
         "tiffcp -t -w 16 -l 16 " + f("im_bw_black.tif") + " " + f("cp_bw_tiled.tif"), 1, 1},
        {"cp_pal4_tiled.tif",
         "tiffcp -c lzw -t -w 16 -l 16 " + f("im_pal4.tif") + " " + f("cp_pal4_tiled.tif"), 8, 4},
        {"cp_grey4_tiled.tif",
         "tiffcp -t -w 16 -l 16 " + f("im_grey4.tif") + " " + f("cp_grey4_tiled.tif"), 8, 4},
        {"cp_lsb.tif", "tiffcp -f lsb2msb " + f("im_bw_black.tif") + " " + f("cp_lsb.tif"), 1, 1},
        {"nb_white.tif", "pnmtotiff -miniswhite " + pbm + " > " + f("nb_white.tif"), 1, 1},
        {"nb_black.tif", "pnmtotiff -minisblack -lzw " + pbm + " > " + f("nb_black.tif"), 1, 1},
        {"nb_lzw.tif", "pnmtotiff -lzw " + in + " > " + f("nb_lzw.tif"), 24, 8},
        {"nb_pal.tif", "pnmquant 40 " + in + " 2>/dev/null | pnmtotiff -lzw > " + f("nb_pal.tif"),
         8, 8},
        {"nb_grey4.tif", "pnmdepth 15 " + pgm + " | pnmtotiff > " + f("nb_grey4.tif"), 8, 4},
        {"nb_grey_white.tif", "pnmtotiff -miniswhite " + pgm + " > " + f("nb_grey_white.tif"), 8,
         8},
        {"nb_grey4_white.tif",
         "pnmdepth 15 " + pgm + " | pnmtotiff -miniswhite > " + f("nb_grey4_white.tif"), 8, 4},
        {"nb_grey2.tif", "pnmdepth 3 " + pgm + " | pnmtotiff > " + f("nb_grey2.tif"), 8, 2},
        {"pam_rgb.tif", "pamtotiff " + in + " > " + f("pam_rgb.tif"), 24, 8},
        {"pam_grey.tif", "pamtotiff -lzw " + pgm + " > " + f("pam_grey.tif"), 8, 8},
    };
    for (const PeerFile &p : files) {
        EXPECT_EQ(run_command(p.command + " 2>/dev/null"), 0) << p.name;
        EXPECT_EQ(tag16(dir.file(p.name), TIFFTAG_BITSPERSAMPLE), p.bits) << p.name;
    }
    EXPECT_EQ(tag16(dir.file("im_bw_black.tif"), TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(tag16(dir.file("nb_white.tif"), TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(tag16(dir.file("nb_grey_white.tif"), TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(tag16(dir.file("nb_grey4_white.tif"), TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(tag16(dir.file("cp_lsb.tif"), TIFFTAG_FILLORDER), FILLORDER_LSB2MSB);
    return files;
}

} // namespace

TEST(TiffTransfer, PiecesLandWhole)
{
    // Odd-width 4-bit rows give every pixel, the last from a high nibble.
    unsigned char four[] = {0x12, 0x34, 0x50, 0xab, 0xcd, 0xe0};
    unsigned char out[2][5] = {};
    transfer_4bit_cmap({{four, nullptr, nullptr}, 3, 2, 5, 1, 4}, {&out[0][0], 1, 5, false});
    EXPECT_EQ(std::vector<unsigned char>(&out[0][0], &out[0][0] + 10),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 10, 11, 12, 13, 14}));

    // 2- and 3-bit samples unpack to one byte each, across byte borders.
    unsigned char two[] = {0x1b, 0xc0};
    unsigned char px[5] = {};
    transfer_nbit_cmap({{two, nullptr, nullptr}, 2, 1, 5, 1, 2}, {px, 1, 5, false});
    EXPECT_EQ(std::vector<unsigned char>(px, px + 5), (std::vector<unsigned char>{0, 1, 2, 3, 3}));
    unsigned char three[] = {0x05, 0x39, 0x77}; // 000 001 010 011 100 101 110 111
    unsigned char px8[8] = {};
    transfer_nbit_cmap({{three, nullptr, nullptr}, 3, 1, 8, 1, 3}, {px8, 1, 8, false});
    EXPECT_EQ(std::vector<unsigned char>(px8, px8 + 8),
              (std::vector<unsigned char>{0, 1, 2, 3, 4, 5, 6, 7}));

    // 1-bit rows stay packed; black-is-zero rows are inverted; bits past the
    // piece are cleared.
    unsigned char bits[] = {0xf0, 0xff};
    unsigned char packed[2] = {};
    transfer_nbit_cmap({{bits, nullptr, nullptr}, 2, 1, 10, 1, 1}, {packed, 0, 2, true});
    EXPECT_EQ(packed[0], 0x0f);
    EXPECT_EQ(packed[1], 0x00);

    // A fourth (alpha) sample is skipped.
    unsigned char rgba[] = {1, 2, 3, 99, 4, 5, 6, 99};
    unsigned char rgb[6] = {};
    transfer_RGB_contig_8bit({{rgba, nullptr, nullptr}, 8, 1, 2, 4, 8}, {rgb, 3, 6, false});
    EXPECT_EQ(std::vector<unsigned char>(rgb, rgb + 6),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
}

TEST_F(Tiff, PeerFilesLoadWithThePixelsLibtiffReads)
{
    if (!have_peers())
        GTEST_SKIP() << "libtiff tools, netpbm or ImageMagick missing";
    std::string folder;
    for (const PeerFile &p : peer_files(&folder)) {
        std::string path = folder + "/" + p.name;
        Rgb theirs;
        ASSERT_TRUE(tiff2rgba_decode(path, &theirs)) << p.name;
        ImageRec *img = load_file(path);
        ASSERT_NE(img, nullptr) << p.name;
        EXPECT_EQ(img->depth, p.depth) << p.name;
        EXPECT_EQ(record_to_rgb(img).pixels, theirs.pixels) << p.name;
        destroy_image(img);
    }
}

TEST_F(Tiff, OneBitPhotometricsGiveTheSamePicture)
{
    // Row: black, white, white, black; white-is-zero stores 1001, black-is-zero 0110.
    for (uint16_t photometric : {0, 1}) {
        unsigned char row = photometric == 0 ? 0x90 : 0x60;
        ImageRec *img = load(build_tiff(basic_tags(4, 1, 1, 1, photometric), {row}));
        ASSERT_NE(img, nullptr) << photometric;
        EXPECT_EQ(img->depth, 1);
        ASSERT_EQ(img->ncolors, 2);
        EXPECT_EQ(img->red[0], 255); // entry 0 is white: the image holds 1 for black
        EXPECT_EQ(img->red[1], 0);
        Rgb rgb = record_to_rgb(img);
        EXPECT_EQ(rgb.pixels,
                  (std::vector<unsigned char>{0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0}));
        destroy_image(img);
    }
}

TEST_F(Tiff, RgbaShowsItsColourAndIgnoresAlpha)
{
    if (!have_peers())
        GTEST_SKIP() << "ImageMagick missing";
    write_ppm(dir.file("pic.ppm"), test_picture(19, 7, 8));
    std::string rgba = dir.file("rgba.tif");
    ASSERT_EQ(run_command("/usr/bin/convert '" + dir.file("pic.ppm") +
                          "' -alpha set -channel A -fx 'i/w' -compress lzw '" + rgba + "'"),
              0);
    ASSERT_EQ(tag16(rgba, TIFFTAG_SAMPLESPERPIXEL), 4);
    ImageRec *img = load_file(rgba);
    ASSERT_NE(img, nullptr);
    Rgb theirs;
    ASSERT_EQ(run_command("/usr/bin/convert '" + rgba + "' -alpha off -depth 8 ppm:'" +
                          dir.file("rgb.ppm") + "'"),
              0);
    ASSERT_TRUE(read_pnm(dir.file("rgb.ppm"), &theirs));
    EXPECT_EQ(record_to_rgb(img).pixels, theirs.pixels);
    destroy_image(img);
}

TEST_F(Tiff, OurFilesReadBackIdenticallyInThePeers)
{
    if (!have_peers())
        GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    std::string folder;
    peer_files(&folder);
    for (const char *name : {"nb_white.tif", "im_pal8.tif", "im_none.tif"}) {
        ImageRec *img = load_file(folder + "/" + name);
        ASSERT_NE(img, nullptr) << name;
        Rgb before = record_to_rgb(img);
        for (int compression : {COMP_NONE, COMP_LZW}) {
            std::string out = dir.file(std::string("ours_") + std::to_string(compression) + name);
            ASSERT_EQ(save(img, compression, out), 0) << name;
            EXPECT_EQ(tag16(out, TIFFTAG_COMPRESSION), compression == COMP_LZW ? 5 : 1);
            EXPECT_EQ(tag16(out, TIFFTAG_PHOTOMETRIC), img->depth == 1   ? 0
                                                       : img->depth == 8 ? 3
                                                                         : 2);
            Rgb peer;
            ASSERT_TRUE(tiff2rgba_decode(out, &peer)) << name;
            EXPECT_EQ(peer.pixels, before.pixels) << name << " libtiff " << compression;
            ASSERT_TRUE(peer_decode("convert", out, &peer, out)) << name;
            EXPECT_EQ(peer.pixels, before.pixels) << name << " ImageMagick " << compression;
            ImageRec *back = load_file(out);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(back->depth, img->depth);
            EXPECT_EQ(record_to_rgb(back).pixels, before.pixels) << name << " ours " << compression;
            destroy_image(back);
        }
        destroy_image(img);
    }
}

TEST_F(Tiff, SavedColoursDoNotDependOnMemoryOrder)
{
    Rgb pic = test_picture(9, 5, 6);
    std::vector<unsigned char> strip = pic.pixels;
    ImageRec *img = load(build_tiff(basic_tags(9, 5, 8, 3, 2), strip));
    ASSERT_NE(img, nullptr);
    int ps = 0, rs = 0;
    unsigned char *data = retrieve_data(img->orig_image, &ps, &rs);
    swap_red_blue(img, data, ps, rs); // memory now blue first, flag clear
    reimport_image(img->orig_image, 1);
    ASSERT_EQ(img->rgb_order, 0);
    std::vector<unsigned char> memory(data, data + static_cast<size_t>(rs) * 5);
    std::string out = dir.file("bgr.tif");
    ImageRec *target = init_image(out.c_str(), out.c_str(), 0, &all_types[1], nullptr);
    target->orig_image = img->orig_image;
    target->rgb_order = 0;
    ASSERT_EQ(tiff_save(target), 0);
    target->orig_image = nullptr;
    destroy_image(target);
    // The saver leaves the image as it found it.
    data = retrieve_data(img->orig_image, &ps, &rs);
    EXPECT_EQ(std::vector<unsigned char>(data, data + static_cast<size_t>(rs) * 5), memory);
    reimport_image(img->orig_image, 0);
    ImageRec *back = load_file(out);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(record_to_rgb(back).pixels, pic.pixels);
    destroy_image(back);
    destroy_image(img);
}

TEST_F(Tiff, OneBitChildInsideAByteIsSavedFromItsFirstPixel)
{
    // 16 x 2: row 0 alternates, row 1 is 0x0f 0xf0.
    ImageRec *img = load(build_tiff(basic_tags(16, 2, 1, 1, 0), {0xaa, 0xaa, 0x0f, 0xf0}));
    ASSERT_NE(img, nullptr);
    VelaImage *child = vela_create_child(img->orig_image, 3, 0, 10, 2, 0, 1);
    ASSERT_NE(child, nullptr);
    std::string out = dir.file("child.tif");
    ImageRec *target = init_image(out.c_str(), out.c_str(), 0, &all_types[1], nullptr);
    target->orig_image = child;
    ASSERT_EQ(tiff_save(target), 0);
    destroy_image(target);
    ImageRec *back = load_file(out);
    ASSERT_NE(back, nullptr);
    Rgb full = record_to_rgb(img), part = record_to_rgb(back);
    ASSERT_EQ(part.width, 10);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 10; x++)
            EXPECT_EQ(part.pixels[3 * (y * 10 + x)], full.pixels[3 * (y * 16 + x + 3)])
                << x << "," << y;
    destroy_image(back);
    destroy_image(img);
}

TEST_F(Tiff, ResolutionIsReadAndWritten)
{
    std::vector<Tag> tags = basic_tags(2, 2, 8, 1, 1);
    tags.push_back({282, 5, {600, 2}});
    tags.push_back({283, 5, {150, 1}});
    tags.push_back({296, 3, {3}});
    ImageRec *img = load(build_tiff(tags, {0, 1, 2, 3}));
    ASSERT_NE(img, nullptr);
    EXPECT_FLOAT_EQ(img->hres, 300.0f);
    EXPECT_FLOAT_EQ(img->vres, 150.0f);
    EXPECT_EQ(img->res_unit, 3);
    img->hres = 200.0f;
    img->vres = 100.5f;
    img->res_unit = 2;
    std::string out = dir.file("res.tif");
    ASSERT_EQ(save(img, COMP_NONE, out), 0);
    TIFF *t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    float x = 0, y = 0;
    EXPECT_EQ(TIFFGetField(t, TIFFTAG_XRESOLUTION, &x), 1);
    EXPECT_EQ(TIFFGetField(t, TIFFTAG_YRESOLUTION, &y), 1);
    EXPECT_FLOAT_EQ(x, 200.0f);
    EXPECT_FLOAT_EQ(y, 100.5f);
    TIFFClose(t);
    EXPECT_EQ(tag16(out, TIFFTAG_RESOLUTIONUNIT), 2);
    destroy_image(img);

    // Without the tags (or with nonsense in them) the defaults stay.
    tags = basic_tags(2, 2, 8, 1, 1);
    tags.push_back({282, 5, {0, 0}});
    img = load(build_tiff(tags, {0, 1, 2, 3}));
    ASSERT_NE(img, nullptr);
    EXPECT_FLOAT_EQ(img->hres, 72.0f);
    EXPECT_FLOAT_EQ(img->vres, 72.0f);
    EXPECT_EQ(img->res_unit, 2);
    destroy_image(img);
}

TEST_F(Tiff, RefusalsSayWhyOnlyWhenVerbose)
{
    struct Case {
        std::vector<unsigned char> file;
        const char *text;
    } cases[] = {
        {build_tiff(basic_tags(2, 2, 16, 1, 1), std::vector<unsigned char>(8)),
         "tiff.c: 8-bits per sample max permitted\n"},
        {build_tiff(basic_tags(2, 2, 8, 2, 1), std::vector<unsigned char>(8)),
         "tiff.c : 1,3 or 4 chanel images only allowed\n"},
        {build_tiff(basic_tags(2, 2, 8, 4, 5), std::vector<unsigned char>(16)), // CMYK
         "tiff.c: This type of image not supported\n"},
        {build_tiff(basic_tags(2, 2, 4, 3, 2), std::vector<unsigned char>(8)), // 4-bit RGB
         "tiff.c: This type of image not supported\n"},
    };
    for (const Case &c : cases) {
        for (int verbose : {0, 1}) {
            prog->verbose = verbose;
            testing::internal::CaptureStderr();
            EXPECT_EQ(load(c.file), nullptr) << c.text;
            // In verbose runs libtiff's own warnings may come first.
            std::string err = testing::internal::GetCapturedStderr(), text = verbose ? c.text : "";
            EXPECT_TRUE(err.size() >= text.size() &&
                        err.compare(err.size() - text.size(), text.size(), text) == 0 &&
                        (verbose || err.empty()))
                << err;
        }
    }
    // Without a Photometric tag: refused with the same words (libtiff's
    // own complaint comes first, in verbose runs only).
    std::vector<Tag> tags = basic_tags(2, 2, 8, 1, 1);
    tags.erase(tags.begin() + 4);
    for (int verbose : {0, 1}) {
        prog->verbose = verbose;
        testing::internal::CaptureStderr();
        EXPECT_EQ(load(build_tiff(tags, {0, 1, 2, 3})), nullptr);
        std::string err = testing::internal::GetCapturedStderr();
        if (verbose)
            EXPECT_NE(err.find("tiff.c: This type of image not supported\n"), std::string::npos)
                << err;
        else
            EXPECT_EQ(err, "");
    }
}

TEST_F(Tiff, PeerRefusalsSixteenBitAndGreyAlpha)
{
    if (!have_peers())
        GTEST_SKIP() << "ImageMagick missing";
    write_ppm(dir.file("pic.ppm"), test_picture(8, 8, 2));
    std::string p = "'" + dir.file("pic.ppm") + "'";
    ASSERT_EQ(run_command("/usr/bin/convert " + p + " -depth 16 '" + dir.file("16.tif") + "'"), 0);
    ASSERT_EQ(run_command("/usr/bin/convert " + p +
                          " -colorspace gray -alpha set -channel A -fx 'j/h' '" +
                          dir.file("ga.tif") + "'"),
              0);
    prog->verbose = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_file(dir.file("16.tif")), nullptr);
    EXPECT_EQ(load_file(dir.file("ga.tif")), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("tiff.c: 8-bits per sample max permitted\n"), std::string::npos) << err;
    EXPECT_NE(err.find("tiff.c : 1,3 or 4 chanel images only allowed\n"), std::string::npos) << err;
}

TEST_F(Tiff, PaletteOfEightBitValuesIsTakenAsIs)
{
    std::vector<Tag> tags = basic_tags(3, 1, 2, 1, 3);
    // Four entries per colour, values below 256: an 8-bit map.
    tags.push_back({320, 3, {10, 20, 30, 40, 11, 21, 31, 41, 12, 22, 32, 42}});
    ImageRec *img = load(build_tiff(tags, {0x1b})); // 0, 1, 2 (3)
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ncolors, 4);
    EXPECT_EQ(record_to_rgb(img).pixels,
              (std::vector<unsigned char>{10, 11, 12, 20, 21, 22, 30, 31, 32}));
    destroy_image(img);
}

TEST_F(Tiff, LoadsFromMemoryAndThroughZcat)
{
    Rgb pic = test_picture(5, 4, 3);
    std::vector<unsigned char> bytes = build_tiff(basic_tags(5, 4, 8, 3, 2), pic.pixels);
    ImageRec *img = init_image("drop.tif", "drop.tif", static_cast<int>(bytes.size()),
                               &all_types[1], reinterpret_cast<char *>(bytes.data()));
    ASSERT_EQ(tiff_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);

    std::string path = dir.file("pic.tif");
    write_bytes(path, bytes);
    ASSERT_EQ(run_command("compress -f '" + path + "'"), 0);
    std::string z = path + ".Z";
    img = init_image(z.c_str(), z.c_str(), 0, &all_types[1], nullptr);
    img->compression = COMP_UNIX;
    ASSERT_EQ(tiff_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
}

TEST_F(Tiff, DamagedFilesNeverCrashOrHang)
{
    if (!have_peers())
        GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    std::string folder;
    peer_files(&folder);
    unsigned seed = 11;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (const char *name :
         {"cp_rows5.tif", "cp_tiled_sep.tif", "im_pal4.tif", "nb_black.tif", "im_none.tif"}) {
        std::vector<unsigned char> good = read_bytes(folder + "/" + name);
        ASSERT_FALSE(good.empty()) << name;
        std::vector<std::vector<unsigned char>> damaged;
        for (size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 200)
            damaged.emplace_back(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut));
        for (int round = 0; round < 200; round++) {
            std::vector<unsigned char> b = good;
            for (unsigned k = 0, n = 1 + next() % 8; k < n; k++)
                b[next() % b.size()] = static_cast<unsigned char>(next());
            damaged.push_back(std::move(b));
        }
        for (const auto &bytes : damaged) {
            auto start = std::chrono::steady_clock::now();
            ImageRec *img = load(bytes, "damaged.tif");
            double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 1.0) << name;
            if (img != nullptr) {
                EXPECT_LE(static_cast<int64_t>(img->width) * img->height, int64_t{1} << 24) << name;
                destroy_image(img);
            }
        }
    }
}

TEST_F(Tiff, HugeClaimsAreRefusedBeforeAllocating)
{
    std::vector<unsigned char> strip(64, 7);
    std::vector<std::vector<unsigned char>> files;
    files.push_back(build_tiff(basic_tags(65535, 65535, 8, 3, 2), strip));
    files.push_back(build_tiff(basic_tags(65535, 65535, 1, 1, 0), strip));
    std::vector<Tag> lzw = basic_tags(65535, 65535, 8, 1, 1);
    lzw[3].values = {5};
    files.push_back(build_tiff(lzw, strip));
    // A small picture whose tiles or strips claim gigabytes.
    std::vector<Tag> tiles = basic_tags(16, 16, 8, 3, 2);
    tiles.erase(tiles.begin() + 6);
    tiles.push_back({322, 4, {65536}});
    tiles.push_back({323, 4, {65536}});
    tiles.push_back({324, 4, {8}});
    tiles.push_back({325, 4, {64}});
    files.push_back(build_tiff(tiles, strip));
    // Run in a child whose address space cannot take even one such picture:
    // an attempt to allocate would fail there, and the vela library's
    // resource error ends that process.
    for (size_t i = 0; i < files.size(); i++) {
        write_bytes(dir.file("huge.tif"), files[i]);
#if defined(__SANITIZE_ADDRESS__)
        EXPECT_EQ(load_file(dir.file("huge.tif")), nullptr) << i;
#else
        fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            struct rlimit lim;
            getrlimit(RLIMIT_AS, &lim);
            std::ifstream status("/proc/self/status");
            std::string line;
            long long vm_kb = 0;
            while (std::getline(status, line))
                if (line.rfind("VmSize:", 0) == 0)
                    vm_kb = std::atoll(line.c_str() + 7);
            lim.rlim_cur = static_cast<rlim_t>(vm_kb + 256 * 1024) * 1024;
            setrlimit(RLIMIT_AS, &lim);
            ImageRec *img =
                init_image("huge.tif", dir.file("huge.tif").c_str(), 0, &all_types[1], nullptr);
            _exit(tiff_load(img) == -1 && img->orig_image == nullptr ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "file " << i;
#endif
    }
}

TEST_F(Tiff, FailedSaveLeavesTheTargetUntouched)
{
    ImageRec *img = load(build_tiff(basic_tags(3, 2, 8, 1, 1), {0, 50, 100, 150, 200, 250}));
    ASSERT_NE(img, nullptr);
    std::string target = dir.file("keep.tif");
    std::vector<unsigned char> old = {'o', 'l', 'd', '\n'};
    write_bytes(target, old);
    savefile_fail_commit = true;
    EXPECT_EQ(save(img, COMP_LZW, target), -1);
    savefile_fail_commit = false;
    EXPECT_EQ(read_bytes(target), old);
    EXPECT_EQ(run_command("test $(ls -A '" + dir.path() + "' | wc -l) -eq 2"), 0)
        << "a temporary file was left";
    EXPECT_EQ(save(img, COMP_NONE, dir.file("no/such/folder.tif")), -1);
    EXPECT_EQ(save(img, COMP_NONE, target), 0);
    ImageRec *back = load_file(target);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(record_to_rgb(back).pixels, record_to_rgb(img).pixels);
    destroy_image(back);
    destroy_image(img);
}
