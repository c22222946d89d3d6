/*
 * vela_geometry.cc - times the imaging library's geometry on a 6000 x 4000
 * 3-band image against memcpy of the same bytes: a quarter turn, both
 * flips, a 33-degree rotation into its bounding box and a 2x zoom, each
 * set up as the viewer sets up its view image (origins at the centres).
 * Prints each best-of-5 time and its ratio to memcpy.
 */
#include <chrono>
#include <cmath>
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

// Returns the best memcpy time of n bytes between two touched buffers.
double memcpy_ms(size_t n)
{
    return bench::memcpy_time(n, kRuns) * 1e3;
}

// Returns the best time of vela_affine(src, dst, m) with both origins at
// the image centres; dst is w x h.
double affine_ms(VelaState *state, VelaImage *src, int w, int h, const float m[6])
{
    VelaImage *dst = vela_create(state, w, h, 3, VELA_BYTE);
    if (!dst) {
        std::fprintf(stderr, "bench_vela_geometry: vela_create %d x %d failed\n", w, h);
        std::exit(1);
    }
    vela_set_origin(src, kWidth * 0.5f, kHeight * 0.5f);
    vela_set_origin(dst, w * 0.5f, h * 0.5f);
    double ms = best_ms([&] {
        if (!vela_affine(src, dst, "nearest", m)) {
            std::fprintf(stderr, "bench_vela_geometry: vela_affine failed\n");
            std::exit(1);
        }
    });
    vela_set_origin(src, 0, 0);
    vela_destroy(dst);
    return ms;
}

void print_row(const char *name, double ms, double base, double target)
{
    std::printf("%-34s %9.2f ms %7.2fx memcpy (target %.0fx: %s)\n", name, ms, ms / base, target,
                ms / base <= target ? "met" : "MISSED");
}

} // namespace

int main()
{
    VelaState *state = vela_open();
    VelaImage *src = state ? vela_create(state, kWidth, kHeight, 3, VELA_BYTE) : nullptr;
    if (!src) {
        std::fprintf(stderr, "bench_vela_geometry: cannot create the source image\n");
        return 1;
    }
    VelaMemoryStorage st;
    vela_export(src);
    vela_get_memory_storage(src, &st);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth * 3; ++x)
            st.data[static_cast<size_t>(y) * st.bytes_per_row + x] =
                static_cast<unsigned char>(x * 7 + y * 13);
    vela_import(src, 1);

    const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 3;
    const double base = memcpy_ms(bytes);
    std::printf("%-34s %9.2f ms\n", "memcpy 72 MB", base);

    // The viewer's matrices: rotate_xform(90), the two mirrors, a zoom.
    const double quarter = 90 * M_PI / 180;
    const float turn[6] = {static_cast<float>(std::cos(quarter)),
                           static_cast<float>(-std::sin(quarter)),
                           static_cast<float>(std::sin(quarter)),
                           static_cast<float>(std::cos(quarter)),
                           0,
                           0};
    const float mirror_lr[6] = {-1, 0, 0, 1, 0, 0};
    const float mirror_tb[6] = {1, 0, 0, -1, 0, 0};
    print_row("90-degree turn", affine_ms(state, src, kHeight, kWidth, turn), base, 3);
    print_row("flip left-right", affine_ms(state, src, kWidth, kHeight, mirror_lr), base, 3);
    print_row("flip top-bottom", affine_ms(state, src, kWidth, kHeight, mirror_tb), base, 3);

    // The bounding box as display_new_image sizes it.
    const double a = 33 * M_PI / 180;
    const float rot[6] = {static_cast<float>(std::cos(a)),
                          static_cast<float>(-std::sin(a)),
                          static_cast<float>(std::sin(a)),
                          static_cast<float>(std::cos(a)),
                          0,
                          0};
    auto extent = [](double p, double q) {
        double s = std::fabs(std::trunc(p - q)), t = std::fabs(std::trunc(p + q));
        return static_cast<int>(s > t ? s : t);
    };
    const int rw = extent(kWidth * rot[0], kHeight * rot[2]);
    const int rh = extent(kWidth * rot[1], kHeight * rot[3]);
    char name[64];
    std::snprintf(name, sizeof name, "33-degree rotation (%d x %d)", rw, rh);
    print_row(name, affine_ms(state, src, rw, rh, rot), base, 8);

    const double big = memcpy_ms(bytes * 4);
    std::printf("%-34s %9.2f ms\n", "memcpy 288 MB", big);
    const float zoom[6] = {2, 0, 0, 2, 0, 0};
    print_row("2x zoom (vs memcpy 288 MB)", affine_ms(state, src, kWidth * 2, kHeight * 2, zoom),
              big, 4);

    vela_destroy(src);
    vela_close(state);
    return 0;
}
