// Benchmark: batch conversion of a 6000 x 4000 photo-like JPEG to GIF and
// to LZW TIFF, against the peers doing the same conversion in the same run:
//   GIF:  djpeg -gif -colors 256, ImageMagick, GraphicsMagick
//   TIFF: ImageMagick, GraphicsMagick, jpegtopnm | pnmtotiff, djpeg | ppm2tiff
// Each command runs five times; the best wall-clock time and the largest
// peak resident memory (of the process and the children it waited for)
// are printed, with the ratios against ours.  Peers that are not installed
// are skipped.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/paths.h"

extern char **environ;

namespace {

using bench::have;

constexpr int kRuns = 5;
constexpr double kDecodedMb = 6000.0 * 4000 * 3 / (1024 * 1024);

struct Result {
    double seconds = -1;
    double peak_mb = 0;
};

// Runs "sh -c cmd" kRuns times; the best time and the largest peak.
Result measure(const std::string &cmd)
{
    Result best;
    for (int i = 0; i < kRuns; i++) {
        const char *argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
        pid_t pid = -1;
        auto t0 = std::chrono::steady_clock::now();
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
            return {};
        int status = 0;
        struct rusage ru {};
        if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_batch_jpeg: failed: %s\n", cmd.c_str());
            return {};
        }
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (best.seconds < 0 || s < best.seconds)
            best.seconds = s;
        double mb = ru.ru_maxrss / 1024.0;
        if (mb > best.peak_mb)
            best.peak_mb = mb;
    }
    return best;
}

struct Peer {
    const char *name;
    const char *program; // must be installed for the peer to run
    std::string cmd;
};

// Times ours and each peer; prints one table and the ratios.
void compare(const char *title, const std::string &ours, const std::vector<Peer> &peers)
{
    std::printf("%s\n", title);
    Result us = measure(ours);
    std::printf("  %-26s %7.3f s  %7.1f MB  (%.2fx the decoded picture, target 2.5x)\n", "orvimage",
                us.seconds, us.peak_mb, us.peak_mb / kDecodedMb);
    for (const Peer &p : peers) {
        if (!have(p.program)) {
            std::printf("  %-26s not installed\n", p.name);
            continue;
        }
        Result r = measure(p.cmd);
        if (r.seconds <= 0)
            continue;
        std::printf("  %-26s %7.3f s  %7.1f MB  orvimage takes %.2fx its time\n", p.name, r.seconds,
                    r.peak_mb, us.seconds / r.seconds);
    }
}

} // namespace

int main()
{
    std::string dir = "/tmp/orvbench-batch-jpeg";
    std::string jpg = dir + "/big.jpg";
    std::string make = "mkdir -p " + dir + " && test -s " + jpg +
                       " || /usr/bin/convert -size 6000x4000 -seed 4 plasma:fractal -blur 0x1 "
                       "-attenuate 0.3 +noise Gaussian -quality 90 " +
                       jpg;
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "bench_batch_jpeg: cannot make the picture\n");
        return 1;
    }
    std::string ours = exe_dir() + "/orvimage";
    std::string out = dir + "/out";
    std::printf("6000 x 4000 photo-like JPEG (quality 90); best of %d runs\n\n", kRuns);

    compare("JPEG to GIF (target: no slower than djpeg, 5x faster than ImageMagick)",
            "env -u DISPLAY " + ours + " -f -out gif:" + out + ".gif " + jpg,
            {{"djpeg -gif -colors 256", "djpeg", "djpeg -gif -colors 256 " + jpg + " > " + out + "-d.gif"},
             {"ImageMagick convert", "convert", "convert " + jpg + " " + out + "-im.gif"},
             {"GraphicsMagick convert", "gm", "gm convert " + jpg + " " + out + "-gm.gif"}});
    std::printf("\n");
    compare("JPEG to LZW TIFF (target: faster than each peer)",
            "env -u DISPLAY " + ours + " -f -out tiff:" + out + ".tif " + jpg,
            {{"ImageMagick convert", "convert",
              "convert " + jpg + " -compress lzw " + out + "-im.tif"},
             {"GraphicsMagick convert", "gm",
              "gm convert " + jpg + " -compress LZW " + out + "-gm.tif"},
             {"jpegtopnm | pnmtotiff", "pnmtotiff",
              "jpegtopnm " + jpg + " 2>/dev/null | pnmtotiff -lzw > " + out + "-n.tif 2>/dev/null"},
             {"djpeg | ppm2tiff", "ppm2tiff",
              "djpeg " + jpg + " | ppm2tiff -c lzw " + out + "-t.tif"}});
    return 0;
}
