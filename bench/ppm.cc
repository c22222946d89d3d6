// Benchmark: loading portable maps against cat and netpbm.
//
// A 6000 x 4000 raw PPM (maximum 255) is loaded by ppm_load in this process
// and compared with cat of the same file to /dev/null (target: within 2x)
// and with netpbm's ppmtoppm reading it.  A maximum-15 file (scaled while
// read) and a raw PGM are timed beside it.  Each figure is the best of
// five runs; ratios are printed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/corvat.h"
#include "formats/ppm.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

using bench::best_of;
using bench::run;

// Writes a photo-like raw portable map: gradients with noise, samples up
// to maxval, channels 3 (PPM) or 1 (PGM).
void make_picture(const std::string &path, int w, int h, int channels, int maxval)
{
    std::ofstream out(path, std::ios::binary);
    out << (channels == 3 ? "P6\n" : "P5\n") << w << " " << h << "\n" << maxval << "\n";
    std::vector<unsigned char> row(static_cast<size_t>(w) * channels);
    unsigned seed = 1;
    for (int y = 0; y < h; y++) {
        for (size_t i = 0; i < row.size(); i++) {
            seed = seed * 1103515245u + 12345u;
            int x = static_cast<int>(i / channels);
            int v = (x / 24 + y / 16 + static_cast<int>(i % channels) * 80 + ((seed >> 28) & 3)) & 0xff;
            row[i] = static_cast<unsigned char>(v * maxval / 255);
        }
        out.write(reinterpret_cast<char *>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

double time_load(const std::string &path)
{
    return best_of(5, [&] {
        ImageRec *img = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_PPM], nullptr);
        if (ppm_load(img) != 0)
            std::fprintf(stderr, "bench: load of %s failed\n", path.c_str());
        destroy_image(img);
    });
}

} // namespace

int main()
{
    std::string dir = "/tmp/orvbench-ppm";
    run("rm -rf " + dir + " && mkdir -p " + dir);
    std::string ppm = dir + "/big.ppm", ppm15 = dir + "/big15.ppm", pgm = dir + "/big.pgm";
    make_picture(ppm, 6000, 4000, 3, 255);
    make_picture(ppm15, 6000, 4000, 3, 15);
    make_picture(pgm, 6000, 4000, 1, 255);

    prog = pre_init_prog();
    if (vela_open_for_display() != 0) {
        std::fprintf(stderr, "bench: the imaging library does not open\n");
        return 1;
    }
    double cat = best_of(5, [&] { run("cat '" + ppm + "' > /dev/null"); });
    double netpbm = best_of(5, [&] { run("ppmtoppm < '" + ppm + "' > /dev/null"); });
    double load = time_load(ppm);
    double load15 = time_load(ppm15);
    double cat_pgm = best_of(5, [&] { run("cat '" + pgm + "' > /dev/null"); });
    double load_pgm = time_load(pgm);

    std::printf("6000 x 4000 raw PPM (72 MB)\n");
    std::printf("  cat > /dev/null         %7.3f s\n", cat);
    std::printf("  netpbm ppmtoppm         %7.3f s   %.2fx cat\n", netpbm, netpbm / cat);
    std::printf("  load, maxval 255        %7.3f s   %.2fx cat  (target 2x)\n", load, load / cat);
    std::printf("  load, maxval 15         %7.3f s   %.2fx cat\n", load15, load15 / cat);
    std::printf("6000 x 4000 raw PGM (24 MB)\n");
    std::printf("  cat > /dev/null         %7.3f s\n", cat_pgm);
    std::printf("  load                    %7.3f s   %.2fx cat\n", load_pgm, load_pgm / cat_pgm);
    run("rm -rf " + dir);
    return 0;
}
