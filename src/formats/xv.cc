// xv.cc - XPM load and save, XBM load: through the X server with a display,
// display-free in batch mode.
#include "formats/xv.h"

#include <X11/Intrinsic.h>
#include <X11/Xutil.h>
#include <X11/xpm.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "app/corvat.h"
#include "app/reader.h"
#include "formats/limits.h"
#include "formats/savefile.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

// --- colour names and numbers ------------------------------------------------

struct NamedColour {
    const char *name;           // lower case, as the server's database spells it
    uint32_t rgb;               // 0xRRGGBB
};

// The X server's colour database, less the numbered greys (computed below).
// A name with spaces is also known without them ("alice blue", "AliceBlue").
const NamedColour x_colours[] = {
    {"snow", 0xfffafa}, {"ghost white", 0xf8f8ff}, {"white smoke", 0xf5f5f5},
    {"gainsboro", 0xdcdcdc}, {"floral white", 0xfffaf0}, {"old lace", 0xfdf5e6},
    {"linen", 0xfaf0e6}, {"antique white", 0xfaebd7}, {"papaya whip", 0xffefd5},
    {"blanched almond", 0xffebcd}, {"bisque", 0xffe4c4}, {"peach puff", 0xffdab9},
    {"navajo white", 0xffdead}, {"moccasin", 0xffe4b5}, {"cornsilk", 0xfff8dc},
    {"ivory", 0xfffff0}, {"lemon chiffon", 0xfffacd}, {"seashell", 0xfff5ee},
    {"honeydew", 0xf0fff0}, {"mint cream", 0xf5fffa}, {"azure", 0xf0ffff},
    {"alice blue", 0xf0f8ff}, {"lavender", 0xe6e6fa}, {"lavender blush", 0xfff0f5},
    {"misty rose", 0xffe4e1}, {"white", 0xffffff}, {"black", 0x000000},
    {"dark slate gray", 0x2f4f4f}, {"dark slate grey", 0x2f4f4f}, {"dim gray", 0x696969},
    {"dim grey", 0x696969}, {"slate gray", 0x708090}, {"slate grey", 0x708090},
    {"light slate gray", 0x778899}, {"light slate grey", 0x778899}, {"gray", 0xbebebe},
    {"grey", 0xbebebe}, {"light grey", 0xd3d3d3}, {"light gray", 0xd3d3d3},
    {"midnight blue", 0x191970}, {"navy", 0x000080}, {"navy blue", 0x000080},
    {"cornflower blue", 0x6495ed}, {"dark slate blue", 0x483d8b}, {"slate blue", 0x6a5acd},
    {"medium slate blue", 0x7b68ee}, {"light slate blue", 0x8470ff}, {"medium blue", 0x0000cd},
    {"royal blue", 0x4169e1}, {"blue", 0x0000ff}, {"dodger blue", 0x1e90ff},
    {"deep sky blue", 0x00bfff}, {"sky blue", 0x87ceeb}, {"light sky blue", 0x87cefa},
    {"steel blue", 0x4682b4}, {"light steel blue", 0xb0c4de}, {"light blue", 0xadd8e6},
    {"powder blue", 0xb0e0e6}, {"pale turquoise", 0xafeeee}, {"dark turquoise", 0x00ced1},
    {"medium turquoise", 0x48d1cc}, {"turquoise", 0x40e0d0}, {"cyan", 0x00ffff},
    {"light cyan", 0xe0ffff}, {"cadet blue", 0x5f9ea0}, {"medium aquamarine", 0x66cdaa},
    {"aquamarine", 0x7fffd4}, {"dark green", 0x006400}, {"dark olive green", 0x556b2f},
    {"dark sea green", 0x8fbc8f}, {"sea green", 0x2e8b57}, {"medium sea green", 0x3cb371},
    {"light sea green", 0x20b2aa}, {"pale green", 0x98fb98}, {"spring green", 0x00ff7f},
    {"lawn green", 0x7cfc00}, {"green", 0x00ff00}, {"chartreuse", 0x7fff00},
    {"medium spring green", 0x00fa9a}, {"green yellow", 0xadff2f}, {"lime green", 0x32cd32},
    {"yellow green", 0x9acd32}, {"forest green", 0x228b22}, {"olive drab", 0x6b8e23},
    {"dark khaki", 0xbdb76b}, {"khaki", 0xf0e68c}, {"pale goldenrod", 0xeee8aa},
    {"light goldenrod yellow", 0xfafad2}, {"light yellow", 0xffffe0}, {"yellow", 0xffff00},
    {"gold", 0xffd700}, {"light goldenrod", 0xeedd82}, {"goldenrod", 0xdaa520},
    {"dark goldenrod", 0xb8860b}, {"rosy brown", 0xbc8f8f}, {"indian red", 0xcd5c5c},
    {"saddle brown", 0x8b4513}, {"sienna", 0xa0522d}, {"peru", 0xcd853f}, {"burlywood", 0xdeb887},
    {"beige", 0xf5f5dc}, {"wheat", 0xf5deb3}, {"sandy brown", 0xf4a460}, {"tan", 0xd2b48c},
    {"chocolate", 0xd2691e}, {"firebrick", 0xb22222}, {"brown", 0xa52a2a},
    {"dark salmon", 0xe9967a}, {"salmon", 0xfa8072}, {"light salmon", 0xffa07a},
    {"orange", 0xffa500}, {"dark orange", 0xff8c00}, {"coral", 0xff7f50},
    {"light coral", 0xf08080}, {"tomato", 0xff6347}, {"orange red", 0xff4500}, {"red", 0xff0000},
    {"hot pink", 0xff69b4}, {"deep pink", 0xff1493}, {"pink", 0xffc0cb}, {"light pink", 0xffb6c1},
    {"pale violet red", 0xdb7093}, {"maroon", 0xb03060}, {"medium violet red", 0xc71585},
    {"violet red", 0xd02090}, {"magenta", 0xff00ff}, {"violet", 0xee82ee}, {"plum", 0xdda0dd},
    {"orchid", 0xda70d6}, {"medium orchid", 0xba55d3}, {"dark orchid", 0x9932cc},
    {"dark violet", 0x9400d3}, {"blue violet", 0x8a2be2}, {"purple", 0xa020f0},
    {"medium purple", 0x9370db}, {"thistle", 0xd8bfd8}, {"snow1", 0xfffafa}, {"snow2", 0xeee9e9},
    {"snow3", 0xcdc9c9}, {"snow4", 0x8b8989}, {"seashell1", 0xfff5ee}, {"seashell2", 0xeee5de},
    {"seashell3", 0xcdc5bf}, {"seashell4", 0x8b8682}, {"antiquewhite1", 0xffefdb},
    {"antiquewhite2", 0xeedfcc}, {"antiquewhite3", 0xcdc0b0}, {"antiquewhite4", 0x8b8378},
    {"bisque1", 0xffe4c4}, {"bisque2", 0xeed5b7}, {"bisque3", 0xcdb79e}, {"bisque4", 0x8b7d6b},
    {"peachpuff1", 0xffdab9}, {"peachpuff2", 0xeecbad}, {"peachpuff3", 0xcdaf95},
    {"peachpuff4", 0x8b7765}, {"navajowhite1", 0xffdead}, {"navajowhite2", 0xeecfa1},
    {"navajowhite3", 0xcdb38b}, {"navajowhite4", 0x8b795e}, {"lemonchiffon1", 0xfffacd},
    {"lemonchiffon2", 0xeee9bf}, {"lemonchiffon3", 0xcdc9a5}, {"lemonchiffon4", 0x8b8970},
    {"cornsilk1", 0xfff8dc}, {"cornsilk2", 0xeee8cd}, {"cornsilk3", 0xcdc8b1},
    {"cornsilk4", 0x8b8878}, {"ivory1", 0xfffff0}, {"ivory2", 0xeeeee0}, {"ivory3", 0xcdcdc1},
    {"ivory4", 0x8b8b83}, {"honeydew1", 0xf0fff0}, {"honeydew2", 0xe0eee0},
    {"honeydew3", 0xc1cdc1}, {"honeydew4", 0x838b83}, {"lavenderblush1", 0xfff0f5},
    {"lavenderblush2", 0xeee0e5}, {"lavenderblush3", 0xcdc1c5}, {"lavenderblush4", 0x8b8386},
    {"mistyrose1", 0xffe4e1}, {"mistyrose2", 0xeed5d2}, {"mistyrose3", 0xcdb7b5},
    {"mistyrose4", 0x8b7d7b}, {"azure1", 0xf0ffff}, {"azure2", 0xe0eeee}, {"azure3", 0xc1cdcd},
    {"azure4", 0x838b8b}, {"slateblue1", 0x836fff}, {"slateblue2", 0x7a67ee},
    {"slateblue3", 0x6959cd}, {"slateblue4", 0x473c8b}, {"royalblue1", 0x4876ff},
    {"royalblue2", 0x436eee}, {"royalblue3", 0x3a5fcd}, {"royalblue4", 0x27408b},
    {"blue1", 0x0000ff}, {"blue2", 0x0000ee}, {"blue3", 0x0000cd}, {"blue4", 0x00008b},
    {"dodgerblue1", 0x1e90ff}, {"dodgerblue2", 0x1c86ee}, {"dodgerblue3", 0x1874cd},
    {"dodgerblue4", 0x104e8b}, {"steelblue1", 0x63b8ff}, {"steelblue2", 0x5cacee},
    {"steelblue3", 0x4f94cd}, {"steelblue4", 0x36648b}, {"deepskyblue1", 0x00bfff},
    {"deepskyblue2", 0x00b2ee}, {"deepskyblue3", 0x009acd}, {"deepskyblue4", 0x00688b},
    {"skyblue1", 0x87ceff}, {"skyblue2", 0x7ec0ee}, {"skyblue3", 0x6ca6cd}, {"skyblue4", 0x4a708b},
    {"lightskyblue1", 0xb0e2ff}, {"lightskyblue2", 0xa4d3ee}, {"lightskyblue3", 0x8db6cd},
    {"lightskyblue4", 0x607b8b}, {"slategray1", 0xc6e2ff}, {"slategray2", 0xb9d3ee},
    {"slategray3", 0x9fb6cd}, {"slategray4", 0x6c7b8b}, {"lightsteelblue1", 0xcae1ff},
    {"lightsteelblue2", 0xbcd2ee}, {"lightsteelblue3", 0xa2b5cd}, {"lightsteelblue4", 0x6e7b8b},
    {"lightblue1", 0xbfefff}, {"lightblue2", 0xb2dfee}, {"lightblue3", 0x9ac0cd},
    {"lightblue4", 0x68838b}, {"lightcyan1", 0xe0ffff}, {"lightcyan2", 0xd1eeee},
    {"lightcyan3", 0xb4cdcd}, {"lightcyan4", 0x7a8b8b}, {"paleturquoise1", 0xbbffff},
    {"paleturquoise2", 0xaeeeee}, {"paleturquoise3", 0x96cdcd}, {"paleturquoise4", 0x668b8b},
    {"cadetblue1", 0x98f5ff}, {"cadetblue2", 0x8ee5ee}, {"cadetblue3", 0x7ac5cd},
    {"cadetblue4", 0x53868b}, {"turquoise1", 0x00f5ff}, {"turquoise2", 0x00e5ee},
    {"turquoise3", 0x00c5cd}, {"turquoise4", 0x00868b}, {"cyan1", 0x00ffff}, {"cyan2", 0x00eeee},
    {"cyan3", 0x00cdcd}, {"cyan4", 0x008b8b}, {"darkslategray1", 0x97ffff},
    {"darkslategray2", 0x8deeee}, {"darkslategray3", 0x79cdcd}, {"darkslategray4", 0x528b8b},
    {"aquamarine1", 0x7fffd4}, {"aquamarine2", 0x76eec6}, {"aquamarine3", 0x66cdaa},
    {"aquamarine4", 0x458b74}, {"darkseagreen1", 0xc1ffc1}, {"darkseagreen2", 0xb4eeb4},
    {"darkseagreen3", 0x9bcd9b}, {"darkseagreen4", 0x698b69}, {"seagreen1", 0x54ff9f},
    {"seagreen2", 0x4eee94}, {"seagreen3", 0x43cd80}, {"seagreen4", 0x2e8b57},
    {"palegreen1", 0x9aff9a}, {"palegreen2", 0x90ee90}, {"palegreen3", 0x7ccd7c},
    {"palegreen4", 0x548b54}, {"springgreen1", 0x00ff7f}, {"springgreen2", 0x00ee76},
    {"springgreen3", 0x00cd66}, {"springgreen4", 0x008b45}, {"green1", 0x00ff00},
    {"green2", 0x00ee00}, {"green3", 0x00cd00}, {"green4", 0x008b00}, {"chartreuse1", 0x7fff00},
    {"chartreuse2", 0x76ee00}, {"chartreuse3", 0x66cd00}, {"chartreuse4", 0x458b00},
    {"olivedrab1", 0xc0ff3e}, {"olivedrab2", 0xb3ee3a}, {"olivedrab3", 0x9acd32},
    {"olivedrab4", 0x698b22}, {"darkolivegreen1", 0xcaff70}, {"darkolivegreen2", 0xbcee68},
    {"darkolivegreen3", 0xa2cd5a}, {"darkolivegreen4", 0x6e8b3d}, {"khaki1", 0xfff68f},
    {"khaki2", 0xeee685}, {"khaki3", 0xcdc673}, {"khaki4", 0x8b864e},
    {"lightgoldenrod1", 0xffec8b}, {"lightgoldenrod2", 0xeedc82}, {"lightgoldenrod3", 0xcdbe70},
    {"lightgoldenrod4", 0x8b814c}, {"lightyellow1", 0xffffe0}, {"lightyellow2", 0xeeeed1},
    {"lightyellow3", 0xcdcdb4}, {"lightyellow4", 0x8b8b7a}, {"yellow1", 0xffff00},
    {"yellow2", 0xeeee00}, {"yellow3", 0xcdcd00}, {"yellow4", 0x8b8b00}, {"gold1", 0xffd700},
    {"gold2", 0xeec900}, {"gold3", 0xcdad00}, {"gold4", 0x8b7500}, {"goldenrod1", 0xffc125},
    {"goldenrod2", 0xeeb422}, {"goldenrod3", 0xcd9b1d}, {"goldenrod4", 0x8b6914},
    {"darkgoldenrod1", 0xffb90f}, {"darkgoldenrod2", 0xeead0e}, {"darkgoldenrod3", 0xcd950c},
    {"darkgoldenrod4", 0x8b6508}, {"rosybrown1", 0xffc1c1}, {"rosybrown2", 0xeeb4b4},
    {"rosybrown3", 0xcd9b9b}, {"rosybrown4", 0x8b6969}, {"indianred1", 0xff6a6a},
    {"indianred2", 0xee6363}, {"indianred3", 0xcd5555}, {"indianred4", 0x8b3a3a},
    {"sienna1", 0xff8247}, {"sienna2", 0xee7942}, {"sienna3", 0xcd6839}, {"sienna4", 0x8b4726},
    {"burlywood1", 0xffd39b}, {"burlywood2", 0xeec591}, {"burlywood3", 0xcdaa7d},
    {"burlywood4", 0x8b7355}, {"wheat1", 0xffe7ba}, {"wheat2", 0xeed8ae}, {"wheat3", 0xcdba96},
    {"wheat4", 0x8b7e66}, {"tan1", 0xffa54f}, {"tan2", 0xee9a49}, {"tan3", 0xcd853f},
    {"tan4", 0x8b5a2b}, {"chocolate1", 0xff7f24}, {"chocolate2", 0xee7621},
    {"chocolate3", 0xcd661d}, {"chocolate4", 0x8b4513}, {"firebrick1", 0xff3030},
    {"firebrick2", 0xee2c2c}, {"firebrick3", 0xcd2626}, {"firebrick4", 0x8b1a1a},
    {"brown1", 0xff4040}, {"brown2", 0xee3b3b}, {"brown3", 0xcd3333}, {"brown4", 0x8b2323},
    {"salmon1", 0xff8c69}, {"salmon2", 0xee8262}, {"salmon3", 0xcd7054}, {"salmon4", 0x8b4c39},
    {"lightsalmon1", 0xffa07a}, {"lightsalmon2", 0xee9572}, {"lightsalmon3", 0xcd8162},
    {"lightsalmon4", 0x8b5742}, {"orange1", 0xffa500}, {"orange2", 0xee9a00},
    {"orange3", 0xcd8500}, {"orange4", 0x8b5a00}, {"darkorange1", 0xff7f00},
    {"darkorange2", 0xee7600}, {"darkorange3", 0xcd6600}, {"darkorange4", 0x8b4500},
    {"coral1", 0xff7256}, {"coral2", 0xee6a50}, {"coral3", 0xcd5b45}, {"coral4", 0x8b3e2f},
    {"tomato1", 0xff6347}, {"tomato2", 0xee5c42}, {"tomato3", 0xcd4f39}, {"tomato4", 0x8b3626},
    {"orangered1", 0xff4500}, {"orangered2", 0xee4000}, {"orangered3", 0xcd3700},
    {"orangered4", 0x8b2500}, {"red1", 0xff0000}, {"red2", 0xee0000}, {"red3", 0xcd0000},
    {"red4", 0x8b0000}, {"deeppink1", 0xff1493}, {"deeppink2", 0xee1289}, {"deeppink3", 0xcd1076},
    {"deeppink4", 0x8b0a50}, {"hotpink1", 0xff6eb4}, {"hotpink2", 0xee6aa7},
    {"hotpink3", 0xcd6090}, {"hotpink4", 0x8b3a62}, {"pink1", 0xffb5c5}, {"pink2", 0xeea9b8},
    {"pink3", 0xcd919e}, {"pink4", 0x8b636c}, {"lightpink1", 0xffaeb9}, {"lightpink2", 0xeea2ad},
    {"lightpink3", 0xcd8c95}, {"lightpink4", 0x8b5f65}, {"palevioletred1", 0xff82ab},
    {"palevioletred2", 0xee799f}, {"palevioletred3", 0xcd6889}, {"palevioletred4", 0x8b475d},
    {"maroon1", 0xff34b3}, {"maroon2", 0xee30a7}, {"maroon3", 0xcd2990}, {"maroon4", 0x8b1c62},
    {"violetred1", 0xff3e96}, {"violetred2", 0xee3a8c}, {"violetred3", 0xcd3278},
    {"violetred4", 0x8b2252}, {"magenta1", 0xff00ff}, {"magenta2", 0xee00ee},
    {"magenta3", 0xcd00cd}, {"magenta4", 0x8b008b}, {"orchid1", 0xff83fa}, {"orchid2", 0xee7ae9},
    {"orchid3", 0xcd69c9}, {"orchid4", 0x8b4789}, {"plum1", 0xffbbff}, {"plum2", 0xeeaeee},
    {"plum3", 0xcd96cd}, {"plum4", 0x8b668b}, {"mediumorchid1", 0xe066ff},
    {"mediumorchid2", 0xd15fee}, {"mediumorchid3", 0xb452cd}, {"mediumorchid4", 0x7a378b},
    {"darkorchid1", 0xbf3eff}, {"darkorchid2", 0xb23aee}, {"darkorchid3", 0x9a32cd},
    {"darkorchid4", 0x68228b}, {"purple1", 0x9b30ff}, {"purple2", 0x912cee}, {"purple3", 0x7d26cd},
    {"purple4", 0x551a8b}, {"mediumpurple1", 0xab82ff}, {"mediumpurple2", 0x9f79ee},
    {"mediumpurple3", 0x8968cd}, {"mediumpurple4", 0x5d478b}, {"thistle1", 0xffe1ff},
    {"thistle2", 0xeed2ee}, {"thistle3", 0xcdb5cd}, {"thistle4", 0x8b7b8b},
    {"dark grey", 0xa9a9a9}, {"dark gray", 0xa9a9a9}, {"dark blue", 0x00008b},
    {"dark cyan", 0x008b8b}, {"dark magenta", 0x8b008b}, {"dark red", 0x8b0000},
    {"light green", 0x90ee90}, {"aqua", 0x00ffff}, {"crimson", 0xdc143c}, {"fuchsia", 0xff00ff},
    {"indigo", 0x4b0082}, {"lime", 0x00ff00}, {"olive", 0x808000}, {"rebecca purple", 0x663399},
    {"silver", 0xc0c0c0}, {"teal", 0x008080}, {"web gray", 0x808080}, {"web grey", 0x808080},
    {"web green", 0x008000}, {"web maroon", 0x800000}, {"web purple", 0x800080},
    {"x11 gray", 0xbebebe}, {"x11 grey", 0xbebebe}, {"x11 green", 0x00ff00},
    {"x11 maroon", 0xb03060}, {"x11 purple", 0xa020f0},
};

// Returns the database keyed by lower-case name.
const std::unordered_map<std::string, uint32_t> &colour_names()
{
    static const std::unordered_map<std::string, uint32_t> names = [] {
        std::unordered_map<std::string, uint32_t> m;
        for (const NamedColour &c : x_colours) {
            std::string name = c.name;
            m.emplace(name, c.rgb);
            if (name.find(' ') != std::string::npos) {
                std::string joined;
                for (char ch : name)
                    if (ch != ' ')
                        joined += ch;
                m.emplace(joined, c.rgb);
            }
        }
        for (int n = 0; n <= 100; n++) {
            uint32_t v = static_cast<uint32_t>(n * 2.55 + 0.5);
            uint32_t rgb = v << 16 | v << 8 | v;
            m.emplace("gray" + std::to_string(n), rgb);
            m.emplace("grey" + std::to_string(n), rgb);
        }
        return m;
    }();
    return names;
}

// Returns the value of a hexadecimal digit, -1 for any other character.
int hex_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 16-bit channel values to 0xRRGGBB as a TrueColor screen of 8 bits per
// channel keeps them: the high byte.
uint32_t pack16(uint32_t r, uint32_t g, uint32_t b)
{
    return (r >> 8) << 16 | (g >> 8) << 8 | (b >> 8);
}

// "#RGB", "#RRGGBB", "#RRRGGGBBB", "#RRRRGGGGBBBB" as Xlib reads them: each
// channel's digits are the high bits of its 16-bit value.
bool parse_hash(const char *hex, uint32_t *rgb)
{
    size_t n = std::strlen(hex);
    if (n != 3 && n != 6 && n != 9 && n != 12)
        return false;
    size_t digits = n / 3;
    uint32_t v[3] = {0, 0, 0};
    for (size_t c = 0; c < 3; c++)
        for (size_t i = 0; i < digits; i++) {
            int d = hex_value(static_cast<unsigned char>(hex[c * digits + i]));
            if (d < 0)
                return false;
            v[c] = v[c] << 4 | static_cast<uint32_t>(d);
        }
    int shift = 16 - static_cast<int>(digits) * 4;
    *rgb = pack16(v[0] << shift, v[1] << shift, v[2] << shift);
    return true;
}

// "rgb:r/g/b" with 1 to 4 hexadecimal digits per channel, each scaled to
// its full range as Xcms does.
bool parse_rgb_device(const char *text, uint32_t *rgb)
{
    uint32_t v[3];
    const char *p = text;
    for (int c = 0; c < 3; c++) {
        uint32_t value = 0;
        int digits = 0;
        for (int d; (d = hex_value(static_cast<unsigned char>(*p))) >= 0; p++) {
            if (++digits > 4)
                return false;
            value = value << 4 | static_cast<uint32_t>(d);
        }
        if (digits == 0 || *p != (c < 2 ? '/' : '\0'))
            return false;
        if (c < 2)
            p++;
        v[c] = value * 65535u / ((1u << (4 * digits)) - 1);
    }
    *rgb = pack16(v[0], v[1], v[2]);
    return true;
}

// --- the input ------------------------------------------------------------------

// Reads the whole input of the record (from path when given, else as the
// record says) into text.  False when it cannot be opened or held.
bool read_input(ImageRec *image, std::string *text, const char *path = nullptr)
{
    int rc = path != nullptr ? openfile(image->file, path, 0, nullptr, 0)
                             : openfile(image->file, image->realfile,
                                        image->compression == COMP_UNIX, image->data,
                                        image->file_size);
    if (rc != 0)
        return false;
    text->clear();
    bool ok = true;
    size_t next_check = size_t{64} << 20;
    std::vector<char> chunk(size_t{1} << 16);
    for (;;) {
        size_t n = im_fread(chunk.data(), 1, chunk.size());
        if (text->size() + n >= next_check) {
            // A pipe gives no size: make sure the text can still be held.
            if (!memory_can_hold(static_cast<int64_t>(next_check) * 2)) {
                ok = false;
                break;
            }
            next_check *= 2;
        }
        text->append(chunk.data(), n);
        if (n < chunk.size())
            break;
    }
    closefile();
    return ok;
}

// Returns the display the codecs realise pixmaps on, or nullptr without one.
Display *codec_display()
{
    if (image_display != nullptr && image_display->xdisplay != nullptr)
        return image_display->xdisplay;
    return app_shell != nullptr ? XtDisplay(app_shell) : nullptr;
}

// --- finding the XPM values as libXpm does ------------------------------------

// The buffer reader of libXpm: a position, the current string and comment
// delimiters.  Reaching the end (the first NUL) always fails the scan.
struct XpmCursor {
    const char *p, *end;
    char bos = '\0', eos = '\n';
    const char *bcmt = nullptr, *ecmt = nullptr;
    bool failed = false;

    int peek() const { return p < end ? static_cast<unsigned char>(*p) : 0; }
    int get()
    {
        if (p >= end) {
            failed = true;
            return 0;
        }
        return static_cast<unsigned char>(*p++);
    }
};

constexpr size_t XPM_WORD_MAX = 8191;   // libXpm's word buffer holds BUFSIZ - 1

// True for the white space of the C locale.
bool ascii_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// xpmNextWord: skips white space (not the end-of-string character) and
// returns the word up to white space or that character.
std::string next_word(XpmCursor &cur)
{
    while (ascii_space(cur.peek()) && cur.peek() != cur.eos)
        cur.p++;
    std::string word;
    for (;;) {
        int c = cur.peek();
        if (c == 0) {
            cur.failed = true;
            return word;
        }
        if (c == 0x85 || c == 0xa0 || word.size() >= XPM_WORD_MAX) {
            // Where libXpm ends this word depends on the locale (these two
            // are spaces in Latin-1) or on its buffer.
            cur.failed = true;
            return word;
        }
        if (ascii_space(c) || c == cur.eos)
            return word;
        word += static_cast<char>(c);
        cur.p++;
    }
}

// ParseComment, entered just after the first character of the comment
// opener: skips the comment, or steps back when it is none.
void parse_comment(XpmCursor &cur)
{
    const char *rest = cur.bcmt + 1;
    size_t n = std::strlen(rest);
    if (static_cast<size_t>(cur.end - cur.p) < n || std::strncmp(cur.p, rest, n) != 0)
        return;
    cur.p += n;
    const char *close = cur.ecmt;
    size_t m = std::strlen(close);
    for (;;) {
        if (cur.p >= cur.end || static_cast<size_t>(cur.end - cur.p) < m) {
            cur.failed = true;
            return;
        }
        if (std::strncmp(cur.p, close, m) == 0) {
            cur.p += m;
            return;
        }
        cur.p++;
    }
}

// xpmNextString: to the end of the current string, then to the beginning of
// the next one, skipping comments.
void next_string(XpmCursor &cur)
{
    if (cur.eos != '\0') {
        int c;
        while ((c = cur.get()) != 0 && c != cur.eos) {
        }
    }
    if (cur.failed)
        return;
    if (cur.bos != '\0') {
        for (;;) {
            int c = cur.get();
            if (c == 0 || c == cur.bos)
                return;
            if (cur.bcmt != nullptr && c == cur.bcmt[0]) {
                parse_comment(cur);
                if (cur.failed)
                    return;
            }
        }
    } else if (cur.bcmt != nullptr) {
        while (cur.peek() == cur.bcmt[0] && cur.bcmt[0] != '\0') {
            cur.p++;
            parse_comment(cur);
            if (cur.failed)
                return;
        }
    }
}

// xpmNextUI: the next word as an unsigned number; at most 9 digits, so that
// it cannot wrap in libXpm.
bool next_number(XpmCursor &cur, uint32_t *value)
{
    std::string w = next_word(cur);
    if (cur.failed || w.empty() || w.size() > 9)
        return false;
    uint32_t v = 0;
    for (char c : w) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    *value = v;
    return true;
}

// The values of an XPM 1 file: four "#define <name>_<what> <n>" lines.
bool xpm1_values(XpmCursor &cur, XpmValues *v)
{
    bool saw[4] = {false, false, false, false};
    static const char *const suffix[4] = {"_width", "_height", "_ncolors", "_chars_per_pixel"};
    uint32_t *field[4] = {&v->width, &v->height, &v->ncolors, &v->cpp};
    for (int i = 0; i < 4; i++) {
        if (next_word(cur) != "#define" || cur.failed)
            return false;
        std::string name = next_word(cur);
        if (cur.failed || name.empty())
            return false;
        // libXpm tries the text from each '_' in turn, by its length.
        size_t from = 0;
        bool got = false;
        while (!got) {
            size_t us = name.find('_', from);
            if (us == std::string::npos)
                return false;
            size_t len = name.size() - us;
            int which = len == 6 ? 0 : len == 7 ? 1 : len == 8 ? 2 : len == 16 ? 3 : -1;
            if (which < 0) {
                from = us + 1;
                continue;
            }
            if (saw[which] || name.compare(us, len, suffix[which]) != 0 ||
                !next_number(cur, field[which]))
                return false;
            saw[which] = got = true;
        }
        next_string(cur);
        if (cur.failed)
            return false;
    }
    return true;
}

// --- XPM sizes ---------------------------------------------------------------------

constexpr uint32_t XPM_MAX_CPP = 31;
constexpr int64_t XPM_COLOR_BYTES = 64; // libXpm's table entry and its strings

// True when the text can hold what its values promise and memory can hold
// libXpm's pixel indices, an X image and ours.
bool xpm_sizes_fit(const XpmValues &v, size_t text_length)
{
    if (v.width == 0 || v.height == 0 || v.ncolors == 0 || v.cpp == 0 || v.cpp > XPM_MAX_CPP ||
        v.width > MAX_IMAGE_SIDE || v.height > MAX_IMAGE_SIDE)
        return false;
    int64_t pixels = static_cast<int64_t>(v.width) * v.height;
    int64_t length = static_cast<int64_t>(text_length);
    if (pixels * v.cpp > length || static_cast<int64_t>(v.ncolors) * v.cpp > length)
        return false;
    return memory_can_hold(pixels * 11 + static_cast<int64_t>(v.ncolors) * XPM_COLOR_BYTES);
}

// Reads the record's input and checks its values; false when it is no XPM
// this codec can take.
bool xpm_read_checked(ImageRec *image, std::string *text, XpmValues *v)
{
    return read_input(image, text) && xpm_scan_values(text->data(), text->size(), v) &&
           xpm_sizes_fit(*v, text->size()) && xpm_strings_complete(text->data(), text->size());
}

// --- XPM without a display ---------------------------------------------------------

// Frees an XpmImage libXpm filled.
struct XpmImageGuard {
    XpmImage image{};
    bool filled = false;
    ~XpmImageGuard()
    {
        if (filled)
            XpmFreeXpmImage(&image);
    }
};

// Returns the colour a 24-bit TrueColor canvas shows for a colour table
// entry, as libXpm chooses it with this codec's colour symbols: the symbol
// "background" is white, a transparent colour black; otherwise the colour
// key, then grey, 4-level grey and mono, the first a server knows.  False
// when none of them names a colour.
bool xpm_entry_rgb(const XpmColor &c, uint32_t *rgb)
{
    if (c.symbolic != nullptr && std::strcmp(c.symbolic, "background") == 0) {
        *rgb = 0xffffff;
        return true;
    }
    const char *keys[4] = {c.c_color, c.g_color, c.g4_color, c.m_color};
    for (const char *k : keys) {
        if (k == nullptr)
            continue;
        if (strcasecmp(k, "none") == 0) {
            *rgb = 0;
            return true;
        }
        if (x_colour_rgb(k, rgb))
            return true;
    }
    return false;
}

// Fills the record with a 24-bit picture from a parsed XPM; false on failure.
bool xpm_fill_rgb(ImageRec *image, const XpmImage &xi)
{
    std::vector<uint32_t> colours(xi.ncolors);
    for (unsigned int i = 0; i < xi.ncolors; i++)
        if (!xpm_entry_rgb(xi.colorTable[i], &colours[i]))
            return false;
    image->width = static_cast<int>(xi.width);
    image->height = static_cast<int>(xi.height);
    image->depth = 24;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(image, &ps, &rs);
    if (data == nullptr)
        return false;
    const unsigned int *index = xi.data;
    for (unsigned int y = 0; y < xi.height; y++) {
        unsigned char *p = data + static_cast<ptrdiff_t>(y) * rs;
        for (unsigned int x = 0; x < xi.width; x++, p += ps) {
            unsigned int i = *index++;
            if (i >= xi.ncolors) {
                vela_import(image->orig_image, 1);
                return false;
            }
            uint32_t c = colours[i];
            p[0] = static_cast<unsigned char>(c >> 16);
            p[1] = static_cast<unsigned char>(c >> 8);
            p[2] = static_cast<unsigned char>(c);
        }
    }
    image->rgb_order = 1;
    image->bytes_per_line = rs;
    vela_import(image->orig_image, 1);
    return true;
}

// --- XPM through the X server --------------------------------------------------

// A colormap made for one load, freed with it.
struct PrivateColormap {
    Display *dpy;
    Colormap cmap = 0;
    explicit PrivateColormap(Display *d) : dpy(d) {}
    ~PrivateColormap()
    {
        if (cmap != 0)
            XFreeColormap(dpy, cmap);
    }
};

// True for the six X visual classes.
bool known_class(int c)
{
    return c == StaticGray || c == GrayScale || c == StaticColor || c == PseudoColor ||
           c == TrueColor || c == DirectColor;
}

// Bits and position of a colour mask.
struct MaskShape {
    int shift = 0, bits = 0;
};

// Returns where a colour mask lies and how many bits it has.
MaskShape mask_shape(unsigned long mask)
{
    MaskShape s;
    if (mask == 0)
        return s;
    while (!(mask & 1)) {
        mask >>= 1;
        s.shift++;
    }
    while (mask & 1) {
        mask >>= 1;
        s.bits++;
    }
    return s;
}

// The 8-bit value of one channel of a TrueColor pixel.
unsigned char channel(unsigned long pixel, unsigned long mask, const MaskShape &s)
{
    unsigned long v = (pixel & mask) >> s.shift;
    if (s.bits == 8 || s.bits == 0)
        return static_cast<unsigned char>(v);
    unsigned long max = (1ul << s.bits) - 1;
    return static_cast<unsigned char>(v * 255 / max);
}

// True when this machine stores the least significant byte first.
bool host_is_lsb_first()
{
    uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Returns pixel (x, y) of an X image, reading 8- and 32-bit images in the
// host's byte order directly.
unsigned long image_pixel(XImage *xi, int x, int y, bool direct32)
{
    const char *row = xi->data + static_cast<ptrdiff_t>(y) * xi->bytes_per_line;
    if (direct32) {
        uint32_t v;
        std::memcpy(&v, row + 4 * static_cast<ptrdiff_t>(x), 4);
        return v;
    }
    if (xi->bits_per_pixel == 8)
        return static_cast<unsigned char>(row[x]);
    return XGetPixel(xi, x, y);
}

// Copies a TrueColor X image into a 24-bit record in red, green, blue order.
bool copy_true_colour(ImageRec *image, XImage *xi, Visual *visual)
{
    image->depth = 24;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(image, &ps, &rs);
    if (data == nullptr)
        return false;
    MaskShape r = mask_shape(visual->red_mask), g = mask_shape(visual->green_mask),
              b = mask_shape(visual->blue_mask);
    bool direct32 = xi->bits_per_pixel == 32 &&
                    xi->byte_order == (host_is_lsb_first() ? LSBFirst : MSBFirst);
    for (int y = 0; y < xi->height; y++) {
        unsigned char *p = data + static_cast<ptrdiff_t>(y) * rs;
        for (int x = 0; x < xi->width; x++, p += ps) {
            unsigned long pixel = image_pixel(xi, x, y, direct32);
            p[0] = channel(pixel, visual->red_mask, r);
            p[1] = channel(pixel, visual->green_mask, g);
            p[2] = channel(pixel, visual->blue_mask, b);
        }
    }
    image->rgb_order = 1;
    image->bytes_per_line = rs;
    vela_import(image->orig_image, 1);
    return true;
}

// Copies a colormapped X image: 1-bit images by the darkness of the two
// cells (1 is black), deeper ones as 8-bit pixels with the colormap's cells
// as the record's colormap.
bool copy_mapped(ImageRec *image, XImage *xi, Display *dpy, Visual *visual, Colormap cmap)
{
    if (xi->depth > 8)
        return false;
    int cells = visual->map_entries < 256 ? visual->map_entries : 256;
    if (cells < 2)
        cells = 2;
    std::vector<XColor> colours(static_cast<size_t>(cells));
    for (int i = 0; i < cells; i++)
        colours[static_cast<size_t>(i)].pixel = static_cast<unsigned long>(i);
    XQueryColors(dpy, cmap, colours.data(), cells);
    int ps = 0, rs = 0;
    if (xi->depth == 1) {
        bool dark[2];
        for (int i = 0; i < 2; i++) {
            const XColor &c = colours[static_cast<size_t>(i)];
            dark[i] = 299u * c.red + 587u * c.green + 114u * c.blue < 1000u * 32768u;
        }
        image->depth = 1;
        unsigned char *data = create_data(image, &ps, &rs);
        if (data == nullptr)
            return false;
        for (int y = 0; y < xi->height; y++) {
            unsigned char *row = data + static_cast<ptrdiff_t>(y) * rs;
            std::memset(row, 0, static_cast<size_t>(rs));
            for (int x = 0; x < xi->width; x++)
                if (dark[XGetPixel(xi, x, y) & 1])
                    row[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
        }
    } else {
        image->depth = 8;
        unsigned char *data = create_data(image, &ps, &rs);
        if (data == nullptr)
            return false;
        for (int y = 0; y < xi->height; y++) {
            unsigned char *p = data + static_cast<ptrdiff_t>(y) * rs;
            for (int x = 0; x < xi->width; x++, p += ps) {
                unsigned long v = image_pixel(xi, x, y, false);
                *p = static_cast<unsigned char>(v < static_cast<unsigned long>(cells) ? v : 0);
            }
        }
        image->red = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(cells)));
        image->green = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(cells)));
        image->blue = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(cells)));
        if (image->red == nullptr || image->green == nullptr || image->blue == nullptr) {
            vela_import(image->orig_image, 1);
            return false;
        }
        for (int i = 0; i < cells; i++) {
            const XColor &c = colours[static_cast<size_t>(i)];
            image->red[i] = static_cast<unsigned char>(c.red >> 8);
            image->green[i] = static_cast<unsigned char>(c.green >> 8);
            image->blue[i] = static_cast<unsigned char>(c.blue >> 8);
        }
        image->ncolors = cells;
    }
    image->bytes_per_line = rs;
    vela_import(image->orig_image, 1);
    return true;
}

// Loads an XPM text through libXpm on the visual and colormap chosen for
// the canvas; 0 or -1.
int xpm_load_x(ImageRec *image, Display *dpy, std::string *text, const XpmValues &v)
{
    int screen = DefaultScreen(dpy);
    int depth = image_display != nullptr ? image_display->depth : 0;
    int vclass = image_display != nullptr && image_display->visual != nullptr
                     ? image_display->visual->c_class
                     : -1;
    Visual *visual = DefaultVisual(dpy, screen);
    unsigned int vdepth = static_cast<unsigned int>(DefaultDepth(dpy, screen));
    Colormap cmap = DefaultColormap(dpy, screen);
    PrivateColormap own(dpy);
    XVisualInfo vi;
    bool matched = false;
    if ((depth == 8 || depth == 4) && known_class(vclass)) {
        if (!XMatchVisualInfo(dpy, screen, depth, vclass, &vi))
            return -1;
        matched = true;
    } else if (depth == 24) {
        matched = XMatchVisualInfo(dpy, screen, 24, TrueColor, &vi) != 0;
    }
    if (matched) {
        visual = vi.visual;
        vdepth = static_cast<unsigned int>(vi.depth);
        own.cmap = XCreateColormap(dpy, RootWindow(dpy, screen), visual, AllocNone);
        if (own.cmap == 0)
            return -1;
        cmap = own.cmap;
    }

    // Transparent pixels show black: a cell of black in the colormap used
    // (libXpm would give them pixel 0, whatever colour that cell holds).
    XColor black = {};
    black.flags = DoRed | DoGreen | DoBlue;
    bool have_black = XAllocColor(dpy, cmap, &black) != 0;
    char background_name[] = "background";
    char background_value[] = "white";
    char background_black[] = "black";
    char none_value[] = "None";
    XpmColorSymbol symbols[2] = {};
    symbols[0].name = background_name;
    symbols[0].value = depth == 24 ? background_value : background_black;
    symbols[1].value = none_value;
    symbols[1].pixel = black.pixel;

    XpmAttributes attr;
    std::memset(&attr, 0, sizeof attr);
    attr.valuemask = XpmVisual | XpmColormap | XpmDepth | XpmColorSymbols | XpmExactColors |
                     XpmCloseness | XpmReturnAllocPixels;
    attr.visual = visual;
    attr.colormap = cmap;
    attr.depth = vdepth;
    attr.colorsymbols = symbols;
    attr.numsymbols = have_black ? 2 : 1;
    // More colours than cells take the nearest cell instead of failing.
    attr.exactColors = False;
    attr.closeness = 65535;
    XImage *xi = nullptr;
    int rc = XpmCreateImageFromBuffer(dpy, text->data(), &xi, nullptr, &attr);
    bool ok = rc >= 0 && xi != nullptr && static_cast<uint32_t>(xi->width) == v.width &&
              static_cast<uint32_t>(xi->height) == v.height;
    if (ok) {
        image->width = xi->width;
        image->height = xi->height;
        ok = visual->c_class == TrueColor || visual->c_class == DirectColor
                 ? copy_true_colour(image, xi, visual)
                 : copy_mapped(image, xi, dpy, visual, cmap);
    }
    if (xi != nullptr)
        XDestroyImage(xi);
    if (own.cmap == 0) {
        // Cells of the shared colormap are given back: the record keeps the
        // colours, not the cells.
        if (rc >= 0 && attr.nalloc_pixels > 0)
            XFreeColors(dpy, cmap, attr.alloc_pixels, attr.nalloc_pixels, 0);
        if (have_black)
            XFreeColors(dpy, cmap, &black.pixel, 1, 0);
    }
    if (rc >= 0)
        XpmFreeAttributes(&attr);
    return ok ? 0 : -1;
}

// --- XBM --------------------------------------------------------------------------

// The longest header line Xlib's reader takes, without its newline.
constexpr size_t XBM_LINE_MAX = 252;

struct Line {
    size_t begin, end;          // [begin, end) without the newline
    size_t next;                // start of the following line
};

// Returns the line that starts at pos.
Line line_at(const char *text, size_t length, size_t pos)
{
    const void *nl = std::memchr(text + pos, '\n', length - pos);
    size_t end = nl != nullptr ? static_cast<size_t>(static_cast<const char *>(nl) - text) : length;
    return Line{pos, end, nl != nullptr ? end + 1 : length};
}

// Splits a line into words at spaces, tabs and carriage returns.
std::vector<std::string> words_of(const char *text, const Line &l)
{
    std::vector<std::string> words;
    std::string w;
    for (size_t i = l.begin; i < l.end; i++) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!w.empty())
                words.push_back(w);
            w.clear();
        } else {
            w += c;
        }
    }
    if (!w.empty())
        words.push_back(w);
    return words;
}

// The part of a name after its last '_' (the whole name without one).
std::string name_type(const std::string &name)
{
    size_t us = name.rfind('_');
    return us == std::string::npos ? name : name.substr(us + 1);
}

// A "#define <name> <decimal>" line; *value is the number, and false for
// any other line or a number that is not a plain decimal of 9 digits at
// most (followed by nothing but a comment).
bool define_line(const std::vector<std::string> &w, std::string *name, long *value)
{
    if (w.size() < 3 || w[0] != "#define" || (w.size() > 3 && w[3].compare(0, 2, "/*") != 0))
        return false;
    const std::string &n = w[2];
    if (n.empty() || n.size() > 9)
        return false;
    long v = 0;
    for (char c : n) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *name = w[1];
    *value = v;
    return true;
}

// What Xlib's reader takes a line for: 1 the declaration of X10 data, 0 of
// X11 data, -1 anything else.
int xlib_declaration(const std::string &line)
{
    char name[XBM_LINE_MAX + 4];
    int kind;
    if (std::sscanf(line.c_str(), "static short %255s = {", name) == 1)
        kind = 1;
    else if (std::sscanf(line.c_str(), "static unsigned char %255s = {", name) == 1)
        kind = 0;
    else if (std::sscanf(line.c_str(), "static char %255s = {", name) == 1)
        kind = 0;
    else
        return -1;
    return name_type(name) == "bits[]" ? kind : -1;
}

// A "static [unsigned] char|short <name>_bits[] = {" line; *x10 says short.
bool declaration_line(const char *text, const Line &l, bool *x10)
{
    std::string s(text + l.begin, l.end - l.begin);
    size_t brace = s.find('{');
    if (brace == std::string::npos)
        return false;
    // Xlib reads the values from the next line on.
    for (size_t i = brace + 1; i < s.size(); i++)
        if (s[i] != ' ' && s[i] != '\t' && s[i] != '\r')
            return false;
    std::string head = s.substr(0, brace);
    size_t eq = head.rfind('=');
    if (eq == std::string::npos)
        return false;
    for (size_t i = eq + 1; i < head.size(); i++)
        if (head[i] != ' ' && head[i] != '\t')
            return false;
    Line decl{0, eq, eq};
    std::vector<std::string> w = words_of(head.c_str(), decl);
    if (s.compare(0, 6, "static") != 0)
        return false;
    size_t name_at;
    if (w.size() == 3 && w[0] == "static" && w[1] == "short") {
        *x10 = true;
        name_at = 2;
    } else if (w.size() == 3 && w[0] == "static" && w[1] == "char") {
        *x10 = false;
        name_at = 2;
    } else if (w.size() == 4 && w[0] == "static" && w[1] == "unsigned" && w[2] == "char") {
        *x10 = false;
        name_at = 3;
    } else {
        return false;
    }
    return name_type(w[name_at]) == "bits[]";
}

// True for the white space XBM data may have around its values.
bool data_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads one hexadecimal value "0x..." of at most max at *pos.
bool hex_token(const char *text, size_t length, size_t *pos, uint32_t max, uint32_t *value)
{
    size_t p = *pos;
    if (p + 2 > length || text[p] != '0' || (text[p + 1] != 'x' && text[p + 1] != 'X'))
        return false;
    p += 2;
    uint32_t v = 0;
    int digits = 0;
    for (int d; p < length && (d = hex_value(static_cast<unsigned char>(text[p]))) >= 0; p++) {
        if (++digits > 8)
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    if (digits == 0 || v > max)
        return false;
    if (p < length && !data_space(text[p]) && text[p] != ',' && text[p] != '}')
        return false;
    *pos = p;
    *value = v;
    return true;
}

// Reverses the bits of a byte: XBM's leftmost pixel is its lowest bit.
unsigned char reverse_bits(unsigned char b)
{
    b = static_cast<unsigned char>((b & 0xf0) >> 4 | (b & 0x0f) << 4);
    b = static_cast<unsigned char>((b & 0xcc) >> 2 | (b & 0x33) << 2);
    return static_cast<unsigned char>((b & 0xaa) >> 1 | (b & 0x55) << 1);
}

// Fills a 1-bit record from bitmap rows; false on failure.
bool xbm_fill(ImageRec *image, const XbmBitmap &bm)
{
    image->width = bm.width;
    image->height = bm.height;
    image->depth = 1;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(image, &ps, &rs);
    if (data == nullptr)
        return false;
    size_t bpl = (static_cast<size_t>(bm.width) + 7) / 8;
    for (int y = 0; y < bm.height; y++) {
        const unsigned char *src = bm.bits.data() + bpl * static_cast<size_t>(y);
        unsigned char *dst = data + static_cast<ptrdiff_t>(y) * rs;
        for (size_t i = 0; i < bpl; i++)
            dst[i] = reverse_bits(src[i]);
        if (bm.width % 8 != 0)
            dst[bpl - 1] &= static_cast<unsigned char>(0xff00 >> (bm.width % 8));
    }
    image->bytes_per_line = rs;
    vela_import(image->orig_image, 1);
    return true;
}

// Copies a depth-1 X image into a 1-bit record (1 is a set bit, black).
bool copy_bitmap(ImageRec *image, XImage *xi)
{
    image->width = xi->width;
    image->height = xi->height;
    image->depth = 1;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(image, &ps, &rs);
    if (data == nullptr)
        return false;
    // Within a byte the bit order alone decides, unless units of several
    // bytes are stored in the other byte order.
    bool bytewise = xi->bits_per_pixel == 1 && xi->xoffset == 0 &&
                    (xi->bitmap_unit == 8 || xi->bitmap_bit_order == xi->byte_order);
    for (int y = 0; y < xi->height; y++) {
        unsigned char *dst = data + static_cast<ptrdiff_t>(y) * rs;
        std::memset(dst, 0, static_cast<size_t>(rs));
        const unsigned char *src = reinterpret_cast<const unsigned char *>(xi->data) +
                                   static_cast<ptrdiff_t>(y) * xi->bytes_per_line;
        for (int x = 0; x < xi->width; x++) {
            bool set;
            if (bytewise)
                set = xi->bitmap_bit_order == LSBFirst ? (src[x >> 3] >> (x & 7)) & 1
                                                       : (src[x >> 3] >> (7 - (x & 7))) & 1;
            else
                set = XGetPixel(xi, x, y) != 0;
            if (set)
                dst[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
        }
    }
    image->bytes_per_line = rs;
    vela_import(image->orig_image, 1);
    return true;
}

// The largest pixmap side an X server takes.
constexpr int X_PIXMAP_MAX = 32767;

// Loads an XBM file through a server bitmap; 0 or -1.
int xbm_load_x(ImageRec *image, Display *dpy)
{
    const char *path = file_to_open(image->file, image->realfile,
                                    image->compression == COMP_UNIX, image->data,
                                    image->file_size);
    if (path == nullptr)
        return -1;
    // Our parser checks the file (and its sizes) before Xlib allocates for it.
    std::string text;
    XbmBitmap bm;
    if (!read_input(image, &text, path) || !xbm_parse(text.data(), text.size(), &bm) ||
        bm.width > X_PIXMAP_MAX || bm.height > X_PIXMAP_MAX)
        return -1;
    Drawable d = app_shell != nullptr && XtIsRealized(app_shell) ? XtWindow(app_shell)
                                                                 : DefaultRootWindow(dpy);
    unsigned int w = 0, h = 0;
    Pixmap pixmap = 0;
    int xh = 0, yh = 0;
    int rc = XReadBitmapFile(dpy, d, path, &w, &h, &pixmap, &xh, &yh);
    if (rc != BitmapSuccess) {
        if (pixmap != 0)
            XFreePixmap(dpy, pixmap);
        return -1;
    }
    XImage *xi = nullptr;
    if (static_cast<int>(w) == bm.width && static_cast<int>(h) == bm.height)
        xi = XGetImage(dpy, pixmap, 0, 0, w, h, AllPlanes, ZPixmap);
    XFreePixmap(dpy, pixmap);
    if (xi == nullptr)
        return -1;
    bool ok = copy_bitmap(image, xi);
    XDestroyImage(xi);
    return ok ? 0 : -1;
}

// --- XPM save -----------------------------------------------------------------------

// libXpm's characters for pixel codes, in its order.
const char xpm_printable[] =
    " .XoO+@#$%&*=-;:>,<1234567890qwertyuipasdfghjklzxcvbnmMNBVCZASDFGHJKLPIUYTREWQ!~^/()_`'][{}|";
constexpr unsigned int XPM_PRINTABLE = sizeof xpm_printable - 1;
constexpr size_t XPM_SAVE_MAX_COLOURS = 256;

// The picture as the writer takes it: colours (0xRRGGBB) in order of first
// use and one index per pixel.
struct XpmPicture {
    unsigned int width = 0, height = 0;
    std::vector<uint32_t> colours;
    std::vector<unsigned int> index;
};

// Collects the pixels of an indexed picture: value(x, y) gives a palette
// slot and colour_of(slot) its colour.  Colours are numbered as first met.
template <typename Value, typename Colour>
void collect_indexed(XpmPicture *pic, int slots, Value value, Colour colour_of)
{
    std::vector<int> slot_index(static_cast<size_t>(slots), -1);
    pic->index.resize(static_cast<size_t>(pic->width) * pic->height);
    size_t k = 0;
    for (unsigned int y = 0; y < pic->height; y++)
        for (unsigned int x = 0; x < pic->width; x++) {
            int s = value(x, y);
            int &i = slot_index[static_cast<size_t>(s)];
            if (i < 0) {
                i = static_cast<int>(pic->colours.size());
                pic->colours.push_back(colour_of(s));
            }
            pic->index[k++] = static_cast<unsigned int>(i);
        }
}

// Reads an 8-bit or 1-bit image into pic through the record's colormap: a
// 1-bit image (no colormap) 0 white, 1 black; an 8-bit one without a
// colormap as grey levels; values past the colormap black.
void collect_mapped(const ImageRec *image, const VelaMemoryStorage &s, bool bits,
                    XpmPicture *pic)
{
    bool mapped = !bits && image->ncolors > 0 && image->red != nullptr &&
                  image->green != nullptr && image->blue != nullptr;
    int n = image->ncolors < 256 ? image->ncolors : 256;
    auto value = [&](unsigned int x, unsigned int y) {
        const unsigned char *row = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        if (bits) {
            unsigned int bit = static_cast<unsigned int>(s.bit_offset) + x;
            return (row[bit >> 3] >> (7 - (bit & 7))) & 1;
        }
        return static_cast<int>(row[static_cast<ptrdiff_t>(x) * s.bytes_per_pixel]);
    };
    auto colour_of = [&](int v) -> uint32_t {
        if (bits)
            return v == 0 ? 0xffffff : 0;
        if (!mapped)
            return static_cast<uint32_t>(v) * 0x010101u;
        if (v >= n)
            return 0;
        return static_cast<uint32_t>(image->red[v]) << 16 |
               static_cast<uint32_t>(image->green[v]) << 8 | image->blue[v];
    };
    collect_indexed(pic, bits ? 2 : 256, value, colour_of);
}

// Reads a 3-band image into pic with its exact colours; false when it has
// more than the writer's 256.
bool collect_true_colour(const VelaMemoryStorage &s, int rgb_order, XpmPicture *pic)
{
    std::unordered_map<uint32_t, unsigned int> seen;
    pic->index.resize(static_cast<size_t>(pic->width) * pic->height);
    size_t k = 0;
    uint32_t last = 0;
    unsigned int last_index = 0;
    bool have_last = false;
    for (unsigned int y = 0; y < pic->height; y++) {
        const unsigned char *p = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        for (unsigned int x = 0; x < pic->width; x++, p += s.bytes_per_pixel) {
            uint32_t r = rgb_order ? p[0] : p[2], b = rgb_order ? p[2] : p[0];
            uint32_t c = r << 16 | static_cast<uint32_t>(p[1]) << 8 | b;
            if (!have_last || c != last) {
                auto it = seen.find(c);
                if (it == seen.end()) {
                    if (pic->colours.size() == XPM_SAVE_MAX_COLOURS)
                        return false;
                    it = seen.emplace(c, static_cast<unsigned int>(pic->colours.size())).first;
                    pic->colours.push_back(c);
                }
                last = c;
                last_index = it->second;
                have_last = true;
            }
            pic->index[k++] = last_index;
        }
    }
    return true;
}

// The identifier the file declares: the target's last component with every
// character that cannot be in a C name as '_' (libXpm changes '.' and '-').
std::string c_name(const char *target)
{
    std::string name = basename(target);
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            c = '_';
    return name.empty() ? "image_name" : name;
}

// libXpm names the picture after the file it writes.  A link named after
// the target in the private temporary folder, pointing at the temporary
// file, gives the picture the target's name.  Returns its path, or "" when
// it cannot be made (the temporary file's name is then used).
std::string name_link(const char *target, const char *temp)
{
    const char *base = tmp_file_base();
    if (base == nullptr)
        return "";
    std::string dir = base;
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos)
        return "";
    // The program's temporary files there all have a '.' in their names
    // after the base; a C name has none.
    std::string name = c_name(target);
    if (name == dir.substr(slash + 1))
        return "";
    std::string link = dir.substr(0, slash + 1) + name;
    std::string to = temp;
    if (to.empty() || to[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr)
            return "";
        to = std::string(cwd) + "/" + to;
    }
    unlink(link.c_str());
    return symlink(to.c_str(), link.c_str()) == 0 ? link : "";
}

// True when the file at path holds exactly the picture written, and is on
// the disk: libXpm's writer does not report write errors.
bool written_intact(const char *path, const XpmImage &written)
{
    XpmImageGuard back;
    if (XpmReadFileToXpmImage(path, &back.image, nullptr) != XpmSuccess)
        return false;
    back.filled = true;
    const XpmImage &b = back.image;
    if (b.width != written.width || b.height != written.height || b.ncolors != written.ncolors ||
        b.cpp != written.cpp)
        return false;
    for (unsigned int i = 0; i < b.ncolors; i++)
        if (b.colorTable[i].c_color == nullptr ||
            std::strcmp(b.colorTable[i].c_color, written.colorTable[i].c_color) != 0 ||
            std::strcmp(b.colorTable[i].string, written.colorTable[i].string) != 0)
            return false;
    if (std::memcmp(b.data, written.data,
                    sizeof(unsigned int) * static_cast<size_t>(b.width) * b.height) != 0)
        return false;
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    return (close(fd) == 0) && synced;
}

// Writes pic as an XPM file at target through a temporary file; false on
// any failure (the target is then as it was).
bool write_xpm(const char *target, XpmPicture &pic)
{
    unsigned int ncolors = static_cast<unsigned int>(pic.colours.size());
    unsigned int cpp = 1;
    for (unsigned int capacity = XPM_PRINTABLE; ncolors > capacity; capacity *= XPM_PRINTABLE)
        cpp++;
    std::vector<std::string> codes(ncolors), values(ncolors);
    std::vector<XpmColor> table(ncolors);
    for (unsigned int i = 0; i < ncolors; i++) {
        for (unsigned int k = 0, rest = i; k < cpp; k++, rest /= XPM_PRINTABLE)
            codes[i] += xpm_printable[rest % XPM_PRINTABLE];
        char buf[32];
        uint32_t c = pic.colours[i];
        std::snprintf(buf, sizeof buf, "#%04X%04X%04X", (c >> 16) * 257u, ((c >> 8) & 0xff) * 257u,
                      (c & 0xff) * 257u);
        values[i] = buf;
        table[i] = XpmColor{codes[i].data(), nullptr, nullptr, nullptr, nullptr, values[i].data()};
    }
    XpmImage xi{pic.width, pic.height, cpp, ncolors, table.data(), pic.index.data()};

    SafeFile out(target);
    if (!out.ok())
        return false;
    out.close_stream();
    std::string link = name_link(target, out.temp_path());
    int rc = XpmWriteFileFromXpmImage(link.empty() ? out.temp_path() : link.c_str(), &xi, nullptr);
    if (!link.empty())
        unlink(link.c_str());
    return rc == XpmSuccess && written_intact(out.temp_path(), xi) && out.commit();
}

// Makes the record hold the reduced picture: its 8-bit image (values
// 0-based) and the colour cube as its colormap.
bool adopt_reduced(ImageRec *image, VelaImage *reduced, const std::vector<uint32_t> &cube)
{
    size_t n = cube.size();
    unsigned char *r = static_cast<unsigned char *>(std::malloc(n));
    unsigned char *g = static_cast<unsigned char *>(std::malloc(n));
    unsigned char *b = static_cast<unsigned char *>(std::malloc(n));
    if (r == nullptr || g == nullptr || b == nullptr) {
        std::free(r);
        std::free(g);
        std::free(b);
        return false;
    }
    for (size_t i = 0; i < n; i++) {
        r[i] = static_cast<unsigned char>(cube[i] >> 16);
        g[i] = static_cast<unsigned char>(cube[i] >> 8);
        b[i] = static_cast<unsigned char>(cube[i]);
    }
    std::free(image->red);
    std::free(image->green);
    std::free(image->blue);
    image->red = r;
    image->green = g;
    image->blue = b;
    image->ncolors = static_cast<int>(n);
    image->offset = 0;
    image->colors_compacted = 0;
    image->colormap_reduced = 0;
    image->offset_added = 0;
    if (image->orig_image != nullptr)
        vela_destroy(image->orig_image);
    image->orig_image = reduced;
    image->depth = 8;
    image->bands = 1;
    image->datatype = VELA_BYTE;
    VelaMemoryStorage s;
    if (vela_export(reduced) && vela_get_memory_storage(reduced, &s))
        image->bytes_per_line = s.bytes_per_row;
    vela_import(reduced, 0);
    return true;
}

// Reduces a 3-band image to the 216-colour cube: returns the new 8-bit image
// with 0-based values and the cube's colours, or nullptr.
VelaImage *reduce_to_cube(VelaImage *img, int rgb_order, std::vector<uint32_t> *cube)
{
    VelaLookup *lut = vela_lookup_get_by_name(vela_get_state(img), "cc496");
    if (lut == nullptr)
        return nullptr;
    int offset = vela_lookup_get_offset(lut), n = vela_lookup_get_num_entries(lut);
    if (n <= 0 || n > 256 || offset < 0 || offset + n > 256)
        return nullptr;
    std::vector<unsigned char> values(static_cast<size_t>(n) * 3);
    if (!vela_lookup_get_values(lut, offset, n, values.data()))
        return nullptr;
    cube->resize(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        const unsigned char *e = &values[3 * static_cast<size_t>(i)];
        uint32_t r = rgb_order ? e[0] : e[2], b = rgb_order ? e[2] : e[0];
        (*cube)[static_cast<size_t>(i)] = r << 16 | static_cast<uint32_t>(e[1]) << 8 | b;
    }
    VelaImage *reduced = image_24to8(img);
    if (reduced == nullptr)
        return nullptr;
    int ps = 0, rs = 0;
    unsigned char *data = retrieve_data(reduced, &ps, &rs);
    if (data == nullptr) {
        vela_destroy(reduced);
        return nullptr;
    }
    int w = vela_get_width(reduced), h = vela_get_height(reduced);
    for (int y = 0; y < h; y++) {
        unsigned char *p = data + static_cast<ptrdiff_t>(y) * rs;
        for (int x = 0; x < w; x++, p += ps) {
            int v = *p - offset;
            *p = static_cast<unsigned char>(v < 0 ? 0 : v >= n ? n - 1 : v);
        }
    }
    reimport_image(reduced, 1);
    return reduced;
}

} // namespace

// --- public functions ---------------------------------------------------------------

bool x_colour_rgb(const char *colour, uint32_t *rgb)
{
    if (colour == nullptr || *colour == '\0')
        return false;
    if (colour[0] == '#')
        return parse_hash(colour + 1, rgb);
    if (strncasecmp(colour, "rgb:", 4) == 0)
        return parse_rgb_device(colour + 4, rgb);
    std::string name;
    for (const char *p = colour; *p != '\0'; p++)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    const auto &names = colour_names();
    auto it = names.find(name);
    if (it == names.end())
        return false;
    *rgb = it->second;
    return true;
}

namespace {

// Reads the header and the values as libXpm's parser does; cur is left
// after the values, and *xpm1 says whether the text is of the first XPM
// format.
bool scan_values(const char *text, size_t length, XpmValues *values, XpmCursor &cur, bool *xpm1_out)
{
    if (text == nullptr || length == 0)
        return false;
    const void *nul = std::memchr(text, '\0', length);
    cur = XpmCursor{text, nul != nullptr ? static_cast<const char *>(nul) : text + length};

    // xpmParseHeader: "#define <name>_format" (XPM 1), or a second word
    // "XPM" (XPM 3, C syntax) or "XPM2" and a type word.
    struct Type {
        const char *name, *bcmt, *ecmt;
        char bos, eos;
    };
    static const Type types[] = {{"", "!", "\n", '\0', '\n'},
                                 {"C", "/*", "*/", '"', '"'},
                                 {"Lisp", ";", "\n", '"', '"'}};
    int n = -1;
    bool xpm1 = false;
    std::string w = next_word(cur);
    if (cur.failed)
        return false;
    if (w == "#define") {
        std::string name = next_word(cur);
        if (cur.failed || name.empty())
            return false;
        size_t us = name.rfind('_');
        if (us == std::string::npos || std::string("_format").compare(0, name.size() - us,
                                                                      name, us) != 0)
            return false;
        xpm1 = true;
        n = 1;
    } else {
        std::string second = next_word(cur);
        if (cur.failed)
            return false;
        if (second == "XPM") {
            n = 1;
        } else if (second == "XPM2") {
            std::string type = next_word(cur);
            if (cur.failed)
                return false;
            for (int i = 0; i < 3 && n < 0; i++)
                if (std::strncmp(types[i].name, type.c_str(), type.size()) == 0)
                    n = i;
            if (n < 0)
                return false;
        } else {
            return false;
        }
    }
    cur.bcmt = types[n].bcmt;
    cur.ecmt = types[n].ecmt;
    if (n == 0) {
        next_string(cur);
        cur.bos = types[0].bos;
        cur.eos = types[0].eos;
    } else if (!xpm1) {
        cur.bos = types[n].bos;
        cur.eos = '\0';
        next_string(cur);
        cur.eos = types[n].eos;
    } else {
        next_string(cur);
    }
    if (cur.failed)
        return false;

    // xpmParseValues.
    XpmValues v;
    if (xpm1) {
        if (!xpm1_values(cur, &v))
            return false;
    } else if (!next_number(cur, &v.width) || !next_number(cur, &v.height) ||
               !next_number(cur, &v.ncolors) || !next_number(cur, &v.cpp)) {
        return false;
    }
    *values = v;
    *xpm1_out = xpm1;
    return true;
}

} // namespace

bool xpm_scan_values(const char *text, size_t length, XpmValues *values)
{
    XpmCursor cur{nullptr, nullptr};
    bool xpm1 = false;
    return scan_values(text, length, values, cur, &xpm1);
}

bool xpm_strings_complete(const char *text, size_t length)
{
    XpmCursor cur{nullptr, nullptr};
    XpmValues v;
    bool xpm1 = false;
    if (!scan_values(text, length, &v, cur, &xpm1))
        return false;
    // The first format keeps its colours and pixels in other declarations;
    // libXpm reads those with its own checks.
    if (xpm1)
        return true;
    // Every colour and pixel string must begin and end inside the text:
    // libXpm's parser reads past the end of a buffer that stops sooner.
    uint64_t strings = uint64_t{v.ncolors} + v.height;
    for (uint64_t i = 0; i < strings && !cur.failed; i++)
        next_string(cur);
    if (cur.failed)
        return false;
    // The last string's end; a line of the plain XPM2 format may end the
    // text instead (libXpm stops at the NUL after it).
    if (cur.eos != '\0' && cur.eos != '\n') {
        int c;
        while ((c = cur.get()) != 0 && c != cur.eos) {
        }
    }
    return !cur.failed;
}

bool xbm_parse(const char *text, size_t length, XbmBitmap *bitmap)
{
    if (text == nullptr || length == 0)
        return false;
    long width = 0, height = 0;
    bool x10 = false, declared = false;
    size_t pos = 0;
    // The header: define lines and others up to the declaration, each line
    // short enough for Xlib's line buffer.
    while (pos < length && !declared) {
        Line l = line_at(text, length, pos);
        if (l.end - l.begin > XBM_LINE_MAX ||
            std::memchr(text + l.begin, '\0', l.end - l.begin) != nullptr)
            return false;
        // Xlib's reader decides what each line is; a line it takes for a
        // size or the declaration must then be in the strict form.
        std::string line(text + l.begin, l.end - l.begin);
        char name[XBM_LINE_MAX + 4];
        int number = 0;
        if (std::sscanf(line.c_str(), "#define %255s %d", name, &number) == 2) {
            std::string type = name_type(name), strict_name;
            long value = 0;
            if (type == "width" || type == "height") {
                if (!define_line(words_of(text, l), &strict_name, &value) || strict_name != name)
                    return false;
                (type == "width" ? width : height) = value;
            }
        } else if (int kind = xlib_declaration(line); kind >= 0) {
            if (!declaration_line(text, l, &x10) || x10 != (kind == 1))
                return false;
            declared = true;
        }
        pos = l.next;
    }
    if (!declared || width <= 0 || height <= 0 || width > MAX_IMAGE_SIDE ||
        height > MAX_IMAGE_SIDE)
        return false;

    // X10 files store 16-bit values, low byte first; a line of 1 to 8
    // pixels past a multiple of 16 drops the high byte of its last value.
    int64_t bpl = (width + 7) / 8;
    int64_t values = x10 ? (width + 15) / 16 * height : bpl * height;
    // Each value takes at least "0x0" and a comma between values.
    if (values * 4 - 1 > static_cast<int64_t>(length - pos) || !memory_can_hold(bpl * height * 3))
        return false;
    std::vector<unsigned char> bits(static_cast<size_t>(bpl * height));
    int64_t per_line = x10 ? (width + 15) / 16 : bpl;
    size_t out = 0;
    for (int64_t i = 0; i < values; i++) {
        while (pos < length && data_space(text[pos]))
            pos++;
        if (i > 0) {
            if (pos >= length || text[pos] != ',')
                return false;
            pos++;
            while (pos < length && data_space(text[pos]))
                pos++;
        }
        uint32_t v = 0;
        if (!hex_token(text, length, &pos, x10 ? 0xffff : 0xff, &v))
            return false;
        bits[out++] = static_cast<unsigned char>(v);
        if (x10) {
            bool last_of_line = (i + 1) % per_line == 0;
            if (!(last_of_line && bpl % 2 == 1))
                bits[out++] = static_cast<unsigned char>(v >> 8);
        }
    }
    while (pos < length && data_space(text[pos]))
        pos++;
    if (pos < length && text[pos] == ',')
        pos++;
    while (pos < length && data_space(text[pos]))
        pos++;
    if (pos >= length || text[pos] != '}')
        return false;
    bitmap->width = static_cast<int>(width);
    bitmap->height = static_cast<int>(height);
    bitmap->bits = std::move(bits);
    return true;
}

int xpm_load_no_display(ImageRec *image)
{
    std::string text;
    XpmValues v;
    if (!xpm_read_checked(image, &text, &v))
        return -1;
    XpmImageGuard xi;
    if (XpmCreateXpmImageFromBuffer(text.data(), &xi.image, nullptr) < 0)
        return -1;
    xi.filled = true;
    if (xi.image.width != v.width || xi.image.height != v.height ||
        xi.image.ncolors != v.ncolors || xi.image.cpp != v.cpp)
        return -1;
    return xpm_fill_rgb(image, xi.image) ? 0 : -1;
}

int xpm_load(ImageRec *image)
{
    Display *dpy = codec_display();
    if (dpy == nullptr)
        return xpm_load_no_display(image);
    std::string text;
    XpmValues v;
    if (!xpm_read_checked(image, &text, &v))
        return -1;
    return xpm_load_x(image, dpy, &text, v);
}

int xbm_load_no_display(ImageRec *image)
{
    std::string text;
    XbmBitmap bm;
    if (!read_input(image, &text) || !xbm_parse(text.data(), text.size(), &bm))
        return -1;
    return xbm_fill(image, bm) ? 0 : -1;
}

int xbm_load(ImageRec *image)
{
    Display *dpy = codec_display();
    return dpy != nullptr ? xbm_load_x(image, dpy) : xbm_load_no_display(image);
}

int xpm_save(ImageRec *image)
{
    VelaImage *img = image->orig_image;
    if (img == nullptr)
        return -1;
    int width = 0, height = 0, bands = 0, type = 0;
    vela_get_info(img, &width, &height, &bands, &type);
    if (width <= 0 || height <= 0 ||
        !memory_can_hold(static_cast<int64_t>(width) * height * (sizeof(unsigned int) + 1)))
        return -1;
    XpmPicture pic;
    pic.width = static_cast<unsigned int>(width);
    pic.height = static_cast<unsigned int>(height);
    VelaMemoryStorage s;
    if (!vela_export(img) || !vela_get_memory_storage(img, &s)) {
        vela_import(img, 0);
        return -1;
    }
    VelaImage *reduced = nullptr;
    std::vector<uint32_t> cube;
    if (bands == 3) {
        bool exact = collect_true_colour(s, image->rgb_order, &pic);
        vela_import(img, 0);
        if (!exact) {
            // More colours than the writer's 256: the 216-colour cube.
            reduced = reduce_to_cube(img, image->rgb_order, &cube);
            VelaMemoryStorage r;
            if (reduced == nullptr || !vela_export(reduced) ||
                !vela_get_memory_storage(reduced, &r)) {
                if (reduced != nullptr) {
                    vela_import(reduced, 0);
                    vela_destroy(reduced);
                }
                return -1;
            }
            pic = XpmPicture{pic.width, pic.height, {}, {}};
            collect_indexed(
                &pic, static_cast<int>(cube.size()),
                [&](unsigned int x, unsigned int y) {
                    return static_cast<int>(r.data[static_cast<ptrdiff_t>(y) * r.bytes_per_row +
                                                   static_cast<ptrdiff_t>(x) * r.bytes_per_pixel]);
                },
                [&](int v) { return cube[static_cast<size_t>(v)]; });
            vela_import(reduced, 0);
        }
    } else {
        collect_mapped(image, s, type == VELA_BIT, &pic);
        vela_import(img, 0);
    }
    if (!write_xpm(image->file, pic)) {
        if (reduced != nullptr)
            vela_destroy(reduced);
        return -1;
    }
    // After saving, the viewer shows what the file holds.
    if (reduced != nullptr && !adopt_reduced(image, reduced, cube)) {
        vela_destroy(reduced);
        return -1;
    }
    return 0;
}
