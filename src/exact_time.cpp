#include "exact_time.hpp"

#include <limits>

Int128 nanosecondsOf(ExactTime time) {
    return Int128{time.milliseconds} * nanosecondsPerMillisecond + time.nanoseconds;
}

std::optional<ExactTime> timeOfNanoseconds(Int128 nanoseconds) {
    Int128 milliseconds = nanoseconds / nanosecondsPerMillisecond;
    Int128 past = nanoseconds % nanosecondsPerMillisecond;
    if (past < 0) { // the nanoseconds count up from the millisecond below
        past += nanosecondsPerMillisecond;
        --milliseconds;
    }
    if (milliseconds < std::numeric_limits<std::int64_t>::min() ||
        milliseconds > std::numeric_limits<std::int64_t>::max())
        return std::nullopt;
    return ExactTime{static_cast<std::int64_t>(milliseconds), static_cast<std::int32_t>(past)};
}

std::optional<ExactTime> add(ExactTime a, ExactTime b) {
    return timeOfNanoseconds(nanosecondsOf(a) + nanosecondsOf(b));
}

std::optional<ExactTime> subtract(ExactTime a, ExactTime b) {
    return timeOfNanoseconds(nanosecondsOf(a) - nanosecondsOf(b));
}

std::optional<std::int64_t> rounded(ExactTime time) {
    std::int64_t milliseconds = time.milliseconds;
    if (2 * time.nanoseconds >= nanosecondsPerMillisecond &&
        __builtin_add_overflow(milliseconds, 1, &milliseconds))
        return std::nullopt;
    return milliseconds;
}

std::optional<ExactTime> ticksToTime(std::int64_t ticks, std::int64_t num, std::int64_t den) {
    if (num <= 0 || den <= 0 || num > INT32_MAX || den > INT32_MAX)
        return std::nullopt;
    // At most 2^63 * 2^31 * 2^30 in magnitude: exact in 128 bits.
    const Int128 scaled = Int128{ticks} * num * 1'000'000'000;
    Int128 nanoseconds = scaled / den;
    const Int128 remainder = scaled % den;
    if (2 * (remainder < 0 ? -remainder : remainder) >= den)
        nanoseconds += scaled < 0 ? -1 : 1;
    return timeOfNanoseconds(nanoseconds);
}
