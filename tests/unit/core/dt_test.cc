// Data typing: files written by netpbm and ImageMagick, hand-built headers
// (checked with netpbm's readers where Debian has one), and what stays untyped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/dt/dt.h"

extern char **environ;

namespace {

using Bytes = std::string;  // binary content

constexpr int kCompressed = -1;  // expected answer "COMPRESSED" instead of a row
constexpr int kUntyped = -2;     // expected answer "DATA"

// Returns the answer expected for a row (or kCompressed, kUntyped).
std::string expected_name(int row)
{
    if (row == kCompressed)
        return "COMPRESSED";
    if (row == kUntyped)
        return "DATA";
    return all_types[row].dt_name;
}

// Returns the answer for bytes in memory, freeing the library's string.
std::string type_of_buffer(const Bytes &b, const char *name)
{
    char *t = DtDtsBufferToDataType(b.data(), static_cast<int>(b.size()), name);
    std::string s = t != nullptr ? t : "(null)";
    DtDtsFreeDataType(t);
    return s;
}

// Returns the answer for a file, freeing the library's string.
std::string type_of_file(const std::string &path)
{
    char *t = DtDtsFileToDataType(path.c_str());
    std::string s = t != nullptr ? t : "(null)";
    DtDtsFreeDataType(t);
    return s;
}

// A private folder for the test's files, removed with them.
class TempDir {
public:
    TempDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "dt_test.XXXXXX").string();
        if (mkdtemp(templ.data()) != nullptr)
            path_ = templ;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool write_file(const std::string &path, const Bytes &b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(b.data(), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(f.flush());
}

Bytes read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool executable(const char *path)
{
    return access(path, X_OK) == 0;
}

// Runs argv with standard input from in and standard output to out (standard
// error discarded); returns whether it exited with status 0.
bool run_peer(const std::vector<const char *> &argv, const std::string &in, const std::string &out)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    for (const char *a : argv)
        args.push_back(const_cast<char *>(a));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// --- byte builders ---------------------------------------------------------------

void put_be16(Bytes &b, uint32_t v)
{
    b += static_cast<char>(v >> 8);
    b += static_cast<char>(v);
}

void put_le16(Bytes &b, uint32_t v)
{
    b += static_cast<char>(v);
    b += static_cast<char>(v >> 8);
}

void put_be32(Bytes &b, uint32_t v)
{
    put_be16(b, v >> 16);
    put_be16(b, v & 0xffff);
}

void put_le32(Bytes &b, uint32_t v)
{
    put_le16(b, v & 0xffff);
    put_le16(b, v >> 16);
}

// Returns a fixed-width field holding text, padded with NULs.
Bytes field(const std::string &text, size_t width)
{
    Bytes f = text;
    f.resize(width, '\0');
    return f;
}

// Returns a binary PNM ('4', '5' or '6') of w x h in four colours (ppmtopi1
// takes at most sixteen), repetitive enough for compress to shrink.
Bytes pnm(char kind, int w, int h)
{
    Bytes b = std::string("P") + kind + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
    if (kind != '4')
        b += "255\n";
    for (int y = 0; y < h; y++) {
        unsigned bits = 0;
        for (int x = 0; x < w; x++) {
            int v = ((x / 2 + y) % 4) * 85;
            if (kind == '4') {
                bits = bits << 1 | (v == 0);
                if (x % 8 == 7 || x == w - 1) {
                    b += static_cast<char>(bits << (7 - x % 8));
                    bits = 0;
                }
            } else if (kind == '5') {
                b += static_cast<char>(v);
            } else {
                b += {static_cast<char>(v), static_cast<char>(255 - v), static_cast<char>(v / 2)};
            }
        }
    }
    return b;
}

// --- files written by peer programs ------------------------------------------------

enum class Input { Ppm, Pgm, Pbm, Screen };  // 8x4 images; Screen is 320x200 colour

struct PeerCase {
    const char *label;              // test name
    std::vector<const char *> argv; // program and options; image on standard input
    Input input;
    const char *name;               // file name the output gets
    int row;                        // expected format row, or kCompressed
    const char *lead = "";          // bytes the peer must have started with (the variant meant)
};

class PeerFile : public testing::TestWithParam<PeerCase> {};

// The peer's file is typed the same through its path and through its bytes.
TEST_P(PeerFile, IsTypedByContent)
{
    const PeerCase &c = GetParam();
    if (!executable(c.argv[0]))
        GTEST_SKIP() << c.argv[0] << " is not installed";
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    Bytes image = c.input == Input::Ppm      ? pnm('6', 8, 4)
                  : c.input == Input::Pgm    ? pnm('5', 8, 4)
                  : c.input == Input::Pbm    ? pnm('4', 8, 4)
                                             : pnm('6', 320, 200);
    std::string in = dir.file("in.pnm"), out = dir.file(c.name);
    ASSERT_TRUE(write_file(in, image));
    ASSERT_TRUE(run_peer(c.argv, in, out)) << c.argv[0] << " failed";
    Bytes written = read_file(out);
    ASSERT_FALSE(written.empty());
    ASSERT_EQ(written.compare(0, std::strlen(c.lead), c.lead), 0) << "not the variant meant";

    std::string want = expected_name(c.row);
    EXPECT_EQ(type_of_file(out), want);
    EXPECT_EQ(type_of_buffer(written, c.name), want);
}

std::string case_label(const testing::TestParamInfo<PeerCase> &info)
{
    return info.param.label;
}

const PeerCase kNetpbmColour[] = {
    {"ppm", {"/usr/bin/pnmtopnm"}, Input::Ppm, "a.ppm", 10},
    {"pgm", {"/usr/bin/pnmtopnm"}, Input::Pgm, "a.pgm", 11},
    {"pbm", {"/usr/bin/pnmtopnm"}, Input::Pbm, "a.pbm", 12},
    {"plain_ppm", {"/usr/bin/pnmtoplainpnm"}, Input::Ppm, "a", 10, "P3"},
    {"plain_pgm", {"/usr/bin/pnmtoplainpnm"}, Input::Pgm, "a", 11, "P2"},
    {"plain_pbm", {"/usr/bin/pnmtoplainpnm"}, Input::Pbm, "a", 12, "P1"},
    {"kestrel", {"/usr/bin/pnmtorast"}, Input::Ppm, "a.ras", 0},
    {"kestrel_encoded", {"/usr/bin/pnmtorast", "-rle"}, Input::Pgm, "a", 0},
    {"tiff", {"/usr/bin/pnmtotiff"}, Input::Ppm, "a.tif", 1, "II*"},
    {"gif", {"/usr/bin/ppmtogif"}, Input::Ppm, "a.gif", 2},
    {"epsf", {"/usr/bin/pnmtops"}, Input::Ppm, "a.ps", 4},
    {"pict", {"/usr/bin/ppmtopict"}, Input::Ppm, "a", 5},
    {"xpm", {"/usr/bin/ppmtoxpm"}, Input::Ppm, "a", 6},
    {"ilbm", {"/usr/bin/ppmtoilbm"}, Input::Ppm, "a", 7},
    {"degas_low", {"/usr/bin/ppmtopi1"}, Input::Screen, "a.pi1", 8},
    {"pcx", {"/usr/bin/ppmtopcx"}, Input::Ppm, "a", 9},
    {"jpeg", {"/usr/bin/pnmtojpeg"}, Input::Ppm, "a", 13},
    {"targa_mapped", {"/usr/bin/ppmtotga"}, Input::Ppm, "a.tga", 18},
    {"targa_rgb", {"/usr/bin/ppmtotga", "-rgb", "-norle"}, Input::Ppm, "a.TGA", 18},
    {"targa_grey", {"/usr/bin/ppmtotga", "-mono"}, Input::Pgm, "a.tga", 18},
    {"paintjet", {"/usr/bin/ppmtopj"}, Input::Ppm, "a.pj", 19},
    {"slide", {"/usr/bin/ppmtoacad"}, Input::Ppm, "a", 24},
    {"spectrum", {"/usr/bin/ppmtospu"}, Input::Screen, "a.spu", 26},
    {"facesaver", {"/usr/bin/pgmtofs"}, Input::Pgm, "a", 28},
    {"fits", {"/usr/bin/pamtofits"}, Input::Pgm, "a", 29},
    {"lispm", {"/usr/bin/pgmtolispm"}, Input::Pgm, "a", 30},
    {"xwd", {"/usr/bin/pnmtoxwd"}, Input::Ppm, "a", 43},
};
INSTANTIATE_TEST_SUITE_P(NetpbmColour, PeerFile, testing::ValuesIn(kNetpbmColour), case_label);

const PeerCase kNetpbmBitmap[] = {
    {"epsi", {"/usr/bin/pbmtoepsi"}, Input::Pbm, "a", 4},
    {"macpaint", {"/usr/bin/pbmtomacp"}, Input::Pbm, "a.mac", 32},
    {"atk", {"/usr/bin/pbmtoatk"}, Input::Pbm, "a", 33},
    {"cmuwm", {"/usr/bin/pbmtocmuwm"}, Input::Pbm, "a", 35},
    {"mgr", {"/usr/bin/pbmtomgr"}, Input::Pbm, "a", 36},
    {"g3", {"/usr/bin/pbmtog3"}, Input::Pbm, "a.g3", 37},
    {"fax", {"/usr/bin/pbmtog3"}, Input::Pbm, "a.FAX", 37},
    {"gem", {"/usr/bin/pbmtogem"}, Input::Pbm, "a", 38},
    {"icon", {"/usr/bin/pbmtoicon"}, Input::Pbm, "a", 39},
    {"sunicon", {"/usr/bin/pbmtosunicon"}, Input::Pbm, "a", 39},
    {"degas_high", {"/usr/bin/pbmtopi3"}, Input::Pbm, "a.pi3", 40},
    {"xbm", {"/usr/bin/pbmtoxbm"}, Input::Pbm, "a", 41},
    {"x10bm", {"/usr/bin/pbmtox10bm"}, Input::Pbm, "a", 41},
    {"ybm", {"/usr/bin/pbmtoybm"}, Input::Pbm, "a", 42},
};
INSTANTIATE_TEST_SUITE_P(NetpbmBitmap, PeerFile, testing::ValuesIn(kNetpbmBitmap), case_label);

const PeerCase kImageMagick[] = {
    {"sun", {"/usr/bin/convert", "ppm:-", "sun:-"}, Input::Ppm, "a", 0},
    {"tiff_msb", {"/usr/bin/convert", "ppm:-", "-define", "tiff:endian=msb", "tiff:-"}, Input::Ppm,
     "a", 1, "MM"},
    {"pict", {"/usr/bin/convert", "ppm:-", "pict:-"}, Input::Ppm, "a", 5},
    {"xpm", {"/usr/bin/convert", "ppm:-", "xpm:-"}, Input::Ppm, "a", 6},
    {"pcx", {"/usr/bin/convert", "ppm:-", "pcx:-"}, Input::Ppm, "a", 9},
    {"photocd", {"/usr/bin/convert", "ppm:-", "pcd:-"}, Input::Ppm, "a", 16},
    {"targa", {"/usr/bin/convert", "ppm:-", "tga:-"}, Input::Ppm, "a.tga", 18},
    {"mtv", {"/usr/bin/convert", "ppm:-", "mtv:-"}, Input::Ppm, "a.mtv", 21},
    {"fits", {"/usr/bin/convert", "ppm:-", "fits:-"}, Input::Ppm, "a", 29},
    {"g3", {"/usr/bin/convert", "ppm:-", "g3:-"}, Input::Ppm, "a.g3", 37},
    {"xbm", {"/usr/bin/convert", "ppm:-", "xbm:-"}, Input::Ppm, "a", 41},
    {"xwd", {"/usr/bin/convert", "ppm:-", "xwd:-"}, Input::Ppm, "a", 43},
};
INSTANTIATE_TEST_SUITE_P(ImageMagick, PeerFile, testing::ValuesIn(kImageMagick), case_label);

const PeerCase kCompressors[] = {
    {"compress", {"/usr/bin/compress", "-c"}, Input::Screen, "a.ppm.Z", kCompressed, "\x1f\x9d"},
    {"gzip", {"/usr/bin/gzip", "-c"}, Input::Screen, "a.ppm.gz", kCompressed, "\x1f\x8b"},
};
INSTANTIATE_TEST_SUITE_P(Compressors, PeerFile, testing::ValuesIn(kCompressors), case_label);

// --- hand-built contents -----------------------------------------------------------

Bytes kestrel_le()
{
    Bytes b;
    for (uint32_t w : {0x59a66a95u, 2u, 2u, 8u, 8u, 1u, 0u, 0u})
        put_le32(b, w);
    return b + Bytes(8, '\x40');
}

Bytes bigtiff()
{
    Bytes b("II+\0\x08\0\0\0", 8);
    put_le32(b, 16);
    put_le32(b, 0);
    return b + Bytes(16, '\0');
}

Bytes dos_eps(uint32_t ps_length_claimed)
{
    Bytes ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 8 4\nshowpage\n";
    Bytes b("\xc5\xd0\xd3\xc6", 4);
    for (uint32_t w : {30u, ps_length_claimed, 0u, 0u, 0u, 0u})
        put_le32(b, w);
    put_le16(b, 0xffff);
    return b + ps;
}

Bytes gif()
{
    Bytes b = "GIF89a";
    put_le16(b, 1);
    put_le16(b, 1);
    b += Bytes("\x80\0\0\0\0\0\xff\xff\xff", 9);
    return b + Bytes(",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 16);
}

Bytes photocd(size_t size)
{
    Bytes b = Bytes(2048, '\xff') + "PCD_IPI";
    b.resize(size, '\0');
    return b;
}

// A version 1 picture without the 512-byte header: size, frame, version, end.
Bytes pict_v1()
{
    Bytes b;
    for (uint32_t w : {20u, 0u, 0u, 4u, 8u})
        put_be16(b, w);
    return b + Bytes("\x11\x01\xa0\x00\x82\xff", 6);
}

Bytes spectrum()
{
    Bytes b("SP\0\0", 4);
    put_be32(b, 6);
    put_be32(b, 4);
    return b + Bytes(10, '\x01');
}

Bytes hips_old()
{
    Bytes header = "orig\nseq\n1\ndate\n3\n4\n8\n0\n0\nhist\n.\n";
    return header + Bytes(12, '\x80');
}

Bytes img_whatnot()
{
    Bytes b("imgfile\0", 8);
    return b + "AT" + "00000012" + "000400030000" + "PD" + "00000012" + Bytes(12, '\x10');
}

Bytes xim()
{
    Bytes b = field("3", 8) + field("1024", 8) + field("4", 8) + field("3", 8) + field("256", 8) +
              field("1", 3) + field("4", 5) + field("1", 4) + field("8", 4) + field("0", 4) +
              field("0", 4);
    b.resize(1024, '\0');
    return b + Bytes(12, '\x20');
}

Bytes qrt()
{
    Bytes b;
    put_le16(b, 4);
    put_le16(b, 3);
    for (uint32_t row = 0; row < 3; row++) {
        put_le16(b, row);
        b += Bytes(12, '\x30');
    }
    return b;
}

Bytes brush()
{
    Bytes b("\x01\0", 2);
    put_be16(b, 4);
    put_be16(b, 3);
    return b + Bytes(10, '\0') + Bytes("\xf0\0\x90\0\xf0\0", 6);
}

// A MacBinary header naming a MacPaint document, then the document: a version
// word, empty patterns, and 720 rows of 72 white bytes, packed.
Bytes macbinary_paint()
{
    Bytes b(128, '\0');
    b[1] = 5;
    b.replace(2, 5, "paint");
    b.replace(65, 8, "PNTGMPNT");
    Bytes doc(512, '\0');
    doc[3] = 2;
    for (int row = 0; row < 720; row++)
        doc += Bytes("\xb9\0", 2);
    b[83] = static_cast<char>(doc.size() >> 24);
    b[84] = static_cast<char>(doc.size() >> 16);
    b[85] = static_cast<char>(doc.size() >> 8);
    b[86] = static_cast<char>(doc.size());
    return b + doc;
}

// An uncompressed 24-bit Targa of w x h, with or without the 2.0 footer.
Bytes targa(int w, int h, bool footer)
{
    Bytes b("\0\0\x02\0\0\0\0\0\0\0\0\0", 12);
    put_le16(b, w);
    put_le16(b, h);
    b += Bytes("\x18\x20", 2);
    for (int i = 0; i < w * h * 3; i++)
        b += static_cast<char>(i * 7);
    if (footer)
        b += Bytes(8, '\0') + Bytes("TRUEVISION-XFILE.\0", 18);
    return b;
}

// A little-endian X11 window dump of 2 x 1 pixels with two colours.
Bytes xwd_le()
{
    Bytes b;
    for (uint32_t w : {101u, 7u, 2u, 8u, 2u, 1u, 0u, 0u, 8u, 0u, 8u, 8u, 2u, 3u, 0u, 0u, 0u, 8u,
                       2u, 2u, 2u, 1u, 0u, 0u, 0u})
        put_le32(b, w);
    b += '\0';
    for (uint32_t pixel = 0; pixel < 2; pixel++) {
        put_le32(b, pixel);
        put_le16(b, pixel * 0xffff);
        put_le16(b, pixel * 0xffff);
        put_le16(b, pixel * 0xffff);
        b += Bytes("\x07\0", 2);
    }
    return b + Bytes("\0\x01", 2);
}

// A footed Targa whose image type is replaced.
Bytes targa_with_type(char type)
{
    Bytes b = targa(8, 4, true);
    b[2] = type;
    return b;
}

Bytes text_file()
{
    return "This is a plain text file.\nIt has a few lines, like a README,\n"
           "with numbers 1 2 3 and P1 or P6 in it, but no image.\n";
}

struct HandCase {
    const char *label;   // test name
    Bytes bytes;         // the content
    const char *name;    // its file name (nullptr: a buffer without a name)
    int row;             // expected format row, kCompressed or kUntyped
    const char *reader;  // netpbm program that must accept the content, or nullptr
};

class HandBuilt : public testing::TestWithParam<HandCase> {};

// Typed the same from memory and from a file; the reader proves the fixture real.
TEST_P(HandBuilt, IsTyped)
{
    const HandCase &c = GetParam();
    std::string want = expected_name(c.row);
    EXPECT_EQ(type_of_buffer(c.bytes, c.name), want);

    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir.file(c.name != nullptr ? c.name : "content");
    ASSERT_TRUE(write_file(path, c.bytes));
    EXPECT_EQ(type_of_file(path), want);

    if (c.reader != nullptr && executable(c.reader)) {
        EXPECT_TRUE(run_peer({c.reader}, path, dir.file("out.pnm"))) << c.reader << " refused it";
    }
}

std::string hand_label(const testing::TestParamInfo<HandCase> &info)
{
    return info.param.label;
}

const HandCase kSignatures[] = {
    {"kestrel_little_endian", kestrel_le(), nullptr, 0, nullptr},
    {"bigtiff", bigtiff(), nullptr, 1, nullptr},
    {"gif", gif(), nullptr, 2, "/usr/bin/giftopnm"},
    {"postscript_adobe", "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\nshowpage\n", nullptr, 3,
     nullptr},
    {"postscript_bare", "%!\n/Times-Roman findfont\n", nullptr, 3, nullptr},
    {"postscript_epsf_later", "%!PS-Adobe-3.0\n%%Title: EPSF-3.0\n", nullptr, 3, nullptr},
    {"epsf_comment", "%!PS-Adobe-2.0 EPSF-1.2\n%%BoundingBox: 0 0 1 1\n", nullptr, 4, nullptr},
    {"epsf_dos_binary", dos_eps(52), nullptr, 4, nullptr},
    {"xpm3_after_blank_line", "\n/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n};\n", nullptr, 6,
     nullptr},
    {"xpm2", "! XPM2\n2 1 2 1\na c #000000\nb c #ffffff\nab\n", nullptr, 6, nullptr},
    {"xpm1", "#define x_format 1\n#define x_width 2\n#define x_height 1\n", nullptr, 6, nullptr},
    {"photocd", photocd(4096), nullptr, 16, nullptr},
    {"pict_without_header", pict_v1(), nullptr, 5, nullptr},
    {"imgwhatnot", img_whatnot(), nullptr, 23, "/usr/bin/imgtoppm"},
    {"xim", xim(), nullptr, 20, "/usr/bin/ximtoppm"},
    {"spectrum_compressed", spectrum(), nullptr, 25, nullptr},
    {"hips2", "HIPS\n" + hips_old(), nullptr, 31, nullptr},
    {"macbinary_paint", macbinary_paint(), nullptr, 32, "/usr/bin/macptopbm"},
    {"targa_footer", targa(8, 4, true), nullptr, 18, "/usr/bin/tgatoppm"},
    {"targa_footer_past_head", targa(64, 64, true), nullptr, 18, "/usr/bin/tgatoppm"},
    {"xbm_after_comment",
     "/* c */\n#define c_width 8\n#define c_height 2\nstatic unsigned char c_bits[] = {\n"
     " 0x01, 0x02 };\n",
     nullptr, 41, "/usr/bin/xbmtopbm"},
    {"xwd_little_endian", xwd_le(), nullptr, 43, "/usr/bin/xwdtopnm"},
};
INSTANTIATE_TEST_SUITE_P(Signatures, HandBuilt, testing::ValuesIn(kSignatures), hand_label);

const HandCase kSuffixes[] = {
    {"qrt", qrt(), "a.qrt", 22, "/usr/bin/qrttoppm"},
    {"mtv", "4 3\n" + Bytes(36, '\x55'), "a.MTV", 21, "/usr/bin/mtvtoppm"},
    {"prt", "4 3\n" + Bytes(36, '\x55'), "a.prt", 21, nullptr},
    {"hips", hips_old(), "a.hips", 31, "/usr/bin/hipstopgm"},
    {"brush", brush(), "a.brush", 34, "/usr/bin/brushtopbm"},
    {"gould", Bytes(600, '\0'), "a.gould", 27, nullptr},
    {"targa_upper_case", targa(8, 4, false), "A.TGA", 18, "/usr/bin/tgatoppm"},
    // A signature wins over the name.
    {"gif_named_tga", gif(), "a.tga", 2, nullptr},
    {"pbm_named_g3", pnm('4', 8, 4), "a.g3", 12, nullptr},
    {"jpeg_named_pi1", Bytes("\xff\xd8\xff\xe0\0\x10JFIF\0", 11), "a.pi1", 13, nullptr},
    {"postscript_named_mac", Bytes("%!\n") + Bytes(600, ' '), "a.mac", 3, nullptr},
    {"compress_named_gould", Bytes("\x1f\x9d\x90", 3) + Bytes(600, 'x'), "a.gould", kCompressed,
     nullptr},
};
INSTANTIATE_TEST_SUITE_P(Suffixes, HandBuilt, testing::ValuesIn(kSuffixes), hand_label);

const HandCase kUntypedContents[] = {
    {"empty", "", nullptr, kUntyped, nullptr},
    {"empty_named_g3", "", "a.g3", kUntyped, nullptr},
    {"text", text_file(), nullptr, kUntyped, nullptr},
    {"text_named_tga", text_file(), "a.tga", kUntyped, nullptr},
    {"text_named_pi1", text_file(), "a.pi1", kUntyped, nullptr},
    {"text_named_mtv", text_file(), "a.mtv", kUntyped, nullptr},
    {"text_named_hips", text_file(), "a.hips", kUntyped, nullptr},
    {"text_named_qrt", text_file(), "a.qrt", kUntyped, nullptr},
    {"text_named_pj", text_file(), "a.pj", kUntyped, nullptr},
    {"text_pnm_like", "P1 is a part number\n", nullptr, kUntyped, nullptr},
    {"text_define", "#define VERSION 3\n#define NAME_width_x y\n", nullptr, kUntyped, nullptr},
    {"text_bangs", "!! Warning: this is a text file.\n", nullptr, kUntyped, nullptr},
    {"fits_not_simple", "SIMPLE  =                    F" + Bytes(50, ' '), nullptr, kUntyped,
     nullptr},
    {"compress_bad_flags", Bytes("\x1f\x9d\x60", 3) + Bytes(20, 'x'), nullptr, kUntyped, nullptr},
    {"png", Bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), nullptr, kUntyped, nullptr},
    // Headers cut short.
    {"gif_signature_only", "GIF89a", nullptr, kUntyped, nullptr},
    {"kestrel_cut", kestrel_le().substr(0, 20), nullptr, kUntyped, nullptr},
    {"tiff_cut", Bytes("II*\0", 4), nullptr, kUntyped, nullptr},
    {"pnm_no_height", "P6\n32", nullptr, kUntyped, nullptr},
    {"xwd_cut", xwd_le().substr(0, 60), nullptr, kUntyped, nullptr},
    {"photocd_cut", photocd(2052), nullptr, kUntyped, nullptr},
    {"dos_eps_overlong", dos_eps(5000), nullptr, kUntyped, nullptr},
    {"ybm_cut", Bytes("!!\0\x10\0\x10\0\0\0\0", 10), nullptr, kUntyped, nullptr},
    {"mgr_cut", Bytes("yz $ #! ", 8), nullptr, kUntyped, nullptr},
    {"targa_pixels_cut", targa(8, 4, false).substr(0, 80), "a.tga", kUntyped, nullptr},
    {"targa_footer_bad_type", targa_with_type(7), nullptr, kUntyped, nullptr},
    {"degas_one_short", Bytes(32033, '\0'), "a.pi1", kUntyped, nullptr},
    {"degas_wrong_resolution", Bytes("\0\x01", 2) + Bytes(32032, '\0'), "a.pi1", kUntyped,
     nullptr},
    {"spu_one_short", Bytes(51103, '\0'), "a.spu", kUntyped, nullptr},
    {"gould_too_short", Bytes(100, '\0'), "a.gould", kUntyped, nullptr},
    {"suffix_is_whole_name", Bytes(600, '\0'), ".gould", kUntyped, nullptr},
};
INSTANTIATE_TEST_SUITE_P(Untyped, HandBuilt, testing::ValuesIn(kUntypedContents), hand_label);

// Every row that content can be recognised as has a fixture above; the other
// resolutions of a Photo CD pack are only chosen by hand.
TEST(DataTyping, EveryRecognisableRowHasAFixture)
{
    std::set<int> rows;
    auto add = [&rows](const auto &cases) {
        for (const auto &c : cases)
            rows.insert(c.row);
    };
    add(kNetpbmColour);
    add(kNetpbmBitmap);
    add(kImageMagick);
    add(kSignatures);
    add(kSuffixes);
    for (int row = 0; row <= 43; row++) {
        if (row == 14 || row == 15 || row == 17)
            continue;
        EXPECT_TRUE(rows.count(row)) << "no fixture for " << all_types[row].dt_name;
    }
}

// Random bytes are untyped, also under the names whose rules check the content.
TEST(DataTyping, RandomBytesAreData)
{
    std::mt19937 gen(20240601);
    const char *names[] = {nullptr, "a.tga", "a.pi1", "a.pi3", "a.spu", "a.qrt", "a.mtv",
                           "a.brush", "a.hips", "a.mac", "a.pj"};
    for (int i = 0; i < 300; i++) {
        Bytes b(1 + gen() % 5000, '\0');
        for (char &c : b)
            c = static_cast<char>(gen());
        // A leading escape is all a PaintJet file shows; keep it out.
        if (b[0] == '\x1b')
            b[0] = 'x';
        for (const char *name : names)
            EXPECT_EQ(type_of_buffer(b, name), "DATA") << "buffer " << i << " named "
                                                      << (name ? name : "(none)");
    }
}

// Sizes and pointers that are not a content.
TEST(DataTyping, DegenerateBuffers)
{
    EXPECT_EQ(type_of_buffer(Bytes(), "a.g3"), "DATA");
    char *t = DtDtsBufferToDataType(nullptr, 10, "a.g3");
    EXPECT_STREQ(t, "DATA");
    DtDtsFreeDataType(t);
    t = DtDtsBufferToDataType("GIF89a\1\0\1\0\0\0\0", -5, nullptr);
    EXPECT_STREQ(t, "DATA");
    DtDtsFreeDataType(t);
    DtDtsFreeDataType(nullptr);
}

// Paths that are no readable regular file, including a FIFO nobody writes to
// (typing must not wait for a writer).
TEST(DataTyping, PathsThatAreNoFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    EXPECT_EQ(type_of_file(dir.file("missing.gif")), "DATA");
    EXPECT_EQ(type_of_file(dir.file("")), "DATA");  // the folder itself
    std::string fifo = dir.file("pipe.gif");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(type_of_file(fifo), "DATA");
    char *t = DtDtsFileToDataType(nullptr);
    EXPECT_STREQ(t, "DATA");
    DtDtsFreeDataType(t);
    t = DtDtsFileToDataType("");
    EXPECT_STREQ(t, "DATA");
    DtDtsFreeDataType(t);
}

// The size-dependent rules see the whole file, not only the bytes read first.
TEST(DataTyping, FileSizeComesFromTheFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir.file("low.pi1");
    ASSERT_TRUE(write_file(path, Bytes(32034, '\0')));
    EXPECT_EQ(type_of_file(path), "pi1-file");
    ASSERT_TRUE(write_file(path, Bytes(32035, '\0')));
    EXPECT_EQ(type_of_file(path), "DATA");
}

}  // namespace
