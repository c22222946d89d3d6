// The portable-map decoder: netpbm's own plain and raw files at several
// maximum values, comments, the diagnostics, every converter format that
// netpbm can also write (or that is simple to build by hand), converters
// that are missing or misbehave, and hostile input.
#include "test_support.h"

#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>

#include "app/reader.h"
#include "formats/ppm.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text_bytes(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Quotes a path for the test's own shell command lines.
std::string q(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Ppm : public ::testing::Test {
protected:
    void SetUp() override { ensure_program(); }
    void TearDown() override { prog->verbose = 0; }

    // Loads a file through the given row of the format table; nullptr
    // when the load fails.
    ImageRec *load_file(const std::string &path, FormatEntry *row = &all_types[FMT_PPM])
    {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, row, nullptr);
        if (ppm_load(img) != 0) {
            EXPECT_EQ(img->orig_image, nullptr) << "a failed load keeps no image";
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    ImageRec *load(const Bytes &bytes, FormatEntry *row = &all_types[FMT_PPM])
    {
        std::string path = dir.file("in.pnm");
        write_bytes(path, bytes);
        return load_file(path, row);
    }
    // Loads bytes from memory, as a drop hands them over.
    ImageRec *load_memory(const Bytes &bytes, FormatEntry *row = &all_types[FMT_PPM])
    {
        memory = std::vector<char>(bytes.begin(), bytes.end());
        ImageRec *img = init_image("drop.pnm", "drop.pnm", static_cast<int>(memory.size()), row,
                                   memory.data());
        if (ppm_load(img) != 0) {
            destroy_image(img);
            return nullptr;
        }
        return img;
    }
    // Returns what netpbm reads from the output of a command, as 8-bit RGB.
    bool netpbm_reading(const std::string &producer, Rgb *out)
    {
        std::string ppm = dir.file("netpbm.ppm");
        return run_command(producer + " 2>/dev/null | pamdepth 255 2>/dev/null | ppmtoppm > " +
                           q(ppm) + " 2>/dev/null") == 0 &&
               read_pnm(ppm, out) && out->width > 0;
    }
    // Returns the file's pixels as netpbm reads them.
    bool netpbm_reading_of(const std::string &path, Rgb *out)
    {
        return netpbm_reading("pamtopnm < " + q(path), out);
    }
    TempDir dir;
    std::vector<char> memory;
};

// The netpbm programs the tests use to write and read portable maps.
bool have_netpbm()
{
    return run_command("command -v pamdepth pnmtoplainpnm ppmtoppm pgmtopgm pamtopnm pgmtopbm "
                       "ppmtopgm >/dev/null") == 0;
}

// Writes the test picture as PPM, PGM and PBM (raw, maxval 255) into dir.
void write_sources(const TempDir &dir, int width, int height)
{
    write_ppm(dir.file("src.ppm"), test_picture(width, height, 4));
    run_command("ppmtopgm " + q(dir.file("src.ppm")) + " > " + q(dir.file("src.pgm")));
    run_command("pgmtopbm -threshold " + q(dir.file("src.pgm")) + " > " + q(dir.file("src.pbm")) +
                " 2>/dev/null");
}

// Returns the sample bytes of the record's image memory, row by row.
Bytes memory_samples(ImageRec *img)
{
    VelaMemoryStorage s;
    vela_export(img->orig_image);
    vela_get_memory_storage(img->orig_image, &s);
    Bytes out;
    size_t line = static_cast<size_t>(img->width) * s.bytes_per_pixel;
    for (int y = 0; y < img->height; y++)
        out.insert(out.end(), s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row,
                   s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row + line);
    vela_import(img->orig_image, 0);
    return out;
}

} // namespace

TEST_F(Ppm, NetpbmFilesLoadWithTheirPixels)
{
    if (!have_netpbm())
        GTEST_SKIP() << "netpbm missing";
    write_sources(dir, 23, 11);
    struct Kind {
        const char *source, *magic_plain, *magic_raw;
        int depth;
    } kinds[] = {{"src.ppm", "P3", "P6", 24}, {"src.pgm", "P2", "P5", 8}, {"src.pbm", "P1", "P4", 1}};
    for (const Kind &k : kinds) {
        bool bitmap = k.depth == 1;
        for (int maxval : bitmap ? std::vector<int>{1} : std::vector<int>{255, 15, 1000, 65535}) {
            std::string src = dir.file(k.source);
            std::string depth = bitmap ? "cat " + q(src) : "pamdepth " + std::to_string(maxval) + " " + q(src);
            std::string raw = dir.file("raw.pnm"), plain = dir.file("plain.pnm");
            ASSERT_EQ(run_command(depth + " 2>/dev/null | pamtopnm > " + q(raw)), 0);
            ASSERT_EQ(run_command("pnmtoplainpnm " + q(raw) + " > " + q(plain) + " 2>/dev/null"), 0);
            for (const std::string &path : {raw, plain}) {
                bool is_plain = path == plain;
                std::string what = std::string(is_plain ? k.magic_plain : k.magic_raw) +
                                   " maxval " + std::to_string(maxval);
                Bytes file = read_bytes(path);
                ASSERT_EQ(std::string(file.begin(), file.begin() + 2),
                          is_plain ? k.magic_plain : k.magic_raw);
                Rgb theirs;
                ASSERT_TRUE(netpbm_reading_of(path, &theirs)) << what;
                ImageRec *img = load_file(path);
                ASSERT_NE(img, nullptr) << what;
                EXPECT_EQ(img->width, 23);
                EXPECT_EQ(img->height, 11);
                // Plain bitmaps are 8-bit pictures of 255 and 0.
                EXPECT_EQ(img->depth, bitmap && is_plain ? 8 : k.depth) << what;
                EXPECT_EQ(img->rgb_order, k.depth == 24 ? 0 : 1) << what;
                EXPECT_EQ(record_to_rgb(img).pixels, theirs.pixels) << what;
                destroy_image(img);
            }
        }
    }
}

TEST_F(Ppm, ColourIsBroughtToFullRangeGreyKeepsItsSamples)
{
    // Maximum 15: colour samples are multiplied by 17; grey samples stay as
    // in the file and the grey ramp reaches white at 15.
    ImageRec *img = load(text_bytes("P6\n2 1\n15\n") + Bytes{15, 0, 1, 7, 8, 20});
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{17, 0, 255, 255, 136, 119})); // blue, green, red
    destroy_image(img);

    img = load(text_bytes("P5 4 1 15 ") + Bytes{0, 1, 15, 9});
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{0, 1, 15, 9}));
    ASSERT_EQ(img->ncolors, 256);
    EXPECT_EQ(img->red[1], 17);
    EXPECT_EQ(img->red[15], 255);
    EXPECT_EQ(img->red[200], 255);
    destroy_image(img);

    // Maximum 255 leaves every sample alone, and plain samples keep their
    // low 8 bits.
    img = load(text_bytes("P3 2 1 255 1 2 3 255 256 0"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{3, 2, 1, 0, 0, 255}));
    destroy_image(img);
    img = load(text_bytes("P2 3 1 255 7 300 255"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{7, 44, 255}));
    destroy_image(img);

    // Wide samples are two bytes, most significant first, scaled to 0..255
    // (values above the maximum count as the maximum).
    img = load(text_bytes("P6 1 1 65535\n") + Bytes{0xff, 0xff, 0x80, 0x00, 0x00, 0x80});
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{0, 128, 255}));
    destroy_image(img);
    img = load(text_bytes("P5 3 1 256\n") + Bytes{1, 0, 0, 128, 0xff, 0xff});
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{255, 128, 255}));
    destroy_image(img);

    EXPECT_EQ(ppm_scale_table(15)[1], 17);
    EXPECT_EQ(ppm_scale_table(65535).size(), 65536u);
    EXPECT_EQ(ppm_scale_table(65535)[32767], 127);
    EXPECT_EQ(ppm_scale_table(65535)[32768], 128);
}

TEST_F(Ppm, RawRastersOfEverySizeArriveIntact)
{
    // Narrow rows exercise the ends of the pixel loops; a large picture
    // spans several pieces of reading; both maxima go their own ways.
    std::vector<std::pair<int, int>> sizes;
    for (int w = 1; w <= 41; w++)
        sizes.push_back({w, 1 + w % 3});
    sizes.push_back({701, 603});
    for (auto [w, h] : sizes)
        for (int maxval : {255, 200}) {
            Rgb pic = test_picture(w, h, static_cast<unsigned>(w));
            Bytes file = text_bytes("P6 " + std::to_string(w) + " " + std::to_string(h) + " " +
                                    std::to_string(maxval) + "\n");
            for (unsigned char &v : pic.pixels)
                v = static_cast<unsigned char>(v % (maxval + 1));
            file.insert(file.end(), pic.pixels.begin(), pic.pixels.end());
            std::vector<unsigned char> scale = ppm_scale_table(maxval);
            for (unsigned char &v : pic.pixels)
                v = scale[v];
            ImageRec *img = load_memory(file);
            ASSERT_NE(img, nullptr) << w << "x" << h;
            EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels) << w << "x" << h << " max " << maxval;
            destroy_image(img);
        }
}

TEST_F(Ppm, CommentsAnywhereInTheHeaderAndPlainData)
{
    Rgb pic = test_picture(3, 2, 8);
    Bytes raster(pic.pixels.begin(), pic.pixels.end());
    // Samples separated by tabs, comments right after a number, blanks and
    // CR LF line ends.
    static const char *const separators[] = {"\t", "#c\n", " ", "\r\n"};
    std::string plain_data;
    for (size_t i = 0; i < pic.pixels.size(); i++)
        plain_data += std::to_string(pic.pixels[i]) + separators[i % 4];
    struct Case {
        std::string header;
        bool plain;
    } cases[] = {
        {"P6#after magic\n3 2\n255\n", false},
        {"P6\n#line\n#another\n3#right after the width\n2 255\n", false},
        {"P6 3\r#cr ends it\r2\n# before maxval\n255\n", false},
        {"P6 3 2 255#directly after maxval, the raster follows the line end\n", false},
        {"P3\n# c\n3 2 #c\n255\n", true},
    };
    for (const Case &c : cases) {
        Bytes file = text_bytes(c.header);
        if (c.plain)
            file = file + text_bytes(plain_data);
        else
            file.insert(file.end(), raster.begin(), raster.end());
        ImageRec *img = load(file);
        ASSERT_NE(img, nullptr) << c.header;
        EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels) << c.header;
        destroy_image(img);
        if (have_netpbm()) {
            Rgb theirs;
            ASSERT_TRUE(netpbm_reading_of(dir.file("in.pnm"), &theirs)) << c.header;
            EXPECT_EQ(theirs.pixels, pic.pixels) << "netpbm agrees: " << c.header;
        }
    }
}

TEST_F(Ppm, BitmapsShowZeroWhiteAndOneBlack)
{
    // Plain bits with and without white space, and a comment between them.
    for (const char *text : {"P1\n4 2\n0 1 1 0\n1 0 0 1\n", "P1 4 2 0110#c\n1001", "P1 4 2 01101001"}) {
        ImageRec *img = load(text_bytes(text));
        ASSERT_NE(img, nullptr) << text;
        EXPECT_EQ(img->depth, 8);
        EXPECT_EQ(memory_samples(img), (Bytes{255, 0, 0, 255, 0, 255, 255, 0})) << text;
        Rgb rgb = record_to_rgb(img);
        EXPECT_EQ(rgb.pixels[0], 255);
        EXPECT_EQ(rgb.pixels[3], 0);
        destroy_image(img);
    }
    // Raw bits: rows as in the file, padding bits included.
    ImageRec *img = load(text_bytes("P4 10 2\n") + Bytes{0x80, 0x40, 0xff, 0xc0});
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->depth, 1);
    EXPECT_EQ(vela_get_datatype(img->orig_image), VELA_BIT);
    EXPECT_EQ(img->bytes_per_line, 2);
    Rgb rgb = record_to_rgb(img);
    EXPECT_EQ(rgb.pixels[0], 0);
    EXPECT_EQ(rgb.pixels[3], 255);
    EXPECT_EQ(rgb.pixels[3 * 9], 0);
    EXPECT_EQ(rgb.pixels[3 * 10 + 3 * 9], 0);
    destroy_image(img);
}

TEST_F(Ppm, PlainFilesCutShortLoadWithTheValuesAtTheEnd)
{
    ImageRec *img = load(text_bytes("P2 3 2 255\n10 20 30 40"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{10, 20, 30, 40, 0, 0}));
    destroy_image(img);
    img = load(text_bytes("P1 4 2\n1 1 1 1\n1"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{0, 0, 0, 0, 0, 255, 255, 255}));
    destroy_image(img);
    img = load(text_bytes("P3 2 1 255 1 2 3 4"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{3, 2, 1, 0, 0, 4}));
    destroy_image(img);
    // Junk counts as 0 and reading goes on.
    img = load(text_bytes("P2 4 1 255 5 x 7 8"));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memory_samples(img), (Bytes{5, 0, 7, 8}));
    destroy_image(img);
    // Too short to hold one byte a pixel: refused, not allocated.
    EXPECT_EQ(load(text_bytes("P1 40 40 0110")), nullptr);
}

TEST_F(Ppm, NotAPortableMapFails)
{
    for (const char *text : {"", "P", "P0 1 1 255 0", "P7 1 1 255 0", "p6 1 1 255 xyz", "#P6 1 1 255 abc",
                             "P6 0 1 255 abc", "P5 1 0 255 a", "P2 0 0 255 1", "P6 1 1 0 abc",
                             "P5 1 1 65536 ab", "P6 x 1 255 abc", "P4 262141 1 " }) {
        EXPECT_EQ(load(text_bytes(text)), nullptr) << text;
    }
    // Raw files cut anywhere fail.
    for (std::string header : {"P6 4 3 255\n", "P5 5 3 65535\n", "P4 9 3\n"}) {
        Bytes full = text_bytes(header) + Bytes(100, 0x5a);
        ImageRec *whole = load(full);
        ASSERT_NE(whole, nullptr) << header;
        destroy_image(whole);
        size_t needed = header[1] == '6' ? 36 : header[1] == '5' ? 30 : 6;
        for (size_t cut = 0; cut < header.size() + needed; cut++)
            EXPECT_EQ(load(Bytes(full.begin(), full.begin() + cut)), nullptr) << header << cut;
    }
}

TEST_F(Ppm, VerboseDiagnostics)
{
    prog->verbose = 1;
    std::string name = prog->name;
    struct Case {
        std::string file, message;
    } cases[] = {
        {"GIF89a", "Bad magic number - not a ppm, pgm, or pbm file.\n"},
        {"P6 2 2 255 abc", "EOF / read error in pbm_getrawbyte.\n"},
        {"P3 1 1 70000 1 1 1", "Maxval is too large - try reconfiguring with PGM_BIGGRAYS or without "
                               "PPM_PACKCOLORS\n"},
        {"P5 1 1 70000 1", "Maxval is too large - try reconfiguring with PGM_BIGGRAYS\n"},
        {"P2 2 1 255 x 1", "Junk in file where an integer should be in pbm_getint.\n"},
        {"P2 3 1 255 1 2 ", "EOF / read error in pbm_getc.\n"},
        {"P5 262141 2 255 ", "Unable to allocate ppm data.\n"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        ImageRec *img = load(text_bytes(c.file));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(name + ": " + c.message), std::string::npos) << c.file << " said " << err;
        destroy_image(img);
    }
    // A whole file says nothing.
    testing::internal::CaptureStderr();
    ImageRec *img = load(text_bytes("P2 2 1 255 1 2"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(img, nullptr);
    destroy_image(img);
}

TEST_F(Ppm, LoadsFromMemoryAndThroughZcat)
{
    Rgb pic = test_picture(5, 4, 6);
    Bytes file = text_bytes("P6 5 4 255\n");
    file.insert(file.end(), pic.pixels.begin(), pic.pixels.end());
    ImageRec *img = load_memory(file);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
    // Cut short in memory.
    file.pop_back();
    EXPECT_EQ(load_memory(file), nullptr);
    file.push_back(0);

    std::string path = dir.file("pic.ppm");
    write_bytes(path, file);
    ASSERT_EQ(run_command("compress -f " + q(path)), 0);
    std::string z = path + ".Z";
    img = init_image(z.c_str(), z.c_str(), 0, &all_types[FMT_PPM], nullptr);
    img->compression = COMP_UNIX;
    ASSERT_EQ(ppm_load(img), 0);
    pic.pixels.back() = 0;
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
}

namespace {

// A picture of 8 flat colours in blocks, for the formats with a small
// palette or a fixed size.
Rgb block_picture(int width, int height)
{
    static const unsigned char palette[8][3] = {{0, 0, 0},     {255, 255, 255}, {255, 0, 0},
                                                {0, 255, 0},   {0, 0, 255},     {255, 255, 0},
                                                {0, 255, 255}, {146, 73, 219}};
    Rgb rgb;
    rgb.width = width;
    rgb.height = height;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const unsigned char *c = palette[(x / 7 + y / 5) % 8];
            rgb.pixels.insert(rgb.pixels.end(), c, c + 3);
        }
    return rgb;
}

// The MTV ray tracer's format: "width height\n" and red-green-blue bytes.
Bytes mtv_file(const Rgb &pic)
{
    Bytes out = text_bytes(std::to_string(pic.width) + " " + std::to_string(pic.height) + "\n");
    out.insert(out.end(), pic.pixels.begin(), pic.pixels.end());
    return out;
}

// The QRT ray tracer's format: little-endian width and height, then per
// line its number and the red, green and blue planes of the line.
Bytes qrt_file(const Rgb &pic)
{
    auto le16 = [](Bytes &b, int v) {
        b.push_back(static_cast<unsigned char>(v & 0xff));
        b.push_back(static_cast<unsigned char>(v >> 8));
    };
    Bytes out;
    le16(out, pic.width);
    le16(out, pic.height);
    for (int y = 0; y < pic.height; y++) {
        le16(out, y);
        for (int c = 0; c < 3; c++)
            for (int x = 0; x < pic.width; x++)
                out.push_back(pic.pixels[3 * (static_cast<size_t>(y) * pic.width + x) + c]);
    }
    return out;
}

} // namespace

TEST_F(Ppm, ConverterFormatsLoadWhatTheConverterProduces)
{
    if (!have_netpbm())
        GTEST_SKIP() << "netpbm missing";
    write_sources(dir, 37, 21);
    write_ppm(dir.file("blocks.ppm"), block_picture(320, 200));
    write_ppm(dir.file("small.ppm"), block_picture(37, 21));
    write_bytes(dir.file("pic.mtv"), mtv_file(test_picture(9, 5, 2)));
    write_bytes(dir.file("pic.qrt"), qrt_file(test_picture(9, 5, 3)));
    // Row of the table, the command writing the file from the sources
    // (empty: built by hand above), the file.
    struct Writer {
        int row;
        std::string command, file;
    } writers[] = {
        {7, "ppmtoilbm src.ppm", "pic.ilbm"},   {8, "ppmtopi1 blocks.ppm", "pic.pi1"},
        {9, "ppmtopcx src.ppm", "pic.pcx"},     {9, "ppmtopcx -8bit small.ppm", "pal.pcx"},
        {18, "ppmtotga src.ppm", "pic.tga"},    {18, "ppmtotga -mono src.pgm", "grey.tga"},
        {19, "ppmtopj src.ppm", "pic.pj"},      {21, "", "pic.mtv"},
        {22, "", "pic.qrt"},                    {24, "ppmtoacad small.ppm", "pic.sld"},
        {26, "ppmtospu blocks.ppm", "pic.spu"}, {28, "pgmtofs src.pgm", "pic.fs"},
        {29, "pamtofits src.ppm", "pic.fits"},  {29, "pnmtofits src.pgm", "grey.fits"},
        {30, "pgmtolispm src.pgm", "pic.lispm"}, {32, "pbmtomacp src.pbm", "pic.mac"},
        {33, "pbmtoatk src.pbm", "pic.atk"},    {35, "pbmtocmuwm src.pbm", "pic.cmu"},
        {36, "pbmtomgr src.pbm", "pic.mgr"},    {37, "pbmtog3 src.pbm", "pic.g3"},
        {38, "pbmtogem src.pbm", "pic.img"},    {39, "pbmtoicon src.pbm", "pic.icon"},
        {40, "pbmtopi3 src.pbm", "pic.pi3"},    {42, "pbmtoybm src.pbm", "pic.ybm"},
        {43, "pnmtoxwd src.ppm", "pic.xwd"},    {43, "pnmtoxwd src.pgm", "grey.xwd"},
        {43, "pnmtoxwd src.pbm", "bits.xwd"},
    };
    for (const Writer &w : writers) {
        FormatEntry *row = &all_types[w.row];
        std::string path = dir.file(w.file);
        if (!w.command.empty()) {
            std::string prog_name = w.command.substr(0, w.command.find(' '));
            if (run_command("command -v " + prog_name + " >/dev/null") != 0) {
                ADD_FAILURE() << "no writer " << prog_name;
                continue;
            }
            ASSERT_EQ(run_command("cd " + q(dir.path()) + " && " + w.command + " > " + q(path) +
                                  " 2>/dev/null"),
                      0)
                << w.command;
        }
        ASSERT_NE(row->converter, nullptr) << w.row;
        Rgb theirs;
        ASSERT_TRUE(netpbm_reading(std::string(row->converter) + " " + q(path), &theirs))
            << row->display_name << ": " << w.file;
        ImageRec *img = load_file(path, row);
        ASSERT_NE(img, nullptr) << row->display_name << ": " << w.file;
        Rgb ours = record_to_rgb(img);
        EXPECT_EQ(ours.width, theirs.width) << w.file;
        EXPECT_EQ(ours.height, theirs.height) << w.file;
        EXPECT_EQ(ours.pixels, theirs.pixels) << row->display_name << ": " << w.file;
        destroy_image(img);
    }
}

TEST_F(Ppm, ConverterRowsThisMachineCannotOpenFailCleanly)
{
    write_sources(dir, 8, 8);
    for (int row = 0; row < ntypes; row++) {
        const char *conv = all_types[row].converter;
        if (conv == nullptr || access(conv, X_OK) == 0)
            continue;
        EXPECT_EQ(load_file(dir.file("src.ppm"), &all_types[row]), nullptr) << conv;
    }
}

TEST_F(Ppm, ConvertersThatFailOrWriteGarbage)
{
    Rgb pic = test_picture(6, 5, 1);
    std::string ppm = dir.file("pic.ppm");
    write_ppm(ppm, pic);
    // A script converter: the test's own programs, started without a shell.
    std::string cut = dir.file("cut.sh");
    write_bytes(cut, text_bytes("#!/bin/sh\nhead -c 40 \"$1\"\nexit 0\n"));
    std::string huge = dir.file("huge.sh");
    write_bytes(huge, text_bytes("#!/bin/sh\nprintf 'P6 262140 262140 255\\n'\nexec cat \"$1\"\n"));
    std::string args = dir.file("args.sh");
    write_bytes(args, text_bytes("#!/bin/sh\n[ $# -eq 1 ] && exec cat \"$1\"\nexit 1\n"));
    chmod(cut.c_str(), 0755);
    chmod(huge.c_str(), 0755);
    chmod(args.c_str(), 0755);

    auto row_with = [](const std::string &converter) {
        static std::deque<std::string> keep;
        keep.push_back(converter);
        return FormatEntry{99, "test-file", "Test", nullptr, ppm_load, nullptr, keep.back().c_str()};
    };
    // cat passes the map through: the converter path works.
    FormatEntry cat = row_with("/bin/cat");
    ImageRec *img = load_file(ppm, &cat);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);

    for (const std::string &conv :
         {std::string("/nonexistent/topnm"), std::string("/bin/false"), std::string("/bin/echo"),
          std::string("/bin/true"), cut, huge, dir.path()}) {
        FormatEntry row = row_with(conv);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(load_file(ppm, &row), nullptr) << conv;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0)
            << conv;
    }

    // A name full of shell syntax reaches the converter as one argument,
    // and nothing in it runs.
    std::string odd = dir.file("it's a \"b\" $(touch PWNED) `touch PWNED2`; x&.ppm");
    write_ppm(odd, pic);
    FormatEntry one = row_with(args);
    img = load_file(odd, &one);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
    if (access(all_types[9].converter, X_OK) == 0 &&
        run_command("ppmtopcx " + q(ppm) + " > " + q(odd + ".pcx") + " 2>/dev/null") == 0) {
        img = load_file(odd + ".pcx", &all_types[9]);
        ASSERT_NE(img, nullptr);
        EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
        destroy_image(img);
    }
    struct stat st;
    EXPECT_NE(stat(dir.file("PWNED").c_str(), &st), 0);
    EXPECT_NE(stat("PWNED", &st), 0);
    EXPECT_NE(stat("PWNED2", &st), 0);

    // Bytes in memory are handed to the converter through a file.
    Bytes bytes = read_bytes(ppm);
    img = load_memory(bytes, &cat);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(record_to_rgb(img).pixels, pic.pixels);
    destroy_image(img);
}

TEST_F(Ppm, HostileInputNeverCrashesOrOverAllocates)
{
    Rgb pic = test_picture(7, 5, 11);
    std::vector<Bytes> seeds;
    Bytes p6 = text_bytes("P6\n# c\n7 5\n255\n");
    p6.insert(p6.end(), pic.pixels.begin(), pic.pixels.end());
    seeds.push_back(p6);
    Bytes p5 = text_bytes("P5 7 5 65535\n");
    for (size_t i = 0; i < 70; i++)
        p5.push_back(pic.pixels[i]);
    seeds.push_back(p5);
    seeds.push_back(text_bytes("P4 7 5\n") + Bytes{1, 2, 3, 4, 5});
    std::string p3 = "P3 7 5 15\n", p2 = "P2 7 5 300\n", p1 = "P1 7 5\n";
    for (int i = 0; i < 35; i++) {
        p3 += std::to_string(pic.pixels[3 * i] % 16) + " " + std::to_string(i % 16) + " 3\n";
        p2 += std::to_string(pic.pixels[i] + 40) + (i % 7 ? " " : "#x\n");
        p1 += i % 3 ? "1" : "0 ";
    }
    seeds.push_back(text_bytes(p3));
    seeds.push_back(text_bytes(p2));
    seeds.push_back(text_bytes(p1));

    // A successful load never holds more pixel memory than its input could
    // describe: a byte a pixel for plain files, the raster for raw ones.
    auto check = [&](const Bytes &bytes, const std::string &what) {
        auto t0 = std::chrono::steady_clock::now();
        ImageRec *img = load_memory(bytes);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(s, 1.0) << what;
        if (img != nullptr) {
            EXPECT_LE(static_cast<size_t>(img->width) * img->height, 8 * bytes.size()) << what;
            destroy_image(img);
        }
    };
    for (const Bytes &seed : seeds)
        for (size_t cut = 0; cut <= seed.size(); cut++)
            check(Bytes(seed.begin(), seed.begin() + cut), "cut " + std::to_string(cut));
    unsigned s = 12345;
    auto rnd = [&s] { return s = s * 1103515245u + 12345u, s >> 8; };
    for (int round = 0; round < 3000; round++) {
        Bytes b = seeds[round % seeds.size()];
        int edits = 1 + rnd() % 4;
        for (int e = 0; e < edits; e++) {
            size_t at = rnd() % b.size();
            switch (rnd() % 3) {
            case 0:
                b[at] = static_cast<unsigned char>(rnd());
                break;
            case 1:
                b[at] = static_cast<unsigned char>("0123456789 #\nP"[rnd() % 15]);
                break;
            default:
                b.erase(b.begin() + static_cast<ptrdiff_t>(at));
                break;
            }
            if (b.empty())
                b.push_back('P');
        }
        check(b, "round " + std::to_string(round));
    }

    // Huge pictures: refused against a file or memory before any
    // allocation, and through a pipe when memory cannot hold them.
    for (const char *header : {"P6 65535 65535 255\n", "P5 65535 65535 65535\n", "P4 65535 65535\n",
                               "P1 65535 65535\n", "P2 65535 65535 255\n", "P3 65535 65535 255\n"}) {
        Bytes b = text_bytes(header) + Bytes(4096, '1');
        check(b, header);
        EXPECT_EQ(load(b), nullptr) << header;
    }
    Bytes huge = text_bytes("P6 262140 262140 255\n") + Bytes(64, 1);
    std::string path = dir.file("huge.ppm");
    write_bytes(path, huge);
    ASSERT_EQ(run_command("compress -f " + q(path)), 0);
    std::string z = path + ".Z";
    ImageRec *img = init_image(z.c_str(), z.c_str(), 0, &all_types[FMT_PPM], nullptr);
    img->compression = COMP_UNIX;
    EXPECT_EQ(ppm_load(img), -1);
    destroy_image(img);
}
