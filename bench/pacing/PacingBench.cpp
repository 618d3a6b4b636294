// SPDX-License-Identifier: MIT
// Requested against measured pauses of the system platform's SleepMs, the
// pause that paces I2C and SMBus transfers. A plain program rather than a
// Google Benchmark one, so that it also runs cross-built for Windows.
//
// Usage: corvane_pacing [repetitions]   (default 50 per requested pause)
#include <corvane/Platform.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

int main(int argc, char** argv) {
    const long asked = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 50;
    const auto repetitions = static_cast<std::size_t>(std::clamp(asked, 1L, 10000L));
    const auto platform = Corvane::MakeSystemPlatform();

    std::printf("%9s %9s %9s %9s %9s   (ms, %zu pauses each)\n", "requested", "mean", "median",
                "min", "max", repetitions);
    for (const std::uint32_t requested : {1u, 3u, 13u}) {
        platform->SleepMs(requested);  // the first pause may set up the timer
        std::vector<double> measured;
        for (std::size_t i = 0; i < repetitions; ++i) {
            const auto start = std::chrono::steady_clock::now();
            platform->SleepMs(requested);
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            measured.push_back(took.count());
        }
        std::sort(measured.begin(), measured.end());
        const double mean = std::accumulate(measured.begin(), measured.end(), 0.0) /
                            static_cast<double>(measured.size());
        std::printf("%9u %9.3f %9.3f %9.3f %9.3f\n", static_cast<unsigned>(requested), mean,
                    measured[measured.size() / 2], measured.front(), measured.back());
    }
    return 0;
}
