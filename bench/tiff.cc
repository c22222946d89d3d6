// bench_tiff - TIFF load and save of a 6000 x 4000 RGB picture against
// libtiff's tiffcp in the same run: loading an LZW file against tiffcp
// copying it to an uncompressed file, and writing an LZW file against
// tiffcp -c lzw from an uncompressed one.  Prints best-of-N times and the
// ratios (target: at most 1.3).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/corvat.h"
#include "formats/tiff.h"
#include "image/display.h"
#include "image/image.h"
#include "image/vela_iface.h"

extern char **environ;

namespace {

constexpr int kWidth = 6000, kHeight = 4000;
constexpr int kRounds = 3;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs a program to completion; returns true when it exited with 0.
bool run(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Returns a record holding a photograph-like picture: smooth gradients with
// a little noise, so that LZW finds some but not much to compress.
ImageRec *make_picture(const std::string &path)
{
    ImageRec *image = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_TIFF], nullptr);
    image->width = kWidth;
    image->height = kHeight;
    image->depth = 24;
    int ps = 0, rs = 0;
    unsigned char *data = create_data(image, &ps, &rs);
    if (data == nullptr)
        return nullptr;
    unsigned seed = 1;
    for (int y = 0; y < kHeight; y++) {
        unsigned char *p = data + static_cast<ptrdiff_t>(y) * rs;
        for (int x = 0; x < kWidth; x++, p += ps) {
            seed = seed * 1103515245u + 12345u;
            int noise = static_cast<int>((seed >> 16) & 7);
            p[0] = static_cast<unsigned char>((x * 255 / kWidth + noise) & 0xff);
            p[1] = static_cast<unsigned char>((y * 255 / kHeight + noise) & 0xff);
            p[2] = static_cast<unsigned char>(((x + y) / 40 * 16 + noise) & 0xff);
        }
    }
    vela_import(image->orig_image, 1);
    return image;
}

// Saves the record's picture to path with the given compression; returns
// the seconds taken, or -1.
double timed_save(ImageRec *src, const std::string &path, int compression)
{
    std::free(src->file);
    src->file = strdup(path.c_str());
    src->realfile = src->file;
    src->compression = compression;
    double t = now();
    int rc = tiff_save(src);
    double dt = now() - t;
    return rc == 0 ? dt : -1;
}

// Loads path; returns the seconds taken, or -1.
double timed_load(const std::string &path)
{
    ImageRec *image = init_image(path.c_str(), path.c_str(), 0, &all_types[FMT_TIFF], nullptr);
    double t = now();
    int rc = tiff_load(image);
    double dt = now() - t;
    destroy_image(image);
    return rc == 0 ? dt : -1;
}

double timed_run(const std::vector<std::string> &argv)
{
    double t = now();
    bool ok = run(argv);
    double dt = now() - t;
    return ok ? dt : -1;
}

double best(double a, double b)
{
    return a < 0 ? b : (b < 0 || a < b ? a : b);
}

} // namespace

int main()
{
    prog = pre_init_prog();
    if (vela_open_for_display() != 0) {
        std::fprintf(stderr, "bench_tiff: cannot open the imaging library\n");
        return 1;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bench_tiff.XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        std::perror("bench_tiff: mkdtemp");
        return 1;
    }
    std::string dir = tmpl, plain = dir + "/plain.tif", ours_lzw = dir + "/ours_lzw.tif",
                peer_lzw = dir + "/peer_lzw.tif", peer_plain = dir + "/peer_plain.tif";
    ImageRec *picture = make_picture(plain);
    bool ok = picture != nullptr && timed_save(picture, plain, COMP_NONE) >= 0;

    double save_ours = -1, save_peer = -1, load_ours = -1, load_peer = -1;
    for (int round = 0; ok && round < kRounds; round++) {
        save_ours = best(save_ours, timed_save(picture, ours_lzw, COMP_LZW));
        save_peer = best(save_peer, timed_run({"tiffcp", "-c", "lzw", plain, peer_lzw}));
        load_ours = best(load_ours, timed_load(peer_lzw));
        load_peer = best(load_peer, timed_run({"tiffcp", "-c", "none", peer_lzw, peer_plain}));
    }
    ok = ok && save_ours > 0 && save_peer > 0 && load_ours > 0 && load_peer > 0;
    if (picture != nullptr)
        destroy_image(picture);
    run({"rm", "-rf", dir});
    if (!ok) {
        std::fprintf(stderr, "bench_tiff: a run failed (is tiffcp installed?)\n");
        return 1;
    }
    std::printf("TIFF %d x %d RGB, best of %d\n", kWidth, kHeight, kRounds);
    std::printf("  load LZW: ours %.3f s, tiffcp -c none %.3f s, ratio %.2f (target <= 1.30)\n",
                load_ours, load_peer, load_ours / load_peer);
    std::printf("  save LZW: ours %.3f s, tiffcp -c lzw  %.3f s, ratio %.2f (target <= 1.30)\n",
                save_ours, save_peer, save_ours / save_peer);
    return 0;
}
