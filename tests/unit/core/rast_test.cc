// The Kestrel raster codec: hand-built files at every depth, both byte
// orders and the run-length encoding, round trips, and the peers'
// readings (ImageMagick, netpbm) of our files and ours of theirs.
#include "test_support.h"

#include <cstring>

#include "app/reader.h"
#include "formats/rast.h"
#include "image/display.h"

namespace {

struct RasSpec {
    int width, height, depth, type, maptype;
    std::vector<unsigned char> map;    // planes r..., g..., b...
    std::vector<unsigned char> pixels; // file pixel bytes, lines padded
    bool little_endian = false;
};

void put32(std::vector<unsigned char> &out, uint32_t v, bool le)
{
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<unsigned char>(le ? v >> (8 * i) : v >> (24 - 8 * i)));
}

std::vector<unsigned char> build(const RasSpec &s)
{
    std::vector<unsigned char> out;
    std::vector<unsigned char> data = s.pixels;
    if (s.type == RT_BYTE_ENCODED) {
        data.clear();
        rast_encode(s.pixels.data(), s.pixels.size(), &data);
    }
    uint32_t words[8] = {RAS_MAGIC,
                         static_cast<uint32_t>(s.width),
                         static_cast<uint32_t>(s.height),
                         static_cast<uint32_t>(s.depth),
                         static_cast<uint32_t>(data.size()),
                         static_cast<uint32_t>(s.type),
                         static_cast<uint32_t>(s.maptype),
                         static_cast<uint32_t>(s.map.size())};
    for (uint32_t w : words)
        put32(out, w, s.little_endian);
    out.insert(out.end(), s.map.begin(), s.map.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Returns the file bytes of an RGB picture at depth 24 or 32 in file order.
std::vector<unsigned char> file_pixels(const Rgb &rgb, int depth, int type)
{
    init_pad();
    size_t linelen = static_cast<size_t>(rast_linelen(rgb.width, depth));
    std::vector<unsigned char> out(linelen * rgb.height, 0);
    int step = depth / 8;
    for (int y = 0; y < rgb.height; y++)
        for (int x = 0; x < rgb.width; x++) {
            const unsigned char *p = &rgb.pixels[3 * (static_cast<size_t>(y) * rgb.width + x)];
            unsigned char *o = &out[linelen * y + static_cast<size_t>(x) * step + (depth == 32)];
            bool rgb_order = type == RT_FORMAT_RGB;
            o[0] = rgb_order ? p[0] : p[2];
            o[1] = p[1];
            o[2] = rgb_order ? p[2] : p[0];
        }
    return out;
}

class Rast : public ::testing::Test {
protected:
    void SetUp() override { ensure_program(); }

    // Loads bytes written to a file; nullptr when the load fails.
    ImageRec *load(const std::vector<unsigned char> &bytes, const std::string &name = "in.ras")
    {
        std::string path = dir.file(name);
        write_bytes(path, bytes);
        return load_file(path);
    }
    ImageRec *load_file(const std::string &path)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[0], nullptr);
        if (rast_load(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    // Writes the record's picture as a raster file the way the save flow
    // does: a new record holding a converted copy.
    std::string save(ImageRec *src, int compression, const std::string &name)
    {
        std::string path = dir.file(name);
        ImageRec *target = init_image(path.c_str(), path.c_str(), 0, &all_types[0], nullptr);
        VelaImage *o = src->orig_image;
        target->orig_image = vela_create_copy(o, 0, 0, vela_get_width(o), vela_get_height(o), 0,
                                              vela_get_nbands(o));
        copy_image_data(target, src);
        target->depth = retrieve_depth(vela_get_nbands(o), vela_get_datatype(o));
        target->compression = compression;
        EXPECT_EQ(rast_save(target), 0);
        destroy_image(target);
        return path;
    }
    TempDir dir;
};

} // namespace

TEST(RastLayout, LineLengthsAreEven)
{
    init_pad();
    EXPECT_EQ(rast_linelen(1, 1), 2);
    EXPECT_EQ(rast_linelen(16, 1), 2);
    EXPECT_EQ(rast_linelen(17, 1), 4);
    EXPECT_EQ(rast_linelen(3, 8), 4);
    EXPECT_EQ(rast_linelen(4, 8), 4);
    EXPECT_EQ(rast_linelen(3, 24), 10);
    EXPECT_EQ(rast_linelen(2, 24), 6);
    EXPECT_EQ(rast_linelen(3, 32), 12);
    EXPECT_EQ(rast_imagelen(3, 5, 24), 50);
}

TEST(RastLayout, RunLengthEncoding)
{
    auto enc = [](std::vector<unsigned char> in) {
        std::vector<unsigned char> out;
        rast_encode(in.data(), in.size(), &out);
        return out;
    };
    using V = std::vector<unsigned char>;
    EXPECT_EQ(enc(V(256, 7)), (V{0x80, 0xff, 7}));
    EXPECT_EQ(enc(V(257, 7)), (V{0x80, 0xff, 7, 7}));
    EXPECT_EQ(enc(V(259, 7)), (V{0x80, 0xff, 7, 0x80, 0x02, 7}));
    EXPECT_EQ(enc(V{0x80}), (V{0x80, 0x00}));
    EXPECT_EQ(enc(V{0x80, 0x80}), (V{0x80, 0x01, 0x80}));
    EXPECT_EQ(enc(V{5, 5}), (V{5, 5}));
    EXPECT_EQ(enc(V{5, 5, 5}), (V{0x80, 0x02, 5}));
    EXPECT_EQ(enc(V{1, 2, 0x80, 3}), (V{1, 2, 0x80, 0x00, 3}));

    // Random streams of few values decode back exactly, through memory.
    unsigned seed = 7;
    for (int round = 0; round < 50; round++) {
        V in(1 + round * 37);
        for (unsigned char &b : in) {
            seed = seed * 1664525u + 1013904223u;
            unsigned r = (seed >> 24) % 4;
            b = r == 0 ? 0x80 : static_cast<unsigned char>(r);
        }
        V coded = enc(in);
        ASSERT_EQ(openfile("m", "m", 0, reinterpret_cast<const char *>(coded.data()),
                           static_cast<int>(coded.size())),
                  0);
        V out(in.size());
        ASSERT_TRUE(read_encoded(out.data(), out.size()));
        closefile();
        EXPECT_EQ(out, in);
    }
}

TEST(RastLayout, EncodingMatchesTheRulesOnAnyData)
{
    // The rules one byte at a time, as the format states them.
    auto reference = [](const std::vector<unsigned char> &in) {
        std::vector<unsigned char> out;
        for (size_t i = 0; i < in.size();) {
            size_t run = 1;
            while (i + run < in.size() && in[i + run] == in[i] && run < 256)
                run++;
            unsigned char v = in[i];
            if (v == 0x80 && run == 1)
                out.insert(out.end(), {0x80, 0x00});
            else if (run > 2 || v == 0x80)
                out.insert(out.end(), {0x80, static_cast<unsigned char>(run - 1), v});
            else
                out.insert(out.end(), run, v);
            i += run;
        }
        return out;
    };
    unsigned seed = 11;
    for (int round = 0; round < 200; round++) {
        // Mostly distinct bytes with stretches of repeats and escapes, fed
        // in uneven pieces as lines are.
        std::vector<unsigned char> in(37 + round * 53);
        for (size_t i = 0; i < in.size(); i++) {
            seed = seed * 1103515245u + 12345u;
            unsigned r = seed >> 16;
            in[i] = (r % 13 == 0 && i > 0) ? in[i - 1] : (r % 29 == 0) ? 0x80 : static_cast<unsigned char>(r >> 3);
        }
        RleEncoder enc(10);
        for (size_t at = 0; at < in.size();) {
            size_t piece = std::min(in.size() - at, static_cast<size_t>(1 + (seed >> 20) % 40));
            enc.feed(in.data() + at, piece);
            at += piece;
        }
        enc.finish();
        EXPECT_EQ(std::vector<unsigned char>(enc.data(), enc.data() + enc.size()), reference(in))
            << "round " << round;
    }
}

TEST_F(Rast, OneBitLinesArePaddedToWords)
{
    // 13 pixels: 2 bytes a line.  Row 0 alternates, row 1 is all black.
    RasSpec s{13, 2, 1, RT_STANDARD, RMT_NONE, {}, {0xaa, 0xa8, 0xff, 0xf8}};
    ImageRec *img = load(build(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->depth, 1);
    EXPECT_EQ(vela_get_datatype(img->orig_image), VELA_BIT);
    Rgb rgb = record_to_rgb(img);
    for (int x = 0; x < 13; x++) {
        EXPECT_EQ(rgb.pixels[3 * x], x % 2 == 0 ? 0 : 255) << x;
        EXPECT_EQ(rgb.pixels[3 * (13 + x)], 0) << x;
    }
    destroy_image(img);
}

TEST_F(Rast, EightBitWithAndWithoutColormap)
{
    // 3 pixels a line, padded to 4 bytes.
    RasSpec s{3, 2, 8, RT_STANDARD, RMT_EQUAL_RGB, {10, 20, 30, 11, 21, 31, 12, 22, 32},
              {0, 1, 2, 0, 0, 2, 1, 0}};
    ImageRec *img = load(build(s));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ncolors, 3);
    Rgb rgb = record_to_rgb(img);
    EXPECT_EQ((std::vector<unsigned char>(rgb.pixels.begin(), rgb.pixels.begin() + 9)),
              (std::vector<unsigned char>{10, 11, 12, 20, 21, 22, 30, 31, 32}));
    EXPECT_EQ(rgb.pixels[3 * 4], 30);
    destroy_image(img);

    // Without a colormap the picture is shown with a 256-level grey ramp.
    RasSpec g{3, 1, 8, RT_STANDARD, RMT_NONE, {}, {0, 128, 255, 0}};
    img = load(build(g));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ncolors, 256);
    rgb = record_to_rgb(img);
    EXPECT_EQ(rgb.pixels, (std::vector<unsigned char>{0, 0, 0, 128, 128, 128, 255, 255, 255}));
    destroy_image(img);
}

TEST_F(Rast, TrueColourOrdersAndDepths)
{
    Rgb pic = test_picture(5, 3);
    struct Case {
        int depth, type;
        bool little_endian;
        int rgb_order;
    } cases[] = {
        {24, RT_STANDARD, false, 0}, {24, RT_FORMAT_RGB, false, 1}, {24, RT_OLD, true, 0},
        {32, RT_STANDARD, false, 0}, {32, RT_FORMAT_RGB, true, 1},  {24, RT_BYTE_ENCODED, false, 0},
        {32, RT_BYTE_ENCODED, true, 0},
    };
    for (const Case &c : cases) {
        // Encoded data is in blue-green-red order like standard data.
        int order_type = c.type == RT_BYTE_ENCODED ? RT_STANDARD : c.type;
        RasSpec s{5, 3, c.depth, c.type, RMT_NONE, {}, file_pixels(pic, c.depth, order_type),
                  c.little_endian};
        ImageRec *img = load(build(s));
        ASSERT_NE(img, nullptr) << c.depth << " " << c.type;
        EXPECT_EQ(img->depth, 24);
        EXPECT_EQ(img->rgb_order, c.rgb_order);
        EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels) << c.depth << " " << c.type;
        destroy_image(img);
    }
}

TEST_F(Rast, SaveRoundTripsExactly)
{
    Rgb pic = test_picture(7, 5, 3);
    RasSpec colour{7, 5, 24, RT_FORMAT_RGB, RMT_NONE, {}, file_pixels(pic, 24, RT_FORMAT_RGB)};
    std::vector<unsigned char> pal_pixels;
    for (int i = 0; i < 5 * 8; i++)
        pal_pixels.push_back(static_cast<unsigned char>(i % 7 < 7 ? (i * 3) % 4 : 0));
    RasSpec palette{7, 5, 8, RT_STANDARD, RMT_EQUAL_RGB,
                    {0, 255, 9, 40, 0, 255, 9, 50, 0, 0, 99, 60}, pal_pixels};
    RasSpec bits{9, 4, 1, RT_STANDARD, RMT_NONE, {}, {0xf0, 0x80, 0x0f, 0x00, 0x55, 0x80, 0xaa, 0x00}};
    for (const RasSpec *s : {&colour, &palette, &bits}) {
        ImageRec *img = load(build(*s));
        ASSERT_NE(img, nullptr);
        Rgb before = record_to_rgb(img);
        for (int compression : {COMP_NONE, COMP_ENCODED}) {
            std::string path = save(img, compression, "out" + std::to_string(compression) + ".ras");
            std::vector<unsigned char> bytes = read_bytes(path);
            ASSERT_GE(bytes.size(), 32u);
            EXPECT_EQ(bytes[23], compression == COMP_ENCODED ? RT_BYTE_ENCODED : RT_STANDARD);
            ImageRec *back = load_file(path);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(record_to_rgb(back).pixels, before.pixels) << s->depth << " " << compression;
            EXPECT_EQ(back->depth, s->depth);
            destroy_image(back);
        }
        destroy_image(img);
    }
}

TEST_F(Rast, PeersReadOurFilesAndWeReadTheirs)
{
    if (run_command("command -v rasttopnm pnmtorast >/dev/null && test -x /usr/bin/convert") != 0)
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    Rgb pic = test_picture(33, 17, 9);
    std::string ppm = dir.file("pic.ppm");
    write_ppm(ppm, pic);

    // Theirs: ImageMagick's 24-bit file, netpbm's plain and encoded files
    // at 24 bits and with a colormap.
    run_command("/usr/bin/convert '" + ppm + "' ras:'" + dir.file("im.ras") + "'");
    run_command("pnmtorast -standard < '" + ppm + "' > '" + dir.file("std.ras") + "' 2>/dev/null");
    run_command("pnmtorast -rle < '" + ppm + "' > '" + dir.file("rle.ras") + "' 2>/dev/null");
    run_command("pnmquant 12 '" + ppm + "' 2>/dev/null | pnmtorast -rle > '" + dir.file("pal.ras") +
                "' 2>/dev/null");
    run_command("ppmtopgm '" + ppm + "' | pgmtopbm 2>/dev/null | pnmtorast > '" +
                dir.file("bit.ras") + "' 2>/dev/null");
    for (const char *name : {"im.ras", "std.ras", "rle.ras", "pal.ras", "bit.ras"}) {
        Rgb theirs;
        ASSERT_TRUE(peer_decode("rasttopnm", dir.file(name), &theirs, dir.file(name))) << name;
        ImageRec *img = load_file(dir.file(name));
        ASSERT_NE(img, nullptr) << name;
        Rgb ours = record_to_rgb(img);
        EXPECT_EQ(ours.pixels, theirs.pixels) << name;

        // Ours: read back by netpbm in both encodings, and by ImageMagick
        // in the standard one.  ImageMagick misreads encoded files: it takes
        // encoded 24-bit data for red-green-blue, and drops the end of the
        // last line of odd-width 8-bit ones (netpbm's own files included).
        for (int compression : {COMP_NONE, COMP_ENCODED}) {
            std::string out = save(img, compression, std::string("ours_") + name);
            Rgb peer;
            ASSERT_TRUE(peer_decode("rasttopnm", out, &peer, out)) << name;
            EXPECT_EQ(peer.pixels, ours.pixels) << name << " netpbm " << compression;
            if (compression == COMP_ENCODED)
                continue;
            ASSERT_TRUE(peer_decode("convert", out, &peer, out)) << name;
            EXPECT_EQ(peer.pixels, ours.pixels) << name << " ImageMagick " << compression;
        }
        destroy_image(img);
    }
}

TEST_F(Rast, DamagedFilesFailCleanly)
{
    Rgb pic = test_picture(6, 4, 5);
    RasSpec s{6, 4, 24, RT_STANDARD, RMT_NONE, {}, file_pixels(pic, 24, RT_STANDARD)};
    std::vector<unsigned char> good = build(s);
    s.type = RT_BYTE_ENCODED;
    std::vector<unsigned char> encoded = build(s);
    for (const auto *bytes : {&good, &encoded})
        for (size_t cut = 0; cut < bytes->size(); cut++) {
            ImageRec *img = load(std::vector<unsigned char>(bytes->begin(), bytes->begin() + cut));
            EXPECT_EQ(img, nullptr) << "cut at " << cut;
            destroy_image(img);
        }

    // A header that claims a huge picture is refused before any allocation.
    RasSpec huge{65535, 65535, 24, RT_STANDARD, RMT_NONE, {}, std::vector<unsigned char>(64, 1)};
    EXPECT_EQ(load(build(huge)), nullptr);
    huge.type = RT_BYTE_ENCODED;
    EXPECT_EQ(load(build(huge)), nullptr);
    RasSpec bad_depth{2, 2, 16, RT_STANDARD, RMT_NONE, {}, std::vector<unsigned char>(8, 1)};
    EXPECT_EQ(load(build(bad_depth)), nullptr);
    RasSpec bad_type{2, 2, 8, 7, RMT_NONE, {}, std::vector<unsigned char>(8, 1)};
    EXPECT_EQ(load(build(bad_type)), nullptr);
    std::vector<unsigned char> not_raster(64, 0x42);
    EXPECT_EQ(load(not_raster), nullptr);
}

TEST_F(Rast, LoadsFromMemoryAndThroughZcat)
{
    Rgb pic = test_picture(4, 4, 2);
    RasSpec s{4, 4, 24, RT_STANDARD, RMT_NONE, {}, file_pixels(pic, 24, RT_STANDARD)};
    std::vector<unsigned char> bytes = build(s);

    ImageRec *img = init_image("drop.ras", "drop.ras", static_cast<int>(bytes.size()), &all_types[0],
                               reinterpret_cast<char *>(bytes.data()));
    ASSERT_EQ(rast_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);

    std::string path = dir.file("pic.ras");
    write_bytes(path, bytes);
    ASSERT_EQ(run_command("compress -f '" + path + "'"), 0);
    std::string z = path + ".Z";
    img = init_image(z.c_str(), z.c_str(), 0, &all_types[0], nullptr);
    img->compression = COMP_UNIX;
    ASSERT_EQ(rast_load(img), 0);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
}
