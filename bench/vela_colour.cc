/*
 * vela_colour.cc - times the imaging library's colour operations on a
 * 6000 x 4000 photo-like image (gradients, noise, edges) against memcpy:
 * ordered dither onto "cc496" with "dm443", a 3-band lookup of an 8-bit
 * image, Floyd-Steinberg error diffusion of a grey image to 1 bit, nearest
 * colour through a 214-colour map (a fresh lookup, then the same one
 * again), and (untargeted) the grey conversion and the choice of that map.
 * Prints each best-of-5 time and its ratio.  The 3-band lookup writes
 * three times the bytes it reads, so it is also set against a memcpy of
 * its output.
 */
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "bench_support.h"
#include "vela.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000, kRuns = 5;

// Returns the best of kRuns timings of f, in milliseconds.
double best_ms(const std::function<void()> &f)
{
    return bench::best_of(kRuns, f) * 1e3;
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "bench_vela_colour: %s failed\n", what);
    std::exit(1);
}

// Returns the best memcpy time of n bytes between two touched buffers.
double memcpy_ms(size_t n)
{
    return bench::memcpy_time(n, kRuns) * 1e3;
}

// Returns a new w x h 3-band image of smooth gradients, a few hard-edged
// discs and +-12 of noise, the same on every run.
VelaImage *photo(VelaState *state, int w, int h)
{
    VelaImage *img = vela_create(state, w, h, 3, VELA_BYTE);
    if (!img)
        die("vela_create");
    VelaMemoryStorage st;
    vela_export(img);
    vela_get_memory_storage(img, &st);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        unsigned char *row = st.data + static_cast<size_t>(y) * st.bytes_per_row;
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
            double c[3] = {40 + 170 * v, 60 + 150 * u * (1 - v), 30 + 200 * u * v};
            const double dx = u - 0.6, dy = v - 0.4;
            if (dx * dx + dy * dy < 0.04) {
                c[0] = 220 - 100 * u;
                c[1] = 40 + 60 * v;
                c[2] = 90;
            }
            if ((x / (w / 8) + y / (h / 6)) % 5 == 0)
                c[1] = 255 - c[1];
            for (int b = 0; b < 3; ++b) {
                seed = seed * 1664525u + 1013904223u;
                int n = static_cast<int>(seed >> 27) - 16; // -16 .. 15
                int val = static_cast<int>(c[b]) + n * 3 / 4;
                row[x * 3 + b] = static_cast<unsigned char>(val < 0 ? 0 : val > 255 ? 255 : val);
            }
        }
    }
    vela_import(img, 1);
    return img;
}

void print_row(const char *name, double ms, double base, const char *base_name, double target)
{
    std::printf("%-38s %8.2f ms %6.2fx memcpy %s", name, ms, ms / base, base_name);
    if (target > 0)
        std::printf(" (target %.0fx: %s)", target, ms / base <= target ? "met" : "MISSED");
    std::printf("\n");
}

} // namespace

int main()
{
    VelaState *state = vela_open();
    if (!state)
        die("vela_open");
    VelaImage *src = photo(state, kWidth, kHeight);
    VelaImage *grey = vela_create(state, kWidth, kHeight, 1, VELA_BYTE);
    VelaImage *bits = vela_create(state, kWidth, kHeight, 1, VELA_BIT);
    VelaImage *rgb = vela_create(state, kWidth, kHeight, 3, VELA_BYTE);
    if (!grey || !bits || !rgb)
        die("vela_create");

    const size_t in3 = static_cast<size_t>(kWidth) * kHeight * 3, in1 = in3 / 3;
    const double base3 = memcpy_ms(in3), base1 = memcpy_ms(in1);
    std::printf("%-38s %8.2f ms\n", "memcpy 72 MB", base3);
    std::printf("%-38s %8.2f ms\n", "memcpy 24 MB", base1);

    // Ordered dither as image_24to8 does it.
    VelaLookup *cc496 = vela_lookup_get_by_name(state, "cc496");
    VelaDitherMask *dm443 = vela_dithermask_get_by_name(state, "dm443");
    if (!cc496 || !dm443)
        die("standard objects");
    double ms = best_ms([&] {
        if (!vela_ordered_dither(src, grey, cc496, dm443))
            die("vela_ordered_dither");
    });
    print_row("ordered dither cc496/dm443", ms, base3, "72 MB", 4);

    // An 8-bit image through a 256-entry colour lookup (image_8to24).
    unsigned char values[256 * 3];
    for (int i = 0; i < 256; ++i) {
        values[i * 3] = static_cast<unsigned char>(i);
        values[i * 3 + 1] = static_cast<unsigned char>(255 - i);
        values[i * 3 + 2] = static_cast<unsigned char>(i * 7);
    }
    VelaLookup *lut = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, 256, 0, values);
    if (!lut)
        die("vela_lookup_create");
    ms = best_ms([&] {
        if (!vela_lookup(grey, rgb, lut))
            die("vela_lookup");
    });
    print_row("lookup 8-bit -> 3 bands", ms, base1, "24 MB in", 3);
    print_row("  the same against its 72 MB output", ms, base3, "72 MB out", 0);

    // The grey image of the photo, then image_8to1.
    VelaColorSpace *rgbl = vela_colorspace_get_by_name(state, "rgblinear");
    VelaColorSpace *yl = vela_colorspace_get_by_name(state, "ylinear");
    if (!vela_set_colorspace(src, rgbl) || !vela_set_colorspace(grey, yl))
        die("vela_set_colorspace");
    ms = best_ms([&] {
        if (!vela_color_convert(src, grey))
            die("vela_color_convert");
    });
    print_row("colour convert rgblinear -> ylinear", ms, base3, "72 MB", 0);
    const int mult[1] = {-1};
    const unsigned dims[1] = {2};
    VelaLookup *cube2 = vela_colorcube_create(state, VELA_BIT, VELA_BYTE, 1, 0, mult, dims);
    VelaKernel *fs = vela_kernel_get_by_name(state, "floyd-steinberg");
    if (!cube2 || !fs)
        die("2-level cube");
    ms = best_ms([&] {
        if (!vela_error_diffusion(grey, bits, cube2, fs))
            die("vela_error_diffusion");
    });
    print_row("error diffusion grey -> 1 bit", ms, base1, "24 MB", 12);

    // A 214-colour map chosen from a smaller picture of the same kind.
    VelaImage *small = photo(state, 1200, 800);
    VelaLookup *map = nullptr;
    ms = best_ms([&] {
        vela_lookup_destroy(map);
        map = vela_choose_colormap(small, 214);
        if (!map)
            die("vela_choose_colormap");
    });
    print_row("choose 214 colours of 1200 x 800", ms, base3, "72 MB", 0);
    vela_lookup_set_offset(map, 40);
    // The first call through a lookup also works out its colour cells; the
    // viewer's later redisplays through the same lookup reuse them.
    unsigned char colours[214 * 3];
    const int n = vela_lookup_get_num_entries(map);
    vela_lookup_get_values(map, 40, n, colours);
    ms = best_ms([&] {
        VelaLookup *fresh = vela_lookup_create(state, VELA_BYTE, VELA_BYTE, 3, n, 40, colours);
        if (!fresh || !vela_nearest_color(src, grey, fresh))
            die("vela_nearest_color");
        vela_lookup_destroy(fresh);
    });
    print_row("nearest colour, first call", ms, base3, "72 MB", 6);
    ms = best_ms([&] {
        if (!vela_nearest_color(src, grey, map))
            die("vela_nearest_color");
    });
    print_row("nearest colour, same lookup again", ms, base3, "72 MB", 6);

    vela_lookup_destroy(map);
    vela_lookup_destroy(cube2);
    vela_lookup_destroy(lut);
    vela_destroy(small);
    vela_destroy(rgb);
    vela_destroy(bits);
    vela_destroy(grey);
    vela_destroy(src);
    vela_close(state);
    return 0;
}
