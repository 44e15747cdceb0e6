// Compares the exact frame-rate steps with the x87 unit over every 32-bit time, in both
// directions from zero. Too slow for the test suite; run it by hand:
//   build/bench/frame_rate_exhaustive [--negative]
#include "frame_rate.hpp"
#include "x87_reference.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#ifndef CHAPCAT_HAVE_X87
int main() {
    std::puts("no x87 long double on this machine: nothing to compare");
    return 0;
}
#else
namespace {

template <typename Exact, typename Reference>
std::int64_t countMismatches(const char* what, std::int64_t from, std::int64_t to, Exact exact,
                             Reference reference) {
    const auto start = std::chrono::steady_clock::now();
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::atomic<std::int64_t> mismatches{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            std::int64_t local = 0;
            for (std::int64_t t = from + i; t < to; t += threads) {
                if (exact(t) != reference(t) && local++ < 3)
                    std::printf("  mismatch at %lld\n", static_cast<long long>(t));
            }
            mismatches += local;
        });
    }
    for (auto& worker : workers)
        worker.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%-28s [%lld, %lld): %lld mismatches, %.1f s\n", what, static_cast<long long>(from),
                static_cast<long long>(to), static_cast<long long>(mismatches.load()),
                took.count());
    return mismatches;
}

} // namespace

int main(int argc, char** argv) {
    const bool negative = argc > 1 && std::strcmp(argv[1], "--negative") == 0;
    const std::int64_t from = negative ? INT32_MIN : 0;
    const std::int64_t to = negative ? 0 : std::int64_t{INT32_MAX} + 1;
    std::int64_t mismatches = countMismatches("PAL to film", from, to, palToFilm, x87PalToFilm);
    mismatches += countMismatches("3:2 pulldown", from, to, threeTwoPulldownTime, x87Pulldown);
    return mismatches == 0 ? 0 : 1;
}
#endif
