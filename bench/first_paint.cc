// Benchmark: from the start of a viewer to its first complete paint, and
// its peak memory, against peer viewers in the same run.
//
//   bench_first_paint [picture.ras]
//
// Runs on the display in DISPLAY (scripts/bench starts a private 1920 x
// 1080 Xvfb).  Each viewer is started, the screen is sampled until it has
// not changed for a second, and the time of the last change is its first
// complete paint; the peak resident memory (VmHWM) is read just before the
// viewer is stopped.  Without a picture argument a 6000 x 4000 photo-like
// 24-bit picture is made (as .ras for us and ImageMagick, as .ppm for feh);
// the same picture as a JPEG is then opened by us and by feh.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/paths.h"

extern char **environ;

namespace {

using bench::have;

using Clock = std::chrono::steady_clock;

// A hash of the whole screen.
uint64_t screen_hash(Display *d)
{
    Window root = DefaultRootWindow(d);
    XWindowAttributes a;
    XGetWindowAttributes(d, root, &a);
    XImage *img = XGetImage(d, root, 0, 0, static_cast<unsigned>(a.width),
                            static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (img == nullptr)
        return 0;
    uint64_t h = 1469598103934665603ULL;
    size_t n = static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(img->height);
    const uint64_t *p = reinterpret_cast<const uint64_t *>(img->data);
    for (size_t i = 0; i < n / 8; i += 7)
        h = (h ^ p[i]) * 1099511628211ULL;
    XDestroyImage(img);
    return h;
}

long peak_kb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Result {
    double seconds = -1;
    long peak = -1;
};

// Starts argv, waits until the screen settles; returns the time of the last
// change and the peak memory.
Result measure(Display *d, const std::vector<std::string> &argv)
{
    // A blank screen first.
    XSetWindowBackground(d, DefaultRootWindow(d), BlackPixel(d, DefaultScreen(d)));
    XClearWindow(d, DefaultRootWindow(d));
    XSync(d, False);
    uint64_t before = screen_hash(d);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    auto t0 = Clock::now();
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return {};
    uint64_t last = before;
    auto last_change = t0;
    while (Clock::now() - t0 < std::chrono::seconds(30)) {
        uint64_t h = screen_hash(d);
        auto now = Clock::now();
        if (h != last) {
            last = h;
            last_change = now;
        } else if (last != before && now - last_change > std::chrono::seconds(1)) {
            break;
        }
    }
    Result r;
    r.seconds = std::chrono::duration<double>(last_change - t0).count();
    r.peak = peak_kb(pid);
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    Display *d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::fprintf(stderr, "bench_first_paint: needs a display (scripts/bench starts one)\n");
        return 1;
    }
    std::string dir = "/tmp/orvbench-paint";
    std::system(("mkdir -p " + dir).c_str());
    std::string ras = argc > 1 ? argv[1] : dir + "/big.ras";
    std::string ppm = dir + "/big.ppm";
    if (argc <= 1) {
        std::system(("/usr/bin/convert -size 6000x4000 -seed 4 plasma:fractal -blur 0x2 -depth 8 '" + ppm +
                     "' && /usr/bin/convert '" + ppm + "' ras:'" + ras + "'").c_str());
    } else {
        std::system(("/usr/bin/convert '" + ras + "' -depth 8 '" + ppm + "'").c_str());
    }
    std::string ours = exe_dir() + "/orvimage";
    struct Peer {
        const char *name;
        std::vector<std::string> argv;
    };
    std::string jpg = dir + "/big.jpg";
    std::system(("/usr/bin/convert '" + ppm + "' -quality 90 '" + jpg + "'").c_str());
    std::vector<Peer> peers = {{"orvimage big.ras", {ours, ras}}};
    if (have("feh"))
        peers.push_back({"feh big.ppm", {"feh", "--no-menus", ppm}});
    if (have("display"))
        peers.push_back({"display big.ras", {"display", ras}});
    if (have("xwud"))
        peers.push_back({"xwud (bare put)", {"sh", "-c",
                                             "/usr/bin/convert '" + ppm +
                                                 "' -crop 1920x1080+0+0 xwd:" + dir +
                                                 "/s.xwd && exec xwud -in " + dir + "/s.xwd"}});
    std::vector<Result> results;
    for (const Peer &p : peers) {
        Result best;
        for (int run = 0; run < 3; run++) {
            Result r = measure(d, p.argv);
            if (best.seconds < 0 || (r.seconds >= 0 && r.seconds < best.seconds))
                best = r;
        }
        results.push_back(best);
        std::printf("%-20s first paint %6.3f s   peak %7.1f MB\n", p.name, best.seconds,
                    best.peak / 1024.0);
    }
    double image_mb = 6000.0 * 4000 * 3 / 1e6;
    if (results.size() > 1 && results[0].seconds > 0) {
        std::printf("\norvimage / feh:     %.2f (target at most 1.0)\n", results[0].seconds / results[1].seconds);
        if (results.size() > 2)
            std::printf("orvimage / display: %.2f (target at most 0.25)\n",
                        results[0].seconds / results[2].seconds);
    }
    std::printf("orvimage peak / decoded picture: %.2f (target at most 2.5)\n",
                results[0].peak / 1024.0 * 1.048576 / image_mb);
    // The same picture as a JPEG, against feh decoding the same file.
    if (have("feh")) {
        Result jpeg_us, jpeg_feh;
        for (int run = 0; run < 3; run++) {
            Result a = measure(d, {ours, jpg});
            Result b = measure(d, {"feh", "--no-menus", jpg});
            if (jpeg_us.seconds < 0 || (a.seconds >= 0 && a.seconds < jpeg_us.seconds))
                jpeg_us = a;
            if (jpeg_feh.seconds < 0 || (b.seconds >= 0 && b.seconds < jpeg_feh.seconds))
                jpeg_feh = b;
        }
        std::printf("\n%-20s first paint %6.3f s   peak %7.1f MB\n", "orvimage big.jpg",
                    jpeg_us.seconds, jpeg_us.peak / 1024.0);
        std::printf("%-20s first paint %6.3f s   peak %7.1f MB\n", "feh big.jpg", jpeg_feh.seconds,
                    jpeg_feh.peak / 1024.0);
        if (jpeg_feh.seconds > 0)
            std::printf("orvimage / feh (JPEG): %.2f (target at most 1.0)\n",
                        jpeg_us.seconds / jpeg_feh.seconds);
    }
    XCloseDisplay(d);
    return 0;
}
