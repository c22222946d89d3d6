// test_support.h - what the viewer's code expects to exist before a unit
// test calls it: the program record and the imaging library.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/corvat.h"
#include "image/image.h"
#include "image/vela_iface.h"

// Makes the program record and opens the imaging library once.
inline void ensure_program()
{
    if (prog == nullptr) {
        prog = pre_init_prog();
        std::free(prog->directory);
        prog->directory = strdup("/tmp");
    }
    if (image_display == nullptr || image_display->state == nullptr) {
        ASSERT_EQ(vela_open_for_display(), 0);
    }
}

// A folder for a test's files, removed with it.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/orvtest.XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

inline void write_bytes(const std::string &path, const std::vector<unsigned char> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<unsigned char> read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command line of the test's own making; returns its status.
inline int run_command(const std::string &cmd)
{
    return std::system(cmd.c_str());
}

// A picture in memory, 8 bits per channel, for comparisons.
struct Rgb {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels; // r, g, b per pixel, rows top down
};

// Reads a binary PPM (P6, maxval 255) or PGM (P5) file as RGB.
inline bool read_pnm(const std::string &path, Rgb *out)
{
    std::vector<unsigned char> b = read_bytes(path);
    std::string text(b.begin(), b.end());
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    in >> magic >> out->width >> out->height >> maxval;
    if ((magic != "P6" && magic != "P5") || maxval != 255)
        return false;
    in.get();
    size_t start = static_cast<size_t>(in.tellg());
    size_t n = static_cast<size_t>(out->width) * out->height;
    size_t channels = magic == "P6" ? 3 : 1;
    if (b.size() < start + n * channels)
        return false;
    out->pixels.resize(n * 3);
    for (size_t i = 0; i < n; i++)
        for (size_t c = 0; c < 3; c++)
            out->pixels[3 * i + c] = b[start + i * channels + (channels == 3 ? c : 0)];
    return true;
}

// Decodes a file with a peer program into RGB: "convert" (ImageMagick) or
// a netpbm converter such as "rasttopnm".
inline bool peer_decode(const std::string &tool, const std::string &path, Rgb *out,
                        const std::string &scratch)
{
    std::string ppm = scratch + ".peer.ppm";
    std::string cmd = tool == "convert"
                          ? "/usr/bin/convert '" + path + "' -depth 8 ppm:'" + ppm + "' 2>/dev/null"
                          : tool + " '" + path + "' 2>/dev/null | ppmtoppm > '" + ppm + "' 2>/dev/null";
    return run_command(cmd) == 0 && read_pnm(ppm, out);
}

// Returns the record's decoded picture as RGB, through its colormap for
// 8-bit images, 0 as white and 1 as black for 1-bit ones.
inline Rgb record_to_rgb(ImageRec *image)
{
    Rgb out;
    VelaImage *img = image->orig_image;
    out.width = vela_get_width(img);
    out.height = vela_get_height(img);
    VelaMemoryStorage s;
    vela_export(img);
    vela_get_memory_storage(img, &s);
    int bands = vela_get_nbands(img), type = vela_get_datatype(img);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; y++) {
        const unsigned char *row = s.data + static_cast<ptrdiff_t>(y) * s.bytes_per_row;
        for (int x = 0; x < out.width; x++) {
            unsigned char *o = &out.pixels[3 * (static_cast<size_t>(y) * out.width + x)];
            if (type == VELA_BIT) {
                int bit = s.bit_offset + x;
                int v = (row[bit >> 3] >> (7 - (bit & 7))) & 1;
                o[0] = o[1] = o[2] = v ? 0 : 255;
            } else if (bands == 1) {
                int v = row[static_cast<ptrdiff_t>(x) * s.bytes_per_pixel] - image->offset;
                bool in_map = v >= 0 && v < image->ncolors;
                o[0] = in_map ? image->red[v] : 0;
                o[1] = in_map ? image->green[v] : 0;
                o[2] = in_map ? image->blue[v] : 0;
            } else {
                const unsigned char *p = row + static_cast<ptrdiff_t>(x) * s.bytes_per_pixel;
                o[0] = image->rgb_order ? p[0] : p[2];
                o[1] = p[1];
                o[2] = image->rgb_order ? p[2] : p[0];
            }
        }
    }
    vela_import(img, 0);
    return out;
}

// Writes RGB as a binary PPM.
inline void write_ppm(const std::string &path, const Rgb &rgb)
{
    std::string header = "P6\n" + std::to_string(rgb.width) + " " + std::to_string(rgb.height) + "\n255\n";
    std::vector<unsigned char> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), rgb.pixels.begin(), rgb.pixels.end());
    write_bytes(path, bytes);
}

// Returns a deterministic colourful test picture.
inline Rgb test_picture(int width, int height, unsigned seed = 1)
{
    Rgb rgb;
    rgb.width = width;
    rgb.height = height;
    rgb.pixels.resize(static_cast<size_t>(width) * height * 3);
    unsigned s = seed;
    for (size_t i = 0; i < rgb.pixels.size(); i++) {
        s = s * 1103515245u + 12345u;
        rgb.pixels[i] = static_cast<unsigned char>((s >> 16) & 0xff);
    }
    return rgb;
}
