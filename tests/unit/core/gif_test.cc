// The GIF codec: files ImageMagick and netpbm write load with the pixels
// they read; files we write read back identically in both; the exact
// layout of our files; hand-built LZW streams for the decoder's corner
// cases; damaged and hostile input; failing saves.
#include "test_support.h"

#include <cstring>

#include "formats/gif.h"
#include "formats/savefile.h"
#include "image/display.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes &out, int v)
{
    out.push_back(static_cast<unsigned char>(v & 0xff));
    out.push_back(static_cast<unsigned char>((v >> 8) & 0xff));
}

// Packs LZW codes low bits first, with the widths a GIF decoder reads them
// at: root + 1 bits after a clear, one more each time the entry just
// added is the last one of the current width, never above 12 bits.
Bytes lzw_pack(int root, const std::vector<int> &codes)
{
    const int clear = 1 << root;
    int width = root + 1, next_entry = clear + 2;
    bool first = true;
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (int code : codes) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<unsigned char>(acc & 0xff));
            acc >>= 8;
            bits -= 8;
        }
        if (code == clear) {
            width = root + 1;
            next_entry = clear + 2;
            first = true;
            continue;
        }
        if (!first && next_entry < 4096) {
            if (next_entry == (1 << width) - 1 && width < 12)
                width++;
            next_entry++;
        }
        first = false;
    }
    if (bits > 0)
        out.push_back(static_cast<unsigned char>(acc & 0xff));
    return out;
}

// Cuts data into data blocks of at most block bytes, with the zero block.
Bytes blocks(const Bytes &data, size_t block = 255)
{
    Bytes out;
    for (size_t i = 0; i < data.size(); i += block) {
        size_t n = std::min(block, data.size() - i);
        out.push_back(static_cast<unsigned char>(n));
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(i),
                   data.begin() + static_cast<ptrdiff_t>(i + n));
    }
    out.push_back(0);
    return out;
}

// One image of a hand-built file.
struct GifImage {
    int left = 0, top = 0, width = 1, height = 1;
    bool interlace = false;
    Bytes local_map = {};       // r, g, b triples; a power of two of them
    int root = 2;
    std::vector<int> codes = {};
};

// A hand-built file: header, optional global map, extensions, images.
struct GifFile {
    const char *signature = "GIF89a";
    int width = 1, height = 1;
    Bytes global_map = {};
    int aspect = 0;
    std::vector<Bytes> extensions = {}; // label and blocks, after "!"
    std::vector<GifImage> images = {};
    bool trailer = true;
};

int map_bits(const Bytes &map)
{
    int n = static_cast<int>(map.size() / 3), bits = 1;
    while ((1 << bits) < n)
        bits++;
    return bits;
}

Bytes build(const GifFile &f)
{
    Bytes out(f.signature, f.signature + 6);
    put16(out, f.width);
    put16(out, f.height);
    out.push_back(static_cast<unsigned char>(
        f.global_map.empty() ? 0x70 : 0xf0 | (map_bits(f.global_map) - 1)));
    out.push_back(0);
    out.push_back(static_cast<unsigned char>(f.aspect));
    out.insert(out.end(), f.global_map.begin(), f.global_map.end());
    for (const Bytes &e : f.extensions) {
        out.push_back('!');
        out.insert(out.end(), e.begin(), e.end());
    }
    for (const GifImage &im : f.images) {
        out.push_back(',');
        put16(out, im.left);
        put16(out, im.top);
        put16(out, im.width);
        put16(out, im.height);
        int flags = im.interlace ? 0x40 : 0;
        if (!im.local_map.empty())
            flags |= 0x80 | (map_bits(im.local_map) - 1);
        out.push_back(static_cast<unsigned char>(flags));
        out.insert(out.end(), im.local_map.begin(), im.local_map.end());
        out.push_back(static_cast<unsigned char>(im.root));
        Bytes data = blocks(lzw_pack(im.root, im.codes));
        out.insert(out.end(), data.begin(), data.end());
    }
    if (f.trailer)
        out.push_back(';');
    return out;
}

// A 4-entry map: index i is (10 i, 20 i, 30 i).
Bytes ramp_map(int n = 4)
{
    Bytes m;
    for (int i = 0; i < n; i++) {
        m.push_back(static_cast<unsigned char>(10 * i));
        m.push_back(static_cast<unsigned char>(20 * i));
        m.push_back(static_cast<unsigned char>(30 * i));
    }
    return m;
}

// Returns the record's pixel indices, row by row, width bytes each.
Bytes record_indices(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    int w = vela_get_width(img), h = vela_get_height(img);
    VelaMemoryStorage s;
    vela_export(img);
    vela_get_memory_storage(img, &s);
    Bytes out;
    for (int y = 0; y < h; y++)
        out.insert(out.end(), s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row,
                   s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row + w);
    vela_import(img, 0);
    return out;
}

// Returns the offset of the first image descriptor's ',' in a file, past
// the global map and any extensions.
size_t descriptor_offset(const Bytes &g)
{
    size_t p = 13 + ((g[10] & 0x80) ? 3u << ((g[10] & 7) + 1) : 0);
    while (p < g.size() && g[p] == '!') {
        p += 2;
        while (p < g.size() && g[p] != 0)
            p += g[p] + 1u;
        p++;
    }
    return p;
}

class Gif : public ::testing::Test {
protected:
    void SetUp() override { ensure_program(); }

    // Loads bytes through a file; nullptr when the load fails.
    ImageRec *load(const Bytes &bytes, const std::string &name = "in.gif")
    {
        std::string path = dir.file(name);
        write_bytes(path, bytes);
        return load_file(path);
    }
    ImageRec *load_file(const std::string &path)
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_GIF], nullptr);
        if (gif_load(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    // Returns a new 8-bit record holding the indices and the colormap
    // (ncolors entries of map, r g b each).
    ImageRec *make_record(int width, int height, const Bytes &indices, const Bytes &map,
                          const std::string &name)
    {
        std::string path = dir.file(name);
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_GIF], nullptr);
        img->width = width;
        img->height = height;
        img->depth = 8;
        int ps = 0, rs = 0;
        unsigned char *data = create_data(img, &ps, &rs);
        EXPECT_NE(data, nullptr);
        for (int y = 0; y < height; y++)
            std::memcpy(data + static_cast<ptrdiff_t>(y) * rs, &indices[static_cast<size_t>(y) * width],
                        static_cast<size_t>(width));
        vela_import(img->orig_image, 1);
        img->ncolors = static_cast<int>(map.size() / 3);
        img->red = static_cast<unsigned char *>(std::malloc(256));
        img->green = static_cast<unsigned char *>(std::malloc(256));
        img->blue = static_cast<unsigned char *>(std::malloc(256));
        for (int i = 0; i < img->ncolors; i++) {
            img->red[i] = map[3 * i];
            img->green[i] = map[3 * i + 1];
            img->blue[i] = map[3 * i + 2];
        }
        return img;
    }
    bool have_peers()
    {
        return run_command("command -v giftopnm pamtogif ppmtogif ppmtoppm >/dev/null && "
                           "test -x /usr/bin/convert") == 0;
    }
    TempDir dir;
};

} // namespace

TEST_F(Gif, PeerFilesLoadWithThePixelsPeersRead)
{
    if (!have_peers())
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    std::string ppm = dir.file("pic.ppm"), ppm2 = dir.file("pic2.ppm");
    ASSERT_EQ(run_command("/usr/bin/convert -size 61x37 plasma:fractal -seed 3 -colors 200 '" +
                          ppm + "' 2>/dev/null"),
              0);
    write_ppm(ppm2, test_picture(61, 37, 4));
    auto im = [&](const std::string &args, const std::string &out) {
        return run_command("/usr/bin/convert " + args + " " + out + " 2>/dev/null");
    };
    auto sh = [&](const std::string &cmd) { return run_command("(" + cmd + ") 2>/dev/null"); };
    std::string q = "'" + ppm + "'";
    auto at = [&](const std::string &name) { return "'" + dir.file(name) + "'"; };
    ASSERT_EQ(im(q, at("gif89.gif")), 0);
    ASSERT_EQ(im(q, "gif87:" + at("gif87.gif")), 0);
    ASSERT_EQ(im(q + " -interlace GIF", at("interlaced.gif")), 0);
    ASSERT_EQ(im(q + " -colors 2", at("two.gif")), 0);
    // A graphic control extension making the top left pixel's colour
    // transparent.
    ASSERT_EQ(sh("c=$(/usr/bin/convert " + q + " -colors 5 -format '%[pixel:p{0,0}]' info:) && "
                 "/usr/bin/convert " + q + " -colors 5 -transparent \"$c\" " + at("transparent.gif")),
              0);
    ASSERT_EQ(im(q + " '" + ppm2 + "' -colors 64 -delay 10 -loop 0", at("frames.gif")), 0);
    ASSERT_EQ(im("'" + ppm2 + "' -colors 32 " + q + " +map", at("localmaps.gif")), 0);
    ASSERT_EQ(sh("pamtogif " + q + " > '" + dir.file("pamtogif.gif") + "'"), 0);
    ASSERT_EQ(sh("pamtogif -interlace " + q + " > '" + dir.file("pamtogif_i.gif") + "'"), 0);
    ASSERT_EQ(sh("ppmtogif " + q + " > '" + dir.file("ppmtogif.gif") + "'"), 0);
    ASSERT_EQ(sh("ppmtopgm " + q + " | pnmquant 16 | pamtogif > '" + dir.file("grey.gif") + "'"), 0);
    ASSERT_EQ(sh("ppmtopgm " + q + " | pgmtopbm | pamtogif > '" + dir.file("bits.gif") + "'"), 0);

    // A local colormap on the first image: move netpbm's global map into
    // the image descriptor.
    Bytes g = read_bytes(dir.file("pamtogif.gif"));
    ASSERT_TRUE(g.size() > 13 && (g[10] & 0x80));
    size_t map_len = 3u << ((g[10] & 7) + 1);
    Bytes local(g.begin(), g.begin() + 13);
    local[10] &= 0x7f;
    size_t p = descriptor_offset(g);
    local.insert(local.end(), g.begin() + 13 + static_cast<ptrdiff_t>(map_len),
                 g.begin() + static_cast<ptrdiff_t>(p));
    local.insert(local.end(), g.begin() + static_cast<ptrdiff_t>(p),
                 g.begin() + static_cast<ptrdiff_t>(p + 10));
    local.back() = static_cast<unsigned char>((g[p + 9] & 0x40) | 0x80 | (g[10] & 7));
    local.insert(local.end(), g.begin() + 13, g.begin() + 13 + static_cast<ptrdiff_t>(map_len));
    local.insert(local.end(), g.begin() + static_cast<ptrdiff_t>(p + 10), g.end());
    write_bytes(dir.file("local.gif"), local);

    for (const char *name : {"gif89.gif", "gif87.gif", "interlaced.gif", "two.gif",
                             "transparent.gif", "frames.gif", "localmaps.gif", "pamtogif.gif",
                             "pamtogif_i.gif", "ppmtogif.gif", "grey.gif", "bits.gif",
                             "local.gif"}) {
        std::string path = dir.file(name);
        Rgb magick, netpbm;
        ASSERT_TRUE(peer_decode("convert", path + "[0]", &magick, path + ".im")) << name;
        ASSERT_TRUE(peer_decode("giftopnm", path, &netpbm, path + ".nb")) << name;
        ImageRec *img = load_file(path);
        ASSERT_NE(img, nullptr) << name;
        EXPECT_EQ(img->depth, 8);
        Rgb ours = record_to_rgb(img);
        EXPECT_EQ(ours.width, magick.width) << name;
        EXPECT_EQ(ours.height, magick.height) << name;
        EXPECT_EQ(ours.pixels, magick.pixels) << name << " ImageMagick";
        EXPECT_EQ(ours.pixels, netpbm.pixels) << name << " netpbm";
        destroy_image(img);
    }
    EXPECT_EQ(read_bytes(dir.file("gif87.gif"))[4], '7');
    Bytes interlaced = read_bytes(dir.file("interlaced.gif"));
    EXPECT_NE(interlaced[descriptor_offset(interlaced) + 9] & 0x40, 0);
}

TEST_F(Gif, PeersReadOurFilesIdentically)
{
    if (!have_peers())
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    struct Case {
        int width, height, ncolors;
        bool smooth;
    } cases[] = {
        {1, 1, 1, false},    {3, 2, 3, false},    {17, 9, 16, true},   {64, 48, 200, true},
        {512, 512, 256, false}, // random: far more than 4096 codes, clear codes at every reset
        {300, 200, 256, true},
    };
    unsigned seed = 11;
    auto rnd = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (const Case &c : cases) {
        Bytes map, indices;
        for (int i = 0; i < c.ncolors * 3; i++)
            map.push_back(static_cast<unsigned char>(rnd()));
        for (int y = 0; y < c.height; y++)
            for (int x = 0; x < c.width; x++)
                indices.push_back(static_cast<unsigned char>(
                    c.smooth ? ((x / 3 + y / 2) % c.ncolors) : rnd() % c.ncolors));
        std::string name = "ours" + std::to_string(c.width) + ".gif";
        ImageRec *img = make_record(c.width, c.height, indices, map, name);
        Rgb want = record_to_rgb(img);
        ASSERT_EQ(gif_save(img), 0);
        destroy_image(img);

        std::string path = dir.file(name);
        Rgb magick, netpbm;
        ASSERT_TRUE(peer_decode("convert", path, &magick, path + ".im")) << name;
        ASSERT_TRUE(peer_decode("giftopnm", path, &netpbm, path + ".nb")) << name;
        EXPECT_EQ(magick.pixels, want.pixels) << name << " ImageMagick";
        EXPECT_EQ(netpbm.pixels, want.pixels) << name << " netpbm";
        ImageRec *back = load_file(path);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(record_indices(back), indices) << name;
        EXPECT_EQ(back->ncolors, 256);
        destroy_image(back);
    }
}

TEST_F(Gif, OurFileLayout)
{
    // 8 bits: 256-entry map, the colours past the record's black.
    Bytes map = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes indices(700 * 3);
    unsigned seed = 3;
    for (unsigned char &v : indices) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<unsigned char>(seed >> 24);
    }
    ImageRec *img = make_record(700, 3, indices, map, "layout.gif");
    ASSERT_EQ(gif_save(img), 0);
    destroy_image(img);
    Bytes f = read_bytes(dir.file("layout.gif"));
    ASSERT_GT(f.size(), 13u + 768 + 11);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF87a");
    // The flags: a global map, (b - 1) shifted by 5 as the colour
    // resolution, b - 1 as the size.
    EXPECT_EQ((Bytes(f.begin() + 6, f.begin() + 13)), (Bytes{0xbc, 0x02, 3, 0, 0xe7, 0, 0}));
    EXPECT_EQ((Bytes(f.begin() + 13, f.begin() + 22)), map);
    EXPECT_EQ(Bytes(f.begin() + 22, f.begin() + 13 + 768), Bytes(768 - 9, 0));
    EXPECT_EQ((Bytes(f.begin() + 781, f.begin() + 792)),
              (Bytes{',', 0, 0, 0, 0, 0xbc, 0x02, 3, 0, 0x00, 8}));
    // Data blocks of 254 bytes, a shorter last one, the zero block, ';'.
    size_t p = 792;
    std::vector<int> sizes;
    while (p < f.size() && f[p] != 0) {
        sizes.push_back(f[p]);
        p += f[p] + 1u;
    }
    ASSERT_GE(sizes.size(), 2u);
    for (size_t i = 0; i + 1 < sizes.size(); i++)
        EXPECT_EQ(sizes[i], 254);
    EXPECT_LE(sizes.back(), 254);
    EXPECT_EQ(p + 2, f.size());
    EXPECT_EQ(f[p + 1], ';');

    // 1 bit: a 2-entry map (white and black without colours), code size 2.
    std::string bits_path = dir.file("bits.gif");
    ImageRec *bits = init_image(bits_path.c_str(), bits_path.c_str(), 0, &all_types[FMT_GIF],
                                nullptr);
    bits->width = 10;
    bits->height = 2;
    bits->depth = 1;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(bits, &ps, &rs);
    ASSERT_NE(data, nullptr);
    data[0] = 0xa5;
    data[1] = 0x40;
    data[rs] = 0xff;
    data[rs + 1] = 0xc0;
    vela_import(bits->orig_image, 1);
    Rgb want = record_to_rgb(bits);
    ASSERT_EQ(gif_save(bits), 0);
    destroy_image(bits);
    f = read_bytes(dir.file("bits.gif"));
    ASSERT_GT(f.size(), 30u);
    EXPECT_EQ(f[10], 0x80);
    EXPECT_EQ((Bytes(f.begin() + 13, f.begin() + 19)), (Bytes{255, 255, 255, 0, 0, 0}));
    EXPECT_EQ(f[19], ',');
    EXPECT_EQ(f[29], 2);
    ImageRec *back = load_file(dir.file("bits.gif"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(record_to_rgb(back).pixels, want.pixels);
    destroy_image(back);
}

TEST_F(Gif, InterlacedEncodingVisitsEveryRowOnce)
{
    // Every height up to 17 (passes that hold no row included).
    for (int height = 1; height <= 17; height++) {
        Bytes indices;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < 3; x++)
                indices.push_back(static_cast<unsigned char>(y * 3 + x));
        unsigned char map[256];
        for (int i = 0; i < 256; i++)
            map[i] = static_cast<unsigned char>(i);
        std::string path = dir.file("inter.gif");
        FILE *fp = std::fopen(path.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        ASSERT_EQ(GIFEncode(fp, 3, height, 1, 0, 8, map, map, map, indices.data(), 3), 0);
        std::fclose(fp);
        Bytes f = read_bytes(path);
        EXPECT_EQ(f[13 + 768 + 9], 0x40);
        ImageRec *img = load_file(path);
        ASSERT_NE(img, nullptr) << height;
        EXPECT_EQ(record_indices(img), indices) << height;
        destroy_image(img);
        if (have_peers()) {
            Rgb netpbm;
            ASSERT_TRUE(peer_decode("giftopnm", path, &netpbm, path));
            for (size_t i = 0; i < indices.size(); i++)
                ASSERT_EQ(netpbm.pixels[3 * i], indices[i]) << height << " " << i;
        }
    }
}

TEST_F(Gif, HeaderChecks)
{
    GifImage one{.width = 2, .height = 1, .root = 2, .codes = {4, 1, 2, 5}};
    GifFile f{.width = 2, .height = 1, .global_map = ramp_map(), .images = {one}};
    ImageRec *img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), (Bytes{1, 2}));
    destroy_image(img);

    // A non-zero aspect byte is refused, in GIF89a files too.
    f.aspect = 49;
    EXPECT_EQ(load(build(f)), nullptr);
    f.aspect = 0;

    // Signatures other than the two versions.
    f.signature = "GIF88a";
    EXPECT_EQ(load(build(f)), nullptr);
    f.signature = "GIF87a";
    img = load(build(f));
    EXPECT_NE(img, nullptr);
    destroy_image(img);

    // The trailer before any image loads nothing.
    GifFile empty{.global_map = ramp_map()};
    EXPECT_EQ(load(build(empty)), nullptr);

    // Extensions are skipped; an unknown introducer ends the file.
    f.extensions = {{0xf9, 4, 1, 0, 0, 3, 0}, {0xfe, 3, 'a', 'b', 'c', 2, 'd', 'e', 0}};
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), (Bytes{1, 2}));
    destroy_image(img);
    Bytes bad = build(f);
    bad[13 + 12] = 'x';
    EXPECT_EQ(load(bad), nullptr);

    // A minimum code size that pixels of one byte cannot take.
    f.extensions.clear();
    Bytes wide = build(f);
    wide[13 + 12 + 10] = 9;
    EXPECT_EQ(load(wide), nullptr);
}

TEST_F(Gif, FirstImageOnlyAndItsColormap)
{
    // The first image's size, not the screen's; its offsets play no part;
    // its local map wins over the global one.
    GifImage first{.left = 5, .top = 7, .width = 3, .height = 2, .local_map = ramp_map(8),
                   .root = 3, .codes = {8, 7, 6, 5, 4, 3, 2, 9}};
    GifImage second{.width = 4, .height = 4, .root = 2, .codes = {4, 0, 0, 0, 5}};
    GifFile f{.width = 20, .height = 20, .global_map = ramp_map(2), .images = {first, second}};
    ImageRec *img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 3);
    EXPECT_EQ(img->height, 2);
    EXPECT_EQ(img->ncolors, 8);
    EXPECT_EQ(record_indices(img), (Bytes{7, 6, 5, 4, 3, 2}));
    EXPECT_EQ(record_to_rgb(img).pixels[0], 70);
    destroy_image(img);

    // Without any map: 0 colours.
    f.global_map.clear();
    f.images = {second};
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ncolors, 0);
    EXPECT_EQ(img->width, 4);
    destroy_image(img);

    // The global map when the image has none.
    f.global_map = ramp_map(4);
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ncolors, 4);
    destroy_image(img);
}

TEST_F(Gif, InterlacedRowOrder)
{
    // Row r holds the value r; the stream sends rows 0, 8, 4, 2, 6, 1, 3,
    // 5, 7, 9.
    std::vector<int> codes = {16};
    for (int r : {0, 8, 4, 2, 6, 1, 3, 5, 7, 9})
        codes.push_back(r);
    codes.push_back(17);
    GifImage im{.width = 1, .height = 10, .interlace = true, .root = 4, .codes = codes};
    GifFile f{.width = 1, .height = 10, .global_map = ramp_map(16), .images = {im}};
    ImageRec *img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    destroy_image(img);
}

TEST_F(Gif, CodesNotYetInTheTable)
{
    // Root 2: clear 4, end 5, entries from 6.  "1", then 6 before it
    // exists ("1" + "1"), then 7 likewise ("11" + "1").
    GifImage ones{.width = 3, .height = 2, .root = 2, .codes = {4, 1, 6, 7, 5}};
    GifFile f{.width = 3, .height = 2, .global_map = ramp_map(), .images = {ones}};
    ImageRec *img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), Bytes(6, 1));
    destroy_image(img);

    // After a longer string: 0, 1, 6 = "01" (adds 7 = "10"), 8 = "01" + "0".
    GifImage mixed{.width = 7, .height = 1, .root = 2, .codes = {4, 0, 1, 6, 8, 5}};
    f.images = {mixed};
    f.width = 7;
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), (Bytes{0, 1, 0, 1, 0, 1, 0}));
    destroy_image(img);

    // The same across a row end: the string's rest starts the next row.
    GifImage split{.width = 2, .height = 4, .root = 2, .codes = {4, 0, 1, 6, 8, 5}};
    f.images = {split};
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), (Bytes{0, 1, 0, 1, 0, 1, 0, 0}));
    destroy_image(img);
}

TEST_F(Gif, EarlyEndsKeepTheRowsRead)
{
    // Codes beyond the table end the data as the end of the file would:
    // the pixels so far stay, the rest stays 0, the load succeeds.
    GifFile f{.width = 4, .height = 2, .global_map = ramp_map()};
    struct Case {
        int root;
        std::vector<int> codes = {};
        Bytes want;
    } cases[] = {
        {3, {8, 1, 2, 14, 3, 9}, {1, 2, 0, 0, 0, 0, 0, 0}},    // 14 while the table ends at 11
        {2, {4, 6}, Bytes(8, 0)},                              // a first code that is no root
        {2, {4, 1, 2, 3, 5, 1, 1}, {1, 2, 3, 0, 0, 0, 0, 0}},  // end code before the last row
        {2, {4, 1, 1, 4, 3, 3, 4, 2}, {1, 1, 3, 3, 2, 0, 0, 0}}, // clear codes, no end code
    };
    for (const Case &c : cases) {
        f.images = {GifImage{.width = 4, .height = 2, .root = c.root, .codes = c.codes}};
        ImageRec *img = load(build(f));
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(record_indices(img), c.want);
        destroy_image(img);
    }

    // A file cut inside the data: the rows before the cut are whole, those
    // after it untouched; longer cuts keep more rows.
    Bytes indices;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 50; x++)
            indices.push_back(static_cast<unsigned char>(1 + (x * 7 + y * 13 + x * y) % 200));
    Bytes map(3 * 256, 9);
    ImageRec *img = make_record(50, 40, indices, map, "whole.gif");
    ASSERT_EQ(gif_save(img), 0);
    destroy_image(img);
    Bytes whole = read_bytes(dir.file("whole.gif"));
    int last_rows = 0;
    for (size_t cut = 800; cut < whole.size(); cut += 97) {
        ImageRec *part = load(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)));
        ASSERT_NE(part, nullptr) << cut;
        Bytes got = record_indices(part);
        int rows = 0;
        while (rows < 40 && std::equal(got.begin() + rows * 50, got.begin() + rows * 50 + 50,
                                       indices.begin() + rows * 50))
            rows++;
        EXPECT_GE(rows, last_rows) << cut;
        last_rows = rows;
        for (int y = rows + 1; y < 40; y++)
            EXPECT_EQ(Bytes(got.begin() + y * 50, got.begin() + y * 50 + 50), Bytes(50, 0))
                << cut << " row " << y;
        destroy_image(part);
    }
    EXPECT_GT(last_rows, 30);
}

TEST_F(Gif, FullTableWithoutClearCode)
{
    // Root 8: every code after the first adds an entry until 4096 are
    // held; then 12-bit codes go on without a clear code and nothing more
    // is added.  Entry 258 + k is pixel k followed by pixel k + 1.
    std::vector<int> codes = {256};
    Bytes want;
    for (int k = 0; k < 4900; k++) {
        int v = (k * 37 + k / 5) % 256;
        codes.push_back(v);
        want.push_back(static_cast<unsigned char>(v));
    }
    for (int k : {0, 10, 1500, 3837, 7, 0}) {
        codes.push_back(258 + k);
        want.push_back(want[k]);
        want.push_back(want[k + 1]);
    }
    for (int v : {5, 6, 250})
        codes.push_back(v), want.push_back(static_cast<unsigned char>(v));
    codes.push_back(257);
    int n = static_cast<int>(want.size());
    GifFile f{.width = n, .height = 1, .global_map = ramp_map(256),
              .images = {GifImage{.width = n, .height = 1, .root = 8, .codes = codes}}};
    ImageRec *img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), want);
    destroy_image(img);

    // A code one past the full table cannot be sent in 12 bits; 4095, the
    // last entry, can.
    codes.pop_back();
    codes.push_back(4095);
    want.push_back(want[3837]);
    want.push_back(want[3838]);
    codes.push_back(257);
    n = static_cast<int>(want.size());
    f.width = n;
    f.images = {GifImage{.width = n, .height = 1, .root = 8, .codes = codes}};
    img = load(build(f));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_indices(img), want);
    destroy_image(img);
}

TEST_F(Gif, HostileInputNeverCrashesOrOverAllocates)
{
    Bytes indices;
    for (int i = 0; i < 90 * 70; i++)
        indices.push_back(static_cast<unsigned char>((i * 31 + i / 90 * 7) % 97));
    Bytes map(3 * 97);
    for (size_t i = 0; i < map.size(); i++)
        map[i] = static_cast<unsigned char>(i * 5);
    ImageRec *img = make_record(90, 70, indices, map, "good.gif");
    ASSERT_EQ(gif_save(img), 0);
    destroy_image(img);
    Bytes good = read_bytes(dir.file("good.gif"));

    // Whatever loads is no larger than its data can describe.
    auto check = [&](const Bytes &bytes, const std::string &what) {
        ImageRec *r = init_image("mem.gif", "mem.gif", static_cast<int>(bytes.size()),
                                 &all_types[FMT_GIF],
                                 reinterpret_cast<char *>(const_cast<unsigned char *>(bytes.data())));
        if (gif_load(r) == 0) {
            EXPECT_LE(gif_min_data_bytes(static_cast<int64_t>(r->width) * r->height),
                      static_cast<int64_t>(bytes.size()))
                << what;
        }
        r->data = nullptr;
        destroy_image(r);
    };
    for (size_t cut = 0; cut < good.size(); cut += 7)
        check(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut)), "cut");
    unsigned seed = 5;
    for (int round = 0; round < 3000; round++) {
        Bytes b = good;
        for (int k = 0; k < 1 + round % 4; k++) {
            seed = seed * 1664525u + 1013904223u;
            b[(seed >> 8) % b.size()] = static_cast<unsigned char>(seed >> 24);
        }
        check(b, "round " + std::to_string(round));
    }

    // Large pictures claimed by small files are refused before allocating.
    for (int side : {65535, 6000}) {
        GifFile f{.width = side, .height = side, .global_map = ramp_map(),
                  .images = {GifImage{.width = side, .height = side, .root = 2,
                                      .codes = {4, 1, 6, 7, 8, 9, 10, 11, 12, 13, 5}}}};
        EXPECT_EQ(load(build(f)), nullptr) << side;
    }
    // An image of no pixels.
    GifFile empty{.width = 0, .height = 0, .global_map = ramp_map(),
                  .images = {GifImage{.width = 0, .height = 5, .root = 2, .codes = {4, 5}}}};
    EXPECT_EQ(load(build(empty)), nullptr);
}

TEST_F(Gif, LoadsFromMemoryAndThroughZcat)
{
    GifImage im{.width = 3, .height = 1, .root = 2, .codes = {4, 3, 0, 2, 5}};
    GifFile f{.width = 3, .height = 1, .global_map = ramp_map(), .images = {im}};
    Bytes bytes = build(f);
    ImageRec *img = init_image("drop.gif", "drop.gif", static_cast<int>(bytes.size()),
                               &all_types[FMT_GIF], reinterpret_cast<char *>(bytes.data()));
    ASSERT_EQ(gif_load(img), 0);
    EXPECT_EQ(record_indices(img), (Bytes{3, 0, 2}));
    img->data = nullptr;
    destroy_image(img);

    std::string path = dir.file("pic.gif");
    write_bytes(path, bytes);
    ASSERT_EQ(run_command("compress -f '" + path + "'"), 0);
    std::string z = path + ".Z";
    img = init_image(z.c_str(), z.c_str(), 0, &all_types[FMT_GIF], nullptr);
    img->compression = COMP_UNIX;
    ASSERT_EQ(gif_load(img), 0);
    EXPECT_EQ(record_indices(img), (Bytes{3, 0, 2}));
    destroy_image(img);
}

TEST_F(Gif, FailedSavesLeaveTheOldFile)
{
    Bytes indices = {0, 1, 1, 0};
    Bytes map = {0, 0, 0, 255, 255, 255};

    // A folder that cannot be written into (here: a path through a file).
    write_bytes(dir.file("plain"), {1});
    ImageRec *img = make_record(2, 2, indices, map, "plain/x.gif");
    EXPECT_EQ(gif_save(img), -1);
    destroy_image(img);

    // A write that fails at the end keeps the existing file byte for byte
    // and leaves no temporary file beside it.
    Bytes old = {'o', 'l', 'd'};
    write_bytes(dir.file("keep.gif"), old);
    img = make_record(2, 2, indices, map, "keep.gif");
    savefile_fail_commit = true;
    EXPECT_EQ(gif_save(img), -1);
    savefile_fail_commit = false;
    EXPECT_EQ(read_bytes(dir.file("keep.gif")), old);
    EXPECT_EQ(run_command("test $(ls -A '" + dir.path() + "' | wc -l) -eq 2"), 0);
    EXPECT_EQ(gif_save(img), 0);
    EXPECT_NE(read_bytes(dir.file("keep.gif")), old);
    destroy_image(img);
}
