// Micro-benchmarks of the per-line work: build/bench/chapcat_micro
#include "chapter_line.hpp"
#include "frame_rate.hpp"
#include "placement.hpp"
#include "timestamp.hpp"

#include <benchmark/benchmark.h>

namespace {

void parseTimestampBench(benchmark::State& state, const char* text) {
    std::string_view view = text;
    std::int64_t milliseconds = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(view);
        benchmark::DoNotOptimize(timestampToInt(view, milliseconds));
        benchmark::DoNotOptimize(milliseconds);
    }
}
BENCHMARK_CAPTURE(parseTimestampBench, normalForm, "01:23:45.678");
BENCHMARK_CAPTURE(parseTimestampBench, otherForm, "1:23:45.6780");

void writeTimestampBench(benchmark::State& state) {
    char text[maxTimestampSize];
    std::int64_t milliseconds = 5025678;
    for (auto _ : state) {
        benchmark::DoNotOptimize(milliseconds);
        benchmark::DoNotOptimize(intToTimestamp(text, milliseconds));
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
    const Part start = startPart({12, 3600000, 0}, 0, std::nullopt, {});
    for (auto _ : state) {
        Part part = start;
        benchmark::DoNotOptimize(place(part, parseLine(line)));
    }
}
BENCHMARK_CAPTURE(parseLineBench, timeLine, "CHAPTER07=00:21:37.100");
BENCHMARK_CAPTURE(parseLineBench, nameLine, "CHAPTER07NAME=Night Crossing");
BENCHMARK_CAPTURE(parseLineBench, otherLine, "; a comment");

} // namespace

BENCHMARK_MAIN();
