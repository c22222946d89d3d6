// Benchmark: loading a 6000 x 4000 photo-like JPEG against libjpeg-turbo's
// djpeg writing the same file's pixels to /dev/null (netpbm's jpegtopnm
// when djpeg is missing), and saving it against cjpeg.
// Each figure is the best of five runs; ratios are printed.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/corvat.h"
#include "formats/jfif.h"
#include "image/image.h"
#include "image/vela_iface.h"

namespace {

using bench::best_of;
using bench::run;
using bench::have;

// Writes a photo-like PPM: smooth colour fields with waves and grain, so
// that the JPEG has the detail of a photograph and not of a flat drawing.
void make_picture(const std::string &path, int w, int h)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    std::vector<unsigned char> row(static_cast<size_t>(w) * 3);
    unsigned seed = 1;
    for (int y = 0; y < h; y++) {
        double fy = static_cast<double>(y) / h;
        for (int x = 0; x < w; x++) {
            double fx = static_cast<double>(x) / w;
            seed = seed * 1103515245u + 12345u;
            int grain = static_cast<int>((seed >> 16) % 9) - 4;
            double v[3] = {90 + 80 * std::sin(fx * 11 + std::sin(fy * 7) * 2),
                           100 + 70 * std::cos(fy * 13 + fx * 5),
                           120 + 60 * std::sin((fx - fy) * 17)};
            for (int c = 0; c < 3; c++) {
                int value = static_cast<int>(v[c]) + grain;
                row[3 * x + c] = static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
        out.write(reinterpret_cast<char *>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

} // namespace

int main()
{
    std::string dir = "/tmp/orvbench-jfif";
    run("rm -rf " + dir + " && mkdir -p " + dir);
    std::string ppm = dir + "/big.ppm", jpg = dir + "/big.jpg", out = dir + "/out.jpg";
    make_picture(ppm, 6000, 4000);
    bool djpeg = have("djpeg"), cjpeg = have("cjpeg");
    if (!(cjpeg ? run("cjpeg -quality 90 '" + ppm + "' > '" + jpg + "'")
                : run("/usr/bin/convert '" + ppm + "' -quality 90 '" + jpg + "'")))
        return 1;

    prog = pre_init_prog();
    if (vela_open_for_display() != 0) {
        std::fprintf(stderr, "bench: the imaging library does not open\n");
        return 1;
    }
    const char *peer = djpeg ? "djpeg" : "jpegtopnm";
    double decode = best_of(5, [&] {
        run(std::string(peer) + " '" + jpg + "' > /dev/null" + (djpeg ? "" : " 2>/dev/null"));
    });
    ImageRec *kept = nullptr;
    double load = best_of(5, [&] {
        ImageRec *img = init_image(jpg.c_str(), jpg.c_str(), 0, &all_types[FMT_JFIF], nullptr);
        if (jfif_load(img) != 0)
            std::fprintf(stderr, "bench: load failed\n");
        destroy_image(kept);
        kept = img;
    });
    double encode = cjpeg ? best_of(5, [&] { run("cjpeg -quality 90 '" + ppm + "' > /dev/null"); }) : 0;
    // The loaded picture is saved as it is: blue-green-red memory order
    // leaves it untouched, so one record serves every run.
    free(kept->file);
    kept->file = kept->realfile = strdup(out.c_str());
    double save = best_of(5, [&] {
        if (jfif_save(kept) != 0)
            std::fprintf(stderr, "bench: save failed\n");
    });
    destroy_image(kept);

    std::printf("6000 x 4000 photo-like JPEG, quality 90\n");
    std::printf("  %-9s > /dev/null    %7.3f s\n", peer, decode);
    std::printf("  jfif_load              %7.3f s   %.2fx %s   (target 1.3x)\n", load,
                load / decode, peer);
    if (cjpeg) {
        std::printf("  cjpeg > /dev/null      %7.3f s\n", encode);
        std::printf("  jfif_save              %7.3f s   %.2fx cjpeg\n", save, save / encode);
    } else {
        std::printf("  jfif_save              %7.3f s\n", save);
    }
    run("rm -rf " + dir);
    return 0;
}
