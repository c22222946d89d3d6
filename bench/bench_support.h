// bench_support.h - timing and peer helpers the benchmarks share.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// The best wall-clock time of runs calls of f, in seconds.
inline double best_of(int runs, const std::function<void()> &f)
{
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best)
            best = s;
    }
    return best;
}

// Runs a shell command line (of our own making); false, said on standard
// error, when it fails.
inline bool run(const std::string &cmd)
{
    if (std::system(cmd.c_str()) == 0)
        return true;
    std::fprintf(stderr, "bench: failed: %s\n", cmd.c_str());
    return false;
}

// True when a peer program is installed.
inline bool have(const char *program)
{
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// The best time of a memcpy of n bytes between two touched buffers, in
// seconds.
inline double memcpy_time(size_t n, int runs = 5)
{
    std::vector<unsigned char> a(n, 1), b(n, 2);
    double s = best_of(runs, [&] { std::memcpy(b.data(), a.data(), n); });
    // Keep the copy observable so that it is not optimised away.
    if (n > 0 && b[n / 2] != 1)
        std::fprintf(stderr, "bench: memcpy check failed\n");
    return s;
}

} // namespace bench
