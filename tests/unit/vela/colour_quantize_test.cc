/*
 * colour_quantize_test.cc - the nearest-colour search against brute force
 * (random and clustered maps, ties, offsets, regions of interest) and the
 * colormap chooser: exact colours for images with few of them, and on a
 * photo-like picture a quality no worse than ImageMagick's quantizer.
 */
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vela_test.h"

namespace {

using velatest::pixel;
using velatest::set_pixel;

class QuantizeTest : public velatest::VelaTest {};

// Returns the entry of map (n colours) nearest to c, lowest on ties.
int brute_nearest(const std::vector<unsigned char> &map, int n, const int *c)
{
    int best = 0, bestd = 1 << 30;
    for (int k = 0; k < n; ++k) {
        int d = 0;
        for (int b = 0; b < 3; ++b) {
            const int t = map[k * 3 + b] - c[b];
            d += t * t;
        }
        if (d < bestd) {
            bestd = d;
            best = k;
        }
    }
    return best;
}

TEST_F(QuantizeTest, NearestColourEqualsBruteForce)
{
    std::mt19937 rng(77);
    // Random maps of several sizes, clustered maps (many near-ties) and a
    // map with duplicate entries.
    for (int trial = 0; trial < 8; ++trial) {
        const int n = trial == 0 ? 1 : trial == 1 ? 2 : trial < 5 ? 214 : 256 - trial;
        std::vector<unsigned char> map(static_cast<size_t>(n) * 3);
        for (int k = 0; k < n; ++k)
            for (int b = 0; b < 3; ++b) {
                if (trial == 3) // on a coarse grid: exact ties everywhere
                    map[k * 3 + b] = static_cast<unsigned char>((rng() % 6) * 51);
                else if (trial == 4) // clustered around grey
                    map[k * 3 + b] = static_cast<unsigned char>(120 + rng() % 16);
                else
                    map[k * 3 + b] = static_cast<unsigned char>(rng());
            }
        if (trial == 5)
            for (int k = 0; k < 20; ++k)
                for (int b = 0; b < 3; ++b)
                    map[(n - 1 - k) * 3 + b] = map[k * 3 + b];
        const int offset = 256 - n;
        VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, n, offset, map.data());
        VelaImage *src = make(97, 61, 3, VELA_BYTE);
        velatest::fill_random(src, rng);
        VelaImage *dst = make(97, 61, 1, VELA_BYTE);
        ASSERT_EQ(vela_nearest_color(src, dst, lut), 1);
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 97; ++x) {
                const int c[3] = {pixel(src, x, y, 0), pixel(src, x, y, 1), pixel(src, x, y, 2)};
                ASSERT_EQ(pixel(dst, x, y), offset + brute_nearest(map, n, c))
                    << "trial " << trial << " at " << x << "," << y;
            }
        vela_lookup_destroy(lut);
    }
}

TEST_F(QuantizeTest, NearestColourOfEveryColourNearOneMap)
{
    // All colours of a 64^3 sub-cube of colour space, one per pixel.
    std::mt19937 rng(11);
    std::vector<unsigned char> map(100 * 3);
    for (auto &v : map)
        v = static_cast<unsigned char>(64 + rng() % 128);
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 100, 0, map.data());
    VelaImage *src = make(64 * 64, 64, 3, VELA_BYTE);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64 * 64; ++x) {
            set_pixel(src, x, y, 0, 96 + y);
            set_pixel(src, x, y, 1, 96 + x / 64);
            set_pixel(src, x, y, 2, 96 + x % 64);
        }
    VelaImage *dst = make(64 * 64, 64, 1, VELA_BYTE);
    ASSERT_EQ(vela_nearest_color(src, dst, lut), 1);
    int wrong = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64 * 64; ++x) {
            const int c[3] = {96 + y, 96 + x / 64, 96 + x % 64};
            wrong += pixel(dst, x, y) != brute_nearest(map, 100, c);
        }
    EXPECT_EQ(wrong, 0);
    vela_lookup_destroy(lut);
}

TEST_F(QuantizeTest, NearestColourRoiAndArguments)
{
    const unsigned char map[6] = {0, 0, 0, 255, 255, 255};
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 2, 40, map);
    VelaImage *src = make(10, 10, 3, VELA_BYTE);
    const float light[3] = {200, 200, 200};
    vela_set_value(src, light);
    VelaImage *dst = make(10, 10, 1, VELA_BYTE);
    VelaRoi *roi = vela_roi_create(state);
    vela_roi_add_rect(roi, 0, 0, 4, 10);
    vela_set_roi(dst, roi);
    vela_roi_destroy(roi);
    ASSERT_EQ(vela_nearest_color(src, dst, lut), 1);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(pixel(dst, x, y), x < 4 ? 41 : 0);

    VelaImage *grey = make(10, 10, 1, VELA_BYTE);
    EXPECT_EQ(vela_nearest_color(grey, dst, lut), 0);
    EXPECT_EQ(vela_nearest_color(src, src, lut), 0);
    vela_lookup_set_offset(lut, 255); // index 256 does not fit
    EXPECT_EQ(vela_nearest_color(src, dst, lut), 0);
    EXPECT_EQ(take_errors().size(), 3u);
    vela_lookup_destroy(lut);
}

// Returns the colours of lut as (b0, b1, b2) triples.
std::vector<std::vector<int>> colours_of(VelaLookup *lut)
{
    const int n = vela_lookup_get_num_entries(lut);
    std::vector<unsigned char> v(static_cast<size_t>(n) * 3);
    vela_lookup_get_values(lut, vela_lookup_get_offset(lut), n, v.data());
    std::vector<std::vector<int>> out;
    for (int i = 0; i < n; ++i)
        out.push_back({v[i * 3], v[i * 3 + 1], v[i * 3 + 2]});
    return out;
}

TEST_F(QuantizeTest, FewColoursComeBackExactly)
{
    std::mt19937 rng(4);
    for (int count : {1, 7, 214, 216}) {
        std::vector<std::vector<int>> palette;
        for (int i = 0; i < count; ++i)
            palette.push_back({static_cast<int>(rng() % 256), i, static_cast<int>(rng() % 256)});
        VelaImage *img = make(50, 40, 3, VELA_BYTE);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 50; ++x) {
                const auto &c = palette[(y * 50 + x) < count ? y * 50 + x : rng() % count];
                for (int b = 0; b < 3; ++b)
                    set_pixel(img, x, y, b, c[b]);
            }
        for (int ask : {count, count + 1, 216}) {
            if (ask < count)
                continue;
            VelaLookup *lut = vela_choose_colormap(img, ask);
            ASSERT_NE(lut, nullptr);
            EXPECT_EQ(vela_lookup_get_offset(lut), 0);
            // In order of first appearance, each once.
            EXPECT_EQ(colours_of(lut), palette) << count << " colours, " << ask << " asked";
            vela_lookup_destroy(lut);
        }
    }
}

TEST_F(QuantizeTest, ReducesAColormapOfManyGreys)
{
    // The 8-bit path: a 256-entry grey colormap as a 256 x 1 image.
    VelaImage *img = make(256, 1, 3, VELA_BYTE);
    for (int x = 0; x < 256; ++x)
        for (int b = 0; b < 3; ++b)
            set_pixel(img, x, 0, b, x);
    VelaLookup *lut = vela_choose_colormap(img, 216);
    ASSERT_NE(lut, nullptr);
    auto colours = colours_of(lut);
    EXPECT_EQ(colours.size(), 216u);
    // Every grey is within 1 of a chosen colour.
    for (int g = 0; g < 256; ++g) {
        int best = 1 << 30;
        for (const auto &c : colours)
            best = std::min(best, std::abs(c[0] - g) + std::abs(c[1] - g) + std::abs(c[2] - g));
        EXPECT_LE(best, 3) << g;
    }
    vela_lookup_destroy(lut);

    EXPECT_EQ(vela_choose_colormap(img, 0), nullptr);
    VelaImage *one = make(4, 4, 1, VELA_BYTE);
    EXPECT_EQ(vela_choose_colormap(one, 16), nullptr);
    EXPECT_EQ(take_errors().size(), 2u);
}

// A photo-like w x h picture: gradients, a few hard-edged shapes, a
// textured patch and noise; thousands of colours.
void paint_photo(VelaImage *img, int w, int h)
{
    std::mt19937 rng(2024);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
            double c[3] = {30 + 180 * v, 50 + 160 * u * (1 - v) + 30 * std::sin(7 * u),
                           20 + 210 * u * v};
            const double dx = u - 0.62, dy = v - 0.38;
            if (dx * dx + dy * dy < 0.03) {
                c[0] = 200 - 120 * u;
                c[1] = 40 + 80 * v;
                c[2] = 230 - 60 * v;
            }
            if (x > w / 8 && x < w / 3 && y > h / 2 && y < h * 7 / 8) {
                c[0] = 70 + 40 * std::sin(x * 0.3) * std::cos(y * 0.2);
                c[1] = 150 + 30 * v;
                c[2] = 60;
            }
            for (int b = 0; b < 3; ++b) {
                const int noise = static_cast<int>(rng() % 17) - 8;
                const int val = static_cast<int>(c[b]) + noise;
                set_pixel(img, x, y, b, val < 0 ? 0 : val > 255 ? 255 : val);
            }
        }
}

// Returns the PSNR of b against a (same-sized sample vectors), in dB.
double psnr(const std::vector<int> &a, const std::vector<int> &b)
{
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i)
        se += static_cast<double>(a[i] - b[i]) * (a[i] - b[i]);
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

// Writes img (blue, green, red bands) as a binary PPM; returns success.
bool write_ppm(VelaImage *img, const std::string &path)
{
    const int w = vela_get_width(img), h = vela_get_height(img);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", w, h);
    std::vector<unsigned char> row(static_cast<size_t>(w) * 3);
    bool ok = true;
    for (int y = 0; y < h && ok; ++y) {
        for (int x = 0; x < w; ++x)
            for (int b = 0; b < 3; ++b)
                row[x * 3 + b] = static_cast<unsigned char>(pixel(img, x, y, 2 - b));
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    return std::fclose(f) == 0 && ok;
}

// Reads a binary PPM of w x h into samples in blue, green, red order.
bool read_ppm(const std::string &path, int w, int h, std::vector<int> *out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    int fw = 0, fh = 0, maxv = 0;
    bool ok = std::fscanf(f, "P6 %d %d %d", &fw, &fh, &maxv) == 3 && std::fgetc(f) != EOF &&
              fw == w && fh == h && maxv == 255;
    std::vector<unsigned char> data(static_cast<size_t>(w) * h * 3);
    ok = ok && std::fread(data.data(), 1, data.size(), f) == data.size();
    std::fclose(f);
    out->clear();
    for (size_t p = 0; ok && p < data.size(); p += 3)
        for (int b = 0; b < 3; ++b)
            out->push_back(data[p + 2 - b]);
    return ok;
}

TEST_F(QuantizeTest, PhotoQualityMatchesImageMagick)
{
    if (access("/usr/bin/convert", X_OK) != 0)
        GTEST_SKIP() << "/usr/bin/convert is missing";
    const int w = 512, h = 384;
    VelaImage *img = make(w, h, 3, VELA_BYTE);
    paint_photo(img, w, h);
    const std::vector<int> original = velatest::samples(img);

    VelaLookup *lut = vela_choose_colormap(img, 216);
    ASSERT_NE(lut, nullptr);
    ASSERT_LE(vela_lookup_get_num_entries(lut), 216);
    VelaImage *idx = make(w, h, 1, VELA_BYTE);
    VelaImage *mapped = make(w, h, 3, VELA_BYTE);
    ASSERT_EQ(vela_nearest_color(img, idx, lut), 1);
    ASSERT_EQ(vela_lookup(idx, mapped, lut), 1);
    const double ours = psnr(original, velatest::samples(mapped));
    vela_lookup_destroy(lut);

    char dir[] = "/tmp/vela-quantize-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string in = std::string(dir) + "/in.ppm", out = std::string(dir) + "/out.ppm";
    ASSERT_TRUE(write_ppm(img, in));
    // Read back what we wrote, so the picture has thousands of colours.
    std::vector<int> check;
    ASSERT_TRUE(read_ppm(in, w, h, &check));
    ASSERT_EQ(check, original);
    const std::string cmd = "/usr/bin/convert '" + in + "' -colors 216 +dither '" + out + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::vector<int> theirs_px;
    ASSERT_TRUE(read_ppm(out, w, h, &theirs_px));
    const double theirs = psnr(original, theirs_px);
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(dir);

    // The picture is photo-like: many thousands of colours.
    std::vector<int> keys;
    for (size_t i = 0; i < original.size(); i += 3)
        keys.push_back(original[i] << 16 | original[i + 1] << 8 | original[i + 2]);
    std::sort(keys.begin(), keys.end());
    const size_t distinct = static_cast<size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
    EXPECT_GT(distinct, 20000u);
    RecordProperty("psnr_vela", std::to_string(ours));
    RecordProperty("psnr_imagemagick", std::to_string(theirs));
    std::printf("PSNR with 216 colours: vela %.2f dB, ImageMagick %.2f dB\n", ours, theirs);
    EXPECT_GE(ours, theirs - 0.3);
}

} // namespace
