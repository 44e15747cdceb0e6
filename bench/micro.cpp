// Micro-benchmarks of the per-line work: build/bench/chapcat_micro
#include "chapter_line.hpp"
#include "frame_rate.hpp"
#include "timestamp.hpp"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void parseTimestampBench(benchmark::State& state, const char* text) {
    std::string_view view = text;
    std::int64_t milliseconds = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(view);
        benchmark::DoNotOptimize(parseTimestamp(view, milliseconds));
        benchmark::DoNotOptimize(milliseconds);
    }
}
BENCHMARK_CAPTURE(parseTimestampBench, normalForm, "01:23:45.678");
BENCHMARK_CAPTURE(parseTimestampBench, otherForm, "1:23:45.6780");

void writeTimestampBench(benchmark::State& state) {
    char text[timestampSize];
    std::int64_t milliseconds = 5025678;
    for (auto _ : state) {
        benchmark::DoNotOptimize(milliseconds);
        benchmark::DoNotOptimize(writeTimestamp(text, milliseconds));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(writeTimestampBench);

void convertBench(benchmark::State& state) {
    std::int64_t time = 1;
    for (auto _ : state) {
        std::int64_t converted = time++ * 1000 + 950; // the slow case needs exact rounding
        benchmark::DoNotOptimize(convertFrameRate(converted, true, true));
    }
}
BENCHMARK(convertBench);

void parseLineBench(benchmark::State& state, const char* line) {
    std::vector<char> room(std::string_view(line).size() + maxLineGrowth);
    std::int64_t nextChapterOffset = 0;
    std::optional<std::int64_t> nextTimeOffset;
    for (auto _ : state) {
        char* out = room.data();
        benchmark::DoNotOptimize(
            parseLine(line, 12, 3600000, 0, nextChapterOffset, nextTimeOffset, false, false, out));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK_CAPTURE(parseLineBench, timeLine, "CHAPTER07=00:21:37.100");
BENCHMARK_CAPTURE(parseLineBench, nameLine, "CHAPTER07NAME=Night Crossing");
BENCHMARK_CAPTURE(parseLineBench, otherLine, "; a comment");

} // namespace

BENCHMARK_MAIN();
