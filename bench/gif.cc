// Benchmark: GIF loading against netpbm's giftopnm and writing against
// ImageMagick, on a 6000 x 4000 photo-like picture of 256 colours.
//
// Loading: gif_load of ImageMagick's GIF of the picture, in this process,
// against "giftopnm in.gif > /dev/null".  Writing: gif_save of the 8-bit
// picture against ImageMagick writing the same GIF.  ImageMagick's figure
// is "convert in.ppm out.gif" less "convert in.ppm null:" (reading the
// PPM), so that both sides are timed from pixels in memory to a file; the
// same with a GIF as input (an indexed picture on both sides) is printed
// too.  gif_save syncs its file before renaming it over the target;
// GIFEncode to a plain stream is printed beside it.  Each figure is the
// best of five runs.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/corvat.h"
#include "formats/gif.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

using bench::run;

constexpr int kWidth = 6000, kHeight = 4000, kRuns = 5;

// Returns the best of kRuns wall-clock timings of f, in seconds.
double best_of(const std::function<void()> &f)
{
    double best = 1e30;
    for (int i = 0; i < kRuns; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
    }
    return best;
}

// A photo-like picture: smooth shading over a few large shapes with a
// little noise, its colours on a 8 x 8 x 4 cube, so that LZW finds the
// mix of short and long strings a scanned photograph gives.
struct Picture {
    std::vector<unsigned char> index;   // kWidth x kHeight, row by row
    unsigned char red[256], green[256], blue[256];
};

void make_picture(Picture *pic)
{
    for (int i = 0; i < 256; i++) {
        pic->red[i] = static_cast<unsigned char>((i >> 5) * 255 / 7);
        pic->green[i] = static_cast<unsigned char>(((i >> 2) & 7) * 255 / 7);
        pic->blue[i] = static_cast<unsigned char>((i & 3) * 255 / 3);
    }
    pic->index.resize(static_cast<size_t>(kWidth) * kHeight);
    unsigned seed = 7;
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            seed = seed * 1103515245u + 12345u;
            double noise = static_cast<double>((seed >> 16) & 0xff) / 255.0 * 0.6 - 0.3;
            double fx = x / 900.0, fy = y / 700.0;
            double r = 3.5 + 3.5 * std::sin(fx + 0.7 * std::cos(fy * 1.3)) + noise;
            double g = 3.5 + 3.5 * std::cos(fy * 1.7 - fx * 0.4) + noise;
            double b = 1.5 + 1.5 * std::sin((fx + fy) * 2.1) + noise;
            if ((x / 1500 + y / 1000) % 4 == 0) // flat areas, like sky
                r = 6, g = 5, b = 3;
            int ri = std::clamp(static_cast<int>(std::lround(r)), 0, 7);
            int gi = std::clamp(static_cast<int>(std::lround(g)), 0, 7);
            int bi = std::clamp(static_cast<int>(std::lround(b)), 0, 3);
            pic->index[static_cast<size_t>(y) * kWidth + x] =
                static_cast<unsigned char>(ri << 5 | gi << 2 | bi);
        }
}

void write_ppm(const std::string &path, const Picture &pic)
{
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) {
        std::fprintf(stderr, "bench_gif: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fprintf(fp, "P6\n%d %d\n255\n", kWidth, kHeight);
    std::vector<unsigned char> row(static_cast<size_t>(kWidth) * 3);
    for (int y = 0; y < kHeight; y++) {
        for (int x = 0; x < kWidth; x++) {
            int v = pic.index[static_cast<size_t>(y) * kWidth + x];
            row[3 * x] = pic.red[v];
            row[3 * x + 1] = pic.green[v];
            row[3 * x + 2] = pic.blue[v];
        }
        std::fwrite(row.data(), 1, row.size(), fp);
    }
    if (std::fclose(fp) != 0) {
        std::fprintf(stderr, "bench_gif: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// Returns an 8-bit record of the picture, to be saved as path.
ImageRec *make_record(const Picture &pic, const std::string &path)
{
    ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_GIF], nullptr);
    img->width = kWidth;
    img->height = kHeight;
    img->depth = 8;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(img, &ps, &rs);
    if (data == nullptr) {
        std::fprintf(stderr, "bench_gif: no image memory\n");
        std::exit(1);
    }
    for (int y = 0; y < kHeight; y++)
        std::memcpy(data + static_cast<ptrdiff_t>(y) * rs, &pic.index[static_cast<size_t>(y) * kWidth],
                    kWidth);
    vela_import(img->orig_image, 1);
    img->ncolors = 256;
    img->red = static_cast<unsigned char *>(std::malloc(256));
    img->green = static_cast<unsigned char *>(std::malloc(256));
    img->blue = static_cast<unsigned char *>(std::malloc(256));
    std::memcpy(img->red, pic.red, 256);
    std::memcpy(img->green, pic.green, 256);
    std::memcpy(img->blue, pic.blue, 256);
    return img;
}

long file_size(const std::string &path)
{
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        return -1;
    std::fseek(fp, 0, SEEK_END);
    long n = std::ftell(fp);
    std::fclose(fp);
    return n;
}

} // namespace

int main()
{
    char tmpl[] = "/tmp/orvbench-gif.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        std::perror("bench_gif: mkdtemp");
        return 1;
    }
    std::string dir = tmpl;
    std::string ppm = dir + "/in.ppm", magick_gif = dir + "/in.gif", ours = dir + "/ours.gif";
    std::string magick_out = dir + "/magick.gif", plain = dir + "/plain.gif";

    Picture pic;
    make_picture(&pic);
    write_ppm(ppm, pic);
    run("/usr/bin/convert '" + ppm + "' '" + magick_gif + "'");

    prog = pre_init_prog();
    prog->directory = strdup("/tmp");
    if (vela_open_for_display() != 0) {
        std::fprintf(stderr, "bench_gif: the imaging library does not open\n");
        return 1;
    }

    // Loading.
    double giftopnm = best_of([&] { run("giftopnm '" + magick_gif + "' > /dev/null 2>&1"); });
    double load = best_of([&] {
        ImageRec *img = init_image(magick_gif.c_str(), magick_gif.c_str(), 0, &all_types[FMT_GIF],
                                   nullptr);
        if (gif_load(img) != 0)
            std::fprintf(stderr, "bench_gif: load failed\n");
        destroy_image(img);
    });

    // Writing.
    double im_total = best_of([&] { run("/usr/bin/convert '" + ppm + "' '" + magick_out + "'"); });
    double im_read = best_of([&] { run("/usr/bin/convert '" + ppm + "' null:"); });
    double im_gif_total =
        best_of([&] { run("/usr/bin/convert '" + magick_gif + "' '" + magick_out + "'"); });
    double im_gif_read = best_of([&] { run("/usr/bin/convert '" + magick_gif + "' null:"); });
    ImageRec *record = make_record(pic, ours);
    double save = best_of([&] {
        if (gif_save(record) != 0)
            std::fprintf(stderr, "bench_gif: save failed\n");
    });
    double encode = best_of([&] {
        FILE *fp = std::fopen(plain.c_str(), "wb");
        if (fp == nullptr || GIFEncode(fp, kWidth, kHeight, 0, 0, 8, pic.red, pic.green, pic.blue,
                                       pic.index.data(), kWidth) != 0)
            std::fprintf(stderr, "bench_gif: GIFEncode failed\n");
        if (fp != nullptr)
            std::fclose(fp);
    });
    destroy_image(record);

    double im_write = im_total - im_read, im_gif_write = im_gif_total - im_gif_read;
    std::printf("6000 x 4000, 256 colours: ImageMagick's GIF %ld bytes, ours %ld bytes\n",
                file_size(magick_gif), file_size(ours));
    std::printf("  giftopnm > /dev/null         %7.3f s\n", giftopnm);
    std::printf("  gif_load                     %7.3f s   %.2fx giftopnm (target at most 1.2x)\n",
                load, load / giftopnm);
    std::printf("  convert in.ppm out.gif       %7.3f s   (reading in.ppm alone %.3f s)\n", im_total,
                im_read);
    std::printf("  convert in.gif out.gif       %7.3f s   (reading in.gif alone %.3f s)\n",
                im_gif_total, im_gif_read);
    std::printf("  gif_save (with fsync)        %7.3f s   %.2fx faster than ImageMagick's %.3f s "
                "(target at least 2x)\n",
                save, im_write / save, im_write);
    std::printf("                                          %.2fx faster than its %.3f s from a GIF\n",
                im_gif_write / save, im_gif_write);
    std::printf("  GIFEncode to a stream        %7.3f s   %.2fx faster than ImageMagick\n", encode,
                im_write / encode);
    run("rm -rf '" + dir + "'");
    return 0;
}
