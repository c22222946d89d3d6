// dt.cc - data typing: a const table of recognition rules, walked in order over
// the first bytes, the size and the last bytes of a content.  Signatures and
// header checks come first, the most specific before the looser; rules that need
// the file name's suffix come last, for formats that carry no signature.
#include "platform/dt/dt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

namespace {

using namespace std::literals;

// Every leading-bytes rule looks within this many bytes (Photo CD: 2048 + 7).
constexpr size_t kHeadBytes = 4096;
// The TGA 2.0 footer: extension offset, developer offset, signature.
constexpr size_t kTailBytes = 26;

constexpr const char *kData = "DATA";

// What typing knows of a content.
struct Sample {
    std::span<const unsigned char> head;  // the first bytes, at most kHeadBytes
    std::span<const unsigned char> tail;  // the last bytes, at most kTailBytes
    uint64_t size;                        // of the whole content, bytes
    std::string_view name;                // last component of the file name, or empty
};

// --- reading the sample; nothing here reads outside the head -----------------

// Returns whether the head holds n bytes from off.
bool has(const Sample &s, size_t off, size_t n)
{
    return off <= s.head.size() && n <= s.head.size() - off;
}

// Returns the head byte at off, 0 past its end.
unsigned u8(const Sample &s, size_t off)
{
    return off < s.head.size() ? s.head[off] : 0;
}

// Returns the 16-bit big-endian word at off.
uint32_t be16(const Sample &s, size_t off)
{
    return u8(s, off) << 8 | u8(s, off + 1);
}

// Returns the 16-bit little-endian word at off.
uint32_t le16(const Sample &s, size_t off)
{
    return u8(s, off) | u8(s, off + 1) << 8;
}

// Returns the 32-bit big-endian word at off.
uint32_t be32(const Sample &s, size_t off)
{
    return be16(s, off) << 16 | be16(s, off + 2);
}

// Returns the 32-bit little-endian word at off.
uint32_t le32(const Sample &s, size_t off)
{
    return le16(s, off) | le16(s, off + 2) << 16;
}

// Returns whether the head holds exactly the bytes m at off.
bool bytes_at(const Sample &s, size_t off, std::string_view m)
{
    return has(s, off, m.size()) && std::memcmp(s.head.data() + off, m.data(), m.size()) == 0;
}

// Returns the head as text.
std::string_view head_text(const Sample &s)
{
    return {reinterpret_cast<const char *>(s.head.data()), s.head.size()};
}

// Returns whether c is a space or a tab.
bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Returns whether c is white space of a text header.
bool is_space(char c)
{
    return is_blank(c) || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Returns whether c is a decimal digit.
bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Numbers in headers saturate here, so products of three of them cannot overflow.
constexpr uint64_t kNumberCap = uint64_t(1) << 30;

// A forward reader over text; every step stays inside it and consumes or stops.
class Text {
public:
    explicit Text(std::string_view t, size_t pos = 0) : t_(t), pos_(std::min(pos, t.size())) {}

    char peek() const { return pos_ < t_.size() ? t_[pos_] : '\0'; }

    // Consumes lit when it comes next; returns whether it did.
    bool take(std::string_view lit)
    {
        if (!t_.substr(pos_).starts_with(lit))
            return false;
        pos_ += lit.size();
        return true;
    }

    // Consumes blanks; returns how many.
    size_t blanks() { return skip(is_blank); }

    // Consumes white space; returns how many bytes.
    size_t space() { return skip(is_space); }

    // Consumes white space and C comments.
    void space_and_comments()
    {
        for (;;) {
            space();
            if (!take("/*"))
                return;
            size_t end = t_.find("*/", pos_);
            pos_ = end == std::string_view::npos ? t_.size() : end + 2;
        }
    }

    // Consumes white space and '#' comments (PNM headers); returns whether any.
    bool space_and_hash_comments()
    {
        size_t start = pos_;
        for (;;) {
            space();
            if (peek() != '#')
                return pos_ > start;
            size_t end = t_.find('\n', pos_);
            pos_ = end == std::string_view::npos ? t_.size() : end + 1;
        }
    }

    // Consumes a decimal number into *v (saturated at kNumberCap); returns
    // whether there was one.
    bool number(uint64_t *v)
    {
        size_t start = pos_;
        uint64_t n = 0;
        for (; pos_ < t_.size() && is_digit(t_[pos_]); pos_++)
            n = std::min(n * 10 + uint64_t(t_[pos_] - '0'), kNumberCap);
        *v = n;
        return pos_ > start;
    }

    // Consumes a C identifier and returns it (empty when none comes next).
    std::string_view ident()
    {
        size_t start = pos_;
        while (pos_ < t_.size() && (t_[pos_] == '_' || is_digit(t_[pos_]) ||
                                    (t_[pos_] >= 'a' && t_[pos_] <= 'z') ||
                                    (t_[pos_] >= 'A' && t_[pos_] <= 'Z')))
            pos_++;
        return t_.substr(start, pos_ - start);
    }

    // Consumes a line with its '\n' into *line (without it); false when the text
    // ends before a '\n'.
    bool line(std::string_view *line)
    {
        size_t end = t_.find('\n', pos_);
        if (end == std::string_view::npos)
            return false;
        *line = t_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

    size_t pos() const { return pos_; }

private:
    size_t skip(bool (*pred)(char))
    {
        size_t start = pos_;
        while (pos_ < t_.size() && pred(t_[pos_]))
            pos_++;
        return pos_ - start;
    }

    std::string_view t_;
    size_t pos_;  // next byte to read, at most t_.size()
};

// Returns whether line is a whole decimal number between blanks, with its value.
bool decimal_line(std::string_view line, uint64_t *v)
{
    Text t(line);
    t.blanks();
    if (!t.number(v))
        return false;
    t.blanks();
    t.take("\r");
    return t.pos() == line.size();
}

// Returns the value of a fixed-width field of blanks, digits, then blanks or NULs
// (Xim and Img-whatnot headers), or -1 when it is not one.
int64_t ascii_field(const Sample &s, size_t off, size_t width)
{
    if (!has(s, off, width))
        return -1;
    std::string_view field = head_text(s).substr(off, width);
    Text t(field);
    uint64_t v;
    t.blanks();
    if (!t.number(&v))
        return -1;
    for (size_t i = t.pos(); i < field.size(); i++)
        if (field[i] != ' ' && field[i] != '\0')
            return -1;
    return int64_t(v);
}

// --- header checks, one per format: whether the fields agree with it ---------

// compress(1): code width 9 to 16 bits, reserved flag bits clear.
bool compress_header(const Sample &s)
{
    unsigned flags = u8(s, 2);  // maximum code bits, block mode
    return has(s, 0, 3) && (flags & 0x1f) >= 9 && (flags & 0x1f) <= 16 && (flags & 0x60) == 0;
}

// gzip: deflate, reserved flag bits clear, a whole 10-byte header.
bool gzip_header(const Sample &s)
{
    return has(s, 0, 10) && u8(s, 2) == 8 && (u8(s, 3) & 0xe0) == 0;
}

// Kestrel raster: eight words in the byte order of the magic.
bool kestrel_header(const Sample &s)
{
    if (!has(s, 0, 32))
        return false;
    bool big = u8(s, 0) == 0x59;
    auto word = [&](size_t i) { return big ? be32(s, 4 * i) : le32(s, 4 * i); };
    uint32_t depth = word(3), type = word(5), maptype = word(6);
    return word(1) > 0 && word(2) > 0 &&
           (depth == 1 || depth == 8 || depth == 24 || depth == 32) &&
           (type <= 5 || type == 0xffff) && maptype <= 2;
}

// Classic TIFF: the first directory lies after the 8-byte header.
bool tiff_header(const Sample &s)
{
    uint32_t ifd = u8(s, 0) == 'I' ? le32(s, 4) : be32(s, 4);
    return has(s, 0, 8) && ifd >= 8;
}

// GIF: the signature and a whole logical screen descriptor.
bool gif_header(const Sample &s)
{
    return has(s, 0, 13);  // signature and logical screen descriptor
}

constexpr auto kAdobeMagic = "%!PS-Adobe-"sv;

// "%!PS-Adobe-n.n EPSF..." marks encapsulated PostScript.
bool epsf_comment(const Sample &s)
{
    Text t(head_text(s), kAdobeMagic.size());
    uint64_t v;
    return t.number(&v) && t.take(".") && t.number(&v) && t.blanks() > 0 && t.take("EPSF");
}

// The DOS EPS binary header: PostScript offset and length inside the file.
bool dos_eps_header(const Sample &s)
{
    uint64_t off = le32(s, 4), len = le32(s, 8);
    return has(s, 0, 30) && off >= 30 && len > 0 && off + len <= s.size;
}

// XPM3: "/* XPM */" after optional white space.
bool xpm3_comment(const Sample &s)
{
    Text t(head_text(s));
    t.space();
    return t.take("/* XPM */");
}

// Returns whether the text starts, after white space and comments, with
// "#define <name><ending> <number>".
bool c_define(const Sample &s, std::string_view ending)
{
    Text t(head_text(s));
    t.space_and_comments();
    if (!t.take("#define") || t.blanks() == 0)
        return false;
    std::string_view id = t.ident();
    uint64_t v;
    return id.size() > ending.size() && id.ends_with(ending) && t.blanks() > 0 && t.number(&v);
}

// XPM1: "#define <name>_format <n>".
bool xpm1_define(const Sample &s)
{
    return c_define(s, "_format");
}

// X bitmap (X10 or X11): "#define <name>_width <n>".
bool xbm_define(const Sample &s)
{
    return c_define(s, "_width");
}

// FITS: the SIMPLE card says T in column 30.
bool fits_header(const Sample &s)
{
    if (!has(s, 0, 30))
        return false;
    for (size_t i = 9; i < 29; i++)
        if (u8(s, i) != ' ')
            return false;
    return u8(s, 29) == 'T';
}

// AutoCAD slide: type indicator 0x56, level 1 or 2.
bool slide_header(const Sample &s)
{
    return u8(s, 17) == 0x56 && (u8(s, 18) == 1 || u8(s, 18) == 2);
}

// IFF: a FORM of an interleaved or a chunky bitmap.
bool iff_image_form(const Sample &s)
{
    return bytes_at(s, 8, "ILBM"sv) || bytes_at(s, 8, "PBM "sv);
}

// CMU window manager bitmap: width, height, depth 1.
bool cmuwm_header(const Sample &s)
{
    return has(s, 0, 14) && be32(s, 4) > 0 && be32(s, 8) > 0 && be16(s, 12) == 1;
}

// Kestrel icon text header: a width follows "Width=".
bool sun_icon_header(const Sample &s)
{
    constexpr size_t width_at = "/* Format_version=1, Width="sv.size();
    return is_digit(static_cast<char>(u8(s, width_at)));
}

// FaceSaver: "Key: value" lines, one of them "PicData: w h d".
bool facesaver_header(const Sample &s)
{
    static constexpr std::string_view keys[] = {
        "FirstName", "LastName", "E-mail",       "Telephone", "Company", "Address1",
        "Address2",  "CityStateZip", "Date",     "PicData",   "Image"};
    std::string_view text = head_text(s);
    size_t colon = text.substr(0, 16).find(':');
    if (colon == std::string_view::npos ||
        std::find(std::begin(keys), std::end(keys), text.substr(0, colon)) == std::end(keys))
        return false;
    return text.starts_with("PicData:") || text.find("\nPicData:") != std::string_view::npos;
}

// Img-whatnot: an 8-byte name, then "AT", the attribute length and the
// attributes (columns, rows, colormap length, four digits each).
bool imgw_header(const Sample &s)
{
    return ascii_field(s, 10, 8) >= 12 && ascii_field(s, 18, 4) > 0 &&
           ascii_field(s, 22, 4) > 0 && ascii_field(s, 26, 4) >= 0;
}

// Xim: a 1024-byte header of decimal fields, version 3.
bool xim_header(const Sample &s)
{
    return s.size >= 1024 && ascii_field(s, 0, 8) == 3 && ascii_field(s, 8, 8) == 1024 &&
           ascii_field(s, 16, 8) > 0 && ascii_field(s, 24, 8) > 0;
}

// Compressed Spectrum: data and palette lengths that fit in the file.
bool spectrum_header(const Sample &s)
{
    uint64_t data = be32(s, 4), palette = be32(s, 8);
    return has(s, 0, 12) && data > 0 && palette > 0 && 12 + data + palette <= s.size;
}

// A MacBinary header of a MacPaint document.
bool macbinary_header(const Sample &s)
{
    return has(s, 0, 128) && u8(s, 0) == 0 && u8(s, 1) >= 1 && u8(s, 1) <= 63 && u8(s, 74) == 0 &&
           u8(s, 82) == 0;
}

// Returns whether bits is an X bitmap unit or pad.
bool is_unit(uint32_t bits)
{
    return bits == 8 || bits == 16 || bits == 32;
}

// X11 window dump: header words in the byte order that reads version 7.
bool xwd_header(const Sample &s)
{
    if (!has(s, 0, 100))
        return false;
    bool big = be32(s, 4) == 7;
    if (!big && le32(s, 4) != 7)
        return false;
    auto word = [&](size_t i) { return big ? be32(s, 4 * i) : le32(s, 4 * i); };
    uint32_t header = word(0), format = word(2), depth = word(3), bpp = word(11);
    return header >= 100 && header <= 100 + 4096 && format <= 2 && depth >= 1 && depth <= 32 &&
           word(4) > 0 && word(5) > 0 && word(7) <= 1 && is_unit(word(8)) && word(9) <= 1 &&
           is_unit(word(10)) && bpp >= 1 && bpp <= 32 && word(13) <= 5;
}

// GEM bit image: header length in words, planes, pattern length, size.
bool gem_header(const Sample &s)
{
    uint32_t words = be16(s, 2), planes = be16(s, 4), pattern = be16(s, 6);
    return has(s, 0, 16) && words >= 8 && uint64_t(words) * 2 <= s.size &&
           ((planes >= 1 && planes <= 8) || planes == 16 || planes == 24 || planes == 32) &&
           pattern >= 1 && pattern <= 8 && be16(s, 12) > 0 && be16(s, 14) > 0;
}

// PC Paintbrush: version, run-length encoding, bits per pixel, window, planes.
bool pcx_header(const Sample &s)
{
    unsigned version = u8(s, 1), bits = u8(s, 3), planes = u8(s, 65);
    return has(s, 0, 128) && (version == 0 || (version >= 2 && version <= 5)) && u8(s, 2) == 1 &&
           (bits == 1 || bits == 2 || bits == 4 || bits == 8) && le16(s, 8) >= le16(s, 4) &&
           le16(s, 10) >= le16(s, 6) && planes >= 1 && planes <= 4;
}

// PNM: white space or a comment after the magic, then width and height.
bool pnm_header(const Sample &s)
{
    Text t(head_text(s), 2);
    uint64_t width, height;
    return t.space_and_hash_comments() && t.number(&width) && t.space_and_hash_comments() &&
           t.number(&height) && width > 0 && height > 0;
}

// Returns the bytes of h rows of w bits padded to unit bits, for size checks.
uint64_t padded_rows(uint64_t w, uint64_t h, uint64_t unit)
{
    return h * ((w + unit - 1) / unit) * (unit / 8);
}

// MGR: "yz", "zz" or "xz" (rows padded to 8, 16 or 32 bits), then width and
// height in two 6-bit digits each, depth 1.
bool mgr_header(const Sample &s)
{
    unsigned kind = u8(s, 0);
    if (!has(s, 0, 8) || u8(s, 1) != 'z' || (kind != 'x' && kind != 'y' && kind != 'z') ||
        u8(s, 6) != '!')
        return false;
    for (size_t i = 2; i < 6; i++)
        if (u8(s, i) < 0x20 || u8(s, i) > 0x5f)
            return false;
    uint64_t w = (u8(s, 2) - 0x20) << 6 | (u8(s, 3) - 0x20);
    uint64_t h = (u8(s, 4) - 0x20) << 6 | (u8(s, 5) - 0x20);
    uint64_t unit = kind == 'y' ? 8 : kind == 'z' ? 16 : 32;
    return w > 0 && h > 0 && 8 + padded_rows(w, h, unit) <= s.size;
}

// Bennet Yee face: width and height, then rows of 16-bit words.
bool ybm_header(const Sample &s)
{
    uint64_t w = be16(s, 2), h = be16(s, 4);
    return has(s, 0, 6) && w > 0 && h > 0 && 6 + padded_rows(w, h, 16) <= s.size;
}

// Targa: image type, colour-map type, sizes and depths that agree, and a file
// long enough for the colour map and (uncompressed) the pixels.
bool tga_header(const Sample &s)
{
    if (!has(s, 0, 18))
        return false;
    unsigned id_len = u8(s, 0), map_type = u8(s, 1), type = u8(s, 2);
    uint64_t map_len = le16(s, 5);
    unsigned map_bits = u8(s, 7), depth = u8(s, 16), descriptor = u8(s, 17);
    uint64_t w = le16(s, 12), h = le16(s, 14);
    bool mapped = type == 1 || type == 9;
    bool truecolour = type == 2 || type == 10;
    bool grey = type == 3 || type == 11;
    if (!(mapped || truecolour || grey) || map_type > 1 || (mapped && map_type != 1))
        return false;
    if (w == 0 || h == 0 || (descriptor & 0xc0) != 0)
        return false;
    bool depth_ok = truecolour ? depth == 15 || depth == 16 || depth == 24 || depth == 32
                               : depth == 8 || depth == 16;
    if (!depth_ok)
        return false;
    uint64_t map_bytes = 0;
    if (map_type == 1) {
        if (map_len == 0 || !(map_bits == 15 || map_bits == 16 || map_bits == 24 || map_bits == 32))
            return false;
        map_bytes = map_len * ((map_bits + 7) / 8);
    }
    uint64_t pixels = type < 8 ? w * h * ((depth + 7) / 8) : 1;
    return 18 + id_len + map_bytes + pixels <= s.size;
}

// Targa 2.0: the footer signature at the end, and a plausible header.
bool tga_footer(const Sample &s)
{
    constexpr auto signature = "TRUEVISION-XFILE.\0"sv;
    return s.tail.size() == kTailBytes &&
           std::memcmp(s.tail.data() + kTailBytes - signature.size(), signature.data(),
                       signature.size()) == 0 &&
           tga_header(s);
}

// PICT from off: size, a frame with area, then the version 1 or 2 opcode.
bool pict_at(const Sample &s, size_t off)
{
    int top = int16_t(be16(s, off + 2)), left = int16_t(be16(s, off + 4));
    int bottom = int16_t(be16(s, off + 6)), right = int16_t(be16(s, off + 8));
    return has(s, off, 16) && bottom > top && right > left &&
           (bytes_at(s, off + 10, "\x11\x01"sv) || bytes_at(s, off + 10, "\x00\x11\x02\xff\x0c\x00"sv));
}

// PICT without the 512-byte application header.
bool pict_header(const Sample &s)
{
    return pict_at(s, 0);
}

// PICT after the 512-byte application header.
bool pict_after_512(const Sample &s)
{
    return pict_at(s, 512);
}

// --- checks of the suffix rules ------------------------------------------------

// Returns whether size is that of an uncompressed Degas picture.
bool is_degas_size(uint64_t size)
{
    return size == 32034 || size == 32066;  // plain, and with Degas Elite's animation table
}

// Degas low resolution: resolution word 0.
bool degas_low(const Sample &s)
{
    return be16(s, 0) == 0 && is_degas_size(s.size);
}

// Degas high resolution: resolution word 2.
bool degas_high(const Sample &s)
{
    return be16(s, 0) == 2 && is_degas_size(s.size);
}

// Uncompressed Spectrum 512: a fixed size.
bool spu_size(const Sample &s)
{
    return s.size == 51104;  // 200 lines of 160 bytes, then 199 x 48 palette words
}

// QRT: little-endian width and height, then numbered RGB rows.
bool qrt_header(const Sample &s)
{
    uint64_t w = le16(s, 0), h = le16(s, 2);
    return has(s, 0, 4) && w > 0 && h > 0 && 4 + h * (2 + 3 * w) <= s.size;
}

// MTV: "width height\n", then RGB bytes.
bool mtv_header(const Sample &s)
{
    Text t(head_text(s));
    uint64_t w, h;
    return t.number(&w) && t.blanks() > 0 && t.number(&h) && t.take("\n") && w > 0 && h > 0 &&
           t.pos() + w * h * 3 <= s.size;
}

// HP PaintJet: escape sequences from the first byte.
bool escape_first(const Sample &s)
{
    return u8(s, 0) == 0x1b;
}

// Gould scanner: at least the header block.
bool gould_size(const Sample &s)
{
    return s.size >= 512;  // the header is a 512-byte block
}

// Doodle brush: width, height, 16-byte header, rows of 16-bit words.
bool brush_header(const Sample &s)
{
    uint64_t w = be16(s, 2), h = be16(s, 4);
    return has(s, 0, 16) && w > 0 && h > 0 && 16 + padded_rows(w, h, 16) <= s.size;
}

// Returns whether line has no control characters but tabs and CR.
bool printable(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
    });
}

// Old HIPS: nine header lines; numbers in lines 3 and 5 to 9.
bool hips_header(const Sample &s)
{
    Text t(head_text(s));
    uint64_t v[10] = {};
    for (int field = 1; field <= 9; field++) {
        std::string_view line;
        if (!t.line(&line))
            return false;
        bool text_field = field == 1 || field == 2 || field == 4;
        if (text_field ? !printable(line) : !decimal_line(line, &v[field]))
            return false;
    }
    return v[5] > 0 && v[6] > 0 && v[7] >= 1 && v[7] <= 64;
}

// MacPaint: version 0, 2 or 3, then patterns and packed rows.
bool macpaint_header(const Sample &s)
{
    uint32_t version = be32(s, 0);
    return (version == 0 || version == 2 || version == 3) && s.size > 512;
}

// --- the rules ----------------------------------------------------------------

// One recognition rule: every part that is given must hold.
struct Rule {
    const char *type;                // the data-type name answered
    size_t offset;                   // of magic in the content, bytes
    std::string_view magic;          // bytes that must be there; empty: none
    std::string_view suffix;         // lower-case ending of the file name; empty: none
    bool (*check)(const Sample &s);  // further header checks; nullptr: none
};

constexpr Rule kRules[] = {
    // Compressed data is typed again after zcat.
    {"COMPRESSED", 0, "\x1f\x9d"sv, {}, compress_header},
    {"COMPRESSED", 0, "\x1f\x8b"sv, {}, gzip_header},

    // Binary signatures of four bytes or more.
    {"Kestrel-raster", 0, "\x59\xa6\x6a\x95"sv, {}, kestrel_header},
    {"Kestrel-raster", 0, "\x95\x6a\xa6\x59"sv, {}, kestrel_header},
    {"TIFF", 0, "II*\0"sv, {}, tiff_header},
    {"TIFF", 0, "MM\0*"sv, {}, tiff_header},
    {"TIFF", 0, "II+\0\x08\0\0\0"sv, {}, nullptr},
    {"TIFF", 0, "MM\0+\0\x08\0\0"sv, {}, nullptr},
    {"GIF", 0, "GIF87a"sv, {}, gif_header},
    {"GIF", 0, "GIF89a"sv, {}, gif_header},
    {"JPEG", 0, "\xff\xd8\xff"sv, {}, nullptr},
    {"photocd-file", 2048, "PCD_IPI"sv, {}, nullptr},
    {"ilbm-file", 0, "FORM"sv, {}, iff_image_form},
    {"cmu-file", 0, "\xf1\x00\x40\xbb"sv, {}, cmuwm_header},
    {"epsf-file", 0, "\xc5\xd0\xd3\xc6"sv, {}, dos_eps_header},
    {"mac-file", 65, "PNTG"sv, {}, macbinary_header},

    // Text signatures; encapsulated PostScript before PostScript, XPM1's
    // "#define" before the X bitmap's.
    {"epsf-file", 0, kAdobeMagic, {}, epsf_comment},
    {"POSTSCRIPT", 0, "%!"sv, {}, nullptr},
    {"PM", 0, {}, {}, xpm3_comment},
    {"PM", 0, "! XPM2"sv, {}, nullptr},
    {"PM", 0, {}, {}, xpm1_define},
    {"kestrel-icon-image", 0, "/* Format_version=1, Width="sv, {}, sun_icon_header},
    {"BM", 0, {}, {}, xbm_define},
    {"fits-file", 0, "SIMPLE  ="sv, {}, fits_header},
    {"lispm-file", 0, "This is a BitMap file"sv, {}, nullptr},
    {"sld-file", 0, "AutoCAD Slide\r\n\x1a\0"sv, {}, slide_header},
    {"atk-file", 0, "\\begindata{raster,"sv, {}, nullptr},
    {"fs-file", 0, {}, {}, facesaver_header},
    {"hips-file", 0, "HIPS\n"sv, {}, nullptr},
    {"xim-file", 0, {}, {}, xim_header},
    {"imgw-file", 8, "AT"sv, {}, imgw_header},

    // Short magics, each with header fields that must agree.
    {"spc-file", 0, "SP\0\0"sv, {}, spectrum_header},
    {"XWD", 0, {}, {}, xwd_header},
    {"img-file", 0, "\0\x01"sv, {}, gem_header},
    {"pcx-file", 0, "\x0a"sv, {}, pcx_header},
    {"pbm-file", 0, "P1"sv, {}, pnm_header},
    {"pgm-file", 0, "P2"sv, {}, pnm_header},
    {"ppm-file", 0, "P3"sv, {}, pnm_header},
    {"pbm-file", 0, "P4"sv, {}, pnm_header},
    {"pgm-file", 0, "P5"sv, {}, pnm_header},
    {"ppm-file", 0, "P6"sv, {}, pnm_header},
    {"mgr-file", 0, {}, {}, mgr_header},
    {"ybm-file", 0, "!!"sv, {}, ybm_header},
    {"tga-file", 0, {}, {}, tga_footer},
    {"pict-file", 0, {}, {}, pict_after_512},
    {"pict-file", 0, {}, {}, pict_header},

    // Formats without a signature: the suffix, with what the content allows.
    {"tga-file", 0, {}, ".tga"sv, tga_header},
    {"pi1-file", 0, {}, ".pi1"sv, degas_low},
    {"pi3-file", 0, {}, ".pi3"sv, degas_high},
    {"spu-file", 0, {}, ".spu"sv, spu_size},
    {"qrt-file", 0, {}, ".qrt"sv, qrt_header},
    {"mtv-file", 0, {}, ".mtv"sv, mtv_header},
    {"mtv-file", 0, {}, ".prt"sv, mtv_header},
    {"pj-file", 0, {}, ".pj"sv, escape_first},
    {"brush-file", 0, "\x01\0"sv, ".brush"sv, brush_header},
    {"hips-file", 0, {}, ".hips"sv, hips_header},
    {"hips-file", 0, {}, ".hip"sv, hips_header},
    {"mac-file", 0, {}, ".mac"sv, macpaint_header},
    {"mac-file", 0, {}, ".macp"sv, macpaint_header},
    {"mac-file", 0, {}, ".pntg"sv, macpaint_header},
    {"gould-file", 0, {}, ".gould"sv, gould_size},
    {"g3-file", 0, {}, ".g3"sv, nullptr},
    {"g3-file", 0, {}, ".fax"sv, nullptr},
};

// Returns whether every rule asks for some evidence and its suffix is lower case.
constexpr bool rules_are_sound()
{
    for (const Rule &r : kRules) {
        if (r.magic.empty() && r.suffix.empty() && r.check == nullptr)
            return false;
        for (char c : r.suffix)
            if (c >= 'A' && c <= 'Z')
                return false;
    }
    return true;
}
static_assert(rules_are_sound(), "a typing rule without evidence or with an upper-case suffix");

// Returns c in lower case (ASCII only: names are compared without locale).
char ascii_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Returns whether name ends in suffix (lower case), ignoring case, after at least
// one other character.
bool has_suffix(std::string_view name, std::string_view suffix)
{
    if (name.size() <= suffix.size())
        return false;
    std::string_view end = name.substr(name.size() - suffix.size());
    return std::equal(end.begin(), end.end(), suffix.begin(),
                      [](char a, char b) { return ascii_lower(a) == b; });
}

// Returns the static data-type name of the sample.
const char *type_sample(const Sample &s)
{
    if (s.size == 0)
        return kData;
    for (const Rule &r : kRules) {
        if (!r.magic.empty() && !bytes_at(s, r.offset, r.magic))
            continue;
        if (!r.suffix.empty() && !has_suffix(s.name, r.suffix))
            continue;
        if (r.check != nullptr && !r.check(s))
            continue;
        return r.type;
    }
    return kData;
}

// Returns the last component of a file name (empty for nullptr).
std::string_view base_name(const char *name)
{
    if (name == nullptr)
        return {};
    const char *slash = std::strrchr(name, '/');
    return slash != nullptr ? slash + 1 : name;
}

// Returns the bytes read into buf from offset off, up to n, stopping early only
// at end of file; -1 on a read error.
ssize_t read_at(int fd, unsigned char *buf, size_t n, off_t off)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = pread(fd, buf + got, n - got, off + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// Closes a descriptor when it goes out of scope.
struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
};

// Returns the static data-type name of the file at path.
const char *type_path(const char *path)
{
    if (path == nullptr || *path == '\0')
        return kData;
    // O_NONBLOCK: a FIFO must not hang the open; only regular files are read.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return kData;
    FdCloser closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return kData;

    unsigned char head[kHeadBytes];
    ssize_t got = read_at(fd, head, sizeof head, 0);
    if (got < 0)
        return kData;
    size_t head_len = static_cast<size_t>(got);
    // A file that ended inside the head is as long as what was read.
    uint64_t size = head_len < kHeadBytes
                        ? head_len
                        : std::max<uint64_t>(static_cast<uint64_t>(st.st_size), head_len);

    Sample s{{head, head_len}, {}, size, base_name(path)};
    unsigned char tail[kTailBytes];
    if (size == head_len) {
        size_t n = std::min(head_len, kTailBytes);
        s.tail = {head + head_len - n, n};
    } else if (read_at(fd, tail, kTailBytes, static_cast<off_t>(size - kTailBytes)) ==
               static_cast<ssize_t>(kTailBytes)) {
        s.tail = {tail, kTailBytes};
    }
    return type_sample(s);
}

}  // namespace

// Returns a malloc'ed copy of the file's data-type name (see dt.h).
char *DtDtsFileToDataType(const char *path)
{
    return strdup(type_path(path));
}

// Returns a malloc'ed copy of the content's data-type name (see dt.h).
char *DtDtsBufferToDataType(const void *bytes, int size, const char *name)
{
    if (bytes == nullptr || size <= 0)
        return strdup(kData);
    const auto *p = static_cast<const unsigned char *>(bytes);
    size_t n = static_cast<size_t>(size);
    size_t tail = std::min(n, kTailBytes);
    Sample s{{p, std::min(n, kHeadBytes)}, {p + n - tail, tail}, n, base_name(name)};
    return strdup(type_sample(s));
}

// Frees a name returned above.
void DtDtsFreeDataType(char *type)
{
    std::free(type);
}
