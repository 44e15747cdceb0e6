#pragma once
// Times kept to the nanosecond until they are written, so that the fractions of a millisecond in
// media parts' lengths add up exactly over any number of parts instead of their roundings.

#include "timestamp.hpp" // Int128

#include <cstdint>
#include <optional>

struct ExactTime {
    std::int64_t milliseconds = 0;
    std::int32_t nanoseconds = 0; // past them: 0 to 999,999

    constexpr ExactTime() = default;
    // Whole milliseconds convert without a word: most times are.
    constexpr ExactTime(std::int64_t wholeMilliseconds, std::int32_t past = 0)
        : milliseconds(wholeMilliseconds), nanoseconds(past) {}
    friend constexpr bool operator==(ExactTime, ExactTime) = default;
};

constexpr std::int32_t nanosecondsPerMillisecond = 1'000'000;

// The time in nanoseconds, and back; none where it does not fit.
Int128 nanosecondsOf(ExactTime time);
std::optional<ExactTime> timeOfNanoseconds(Int128 nanoseconds);

// a + b; none where the sum does not fit.
std::optional<ExactTime> add(ExactTime a, ExactTime b);

// a - b; none where it does not fit.
std::optional<ExactTime> subtract(ExactTime a, ExactTime b);

// To the nearest millisecond, halves up: the one rounding a time gets, where it is written.
std::optional<std::int64_t> rounded(ExactTime time);

// ticks of num/den seconds, to the nearest nanosecond; none for a time base that is not
// positive or a result outside the range.
std::optional<ExactTime> ticksToTime(std::int64_t ticks, std::int64_t num, std::int64_t den);
