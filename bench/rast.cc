// Benchmark: Kestrel raster conversion and loading against cp and cat.
//
// Converting a 6000 x 4000 24-bit raster file to a run-length encoded one
// (the orvimage binary, in batch mode) is compared with cp of the same file;
// loading it alone (rast_load in this process) with cat to /dev/null.
// Each figure is the best of five runs; ratios are printed.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/corvat.h"
#include "app/paths.h"
#include "formats/rast.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

using bench::best_of;
using bench::run;

// Writes a photo-like 24-bit raster file: smooth gradients with noise, so
// that run-length encoding has both runs and literals to do.
void make_picture(const std::string &path, int w, int h)
{
    std::ofstream out(path, std::ios::binary);
    auto put = [&out](uint32_t v) {
        unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        out.write(reinterpret_cast<char *>(b), 4);
    };
    for (uint32_t v : {0x59a66a95u, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 24u,
                       static_cast<uint32_t>(w * h * 3), 1u, 0u, 0u})
        put(v);
    std::vector<unsigned char> row(static_cast<size_t>(w) * 3);
    unsigned seed = 1;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            seed = seed * 1103515245u + 12345u;
            int noise = (seed >> 28) & 3;
            bool flat = (x / 500 + y / 400) % 3 == 0;
            row[3 * x] = static_cast<unsigned char>(flat ? 200 : (x / 24 + noise) & 0xff);
            row[3 * x + 1] = static_cast<unsigned char>(flat ? 120 : (y / 16 + noise) & 0xff);
            row[3 * x + 2] = static_cast<unsigned char>(flat ? 40 : ((x + y) / 40) & 0xff);
        }
        out.write(reinterpret_cast<char *>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

} // namespace

int main()
{
    std::string dir = "/tmp/orvbench-rast";
    run("rm -rf " + dir + " && mkdir -p " + dir);
    std::string in = dir + "/big.ras", out = dir + "/out.ras", copy = dir + "/copy.ras";
    make_picture(in, 6000, 4000);
    std::string viewer = exe_dir() + "/orvimage";

    double cp = best_of(5, [&] { run("cp '" + in + "' '" + copy + "'"); });
    double convert = best_of(5, [&] {
        run("env -u DISPLAY '" + viewer + "' -f -out raster:'" + out + "' '" + in + "'");
    });
    double cat = best_of(5, [&] { run("cat '" + in + "' > /dev/null"); });

    prog = pre_init_prog();
    if (vela_open_for_display() != 0) {
        std::fprintf(stderr, "bench: the imaging library does not open\n");
        return 1;
    }
    double load = best_of(5, [&] {
        ImageRec *img = init_image(in.c_str(), in.c_str(), 0, &all_types[0], nullptr);
        if (rast_load(img) != 0)
            std::fprintf(stderr, "bench: load failed\n");
        destroy_image(img);
    });

    std::printf("6000 x 4000 24-bit raster\n");
    std::printf("  cp                      %7.3f s\n", cp);
    std::printf("  convert to encoded      %7.3f s   %.2fx cp   (target 4x)\n", convert, convert / cp);
    std::printf("  cat > /dev/null         %7.3f s\n", cat);
    std::printf("  load                    %7.3f s   %.2fx cat  (target 2x)\n", load, load / cat);
    run("rm -rf " + dir);
    return 0;
}
