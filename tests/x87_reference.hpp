#pragma once
// The frame-rate steps of the code, and as computed by the x87 unit itself, where long double is
// its 80-bit format: each volatile store rounds to a 64-bit significand, so nothing is contracted
// or kept wider.

#include "frame_rate.hpp"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <optional>

// One step of the code under test, empty where it refuses the result.
inline std::optional<std::int64_t> palToFilm(std::int64_t t) {
    return convertFrameRate(t, true, false) ? std::optional(t) : std::nullopt;
}
inline std::optional<std::int64_t> threeTwoPulldownTime(std::int64_t t) {
    return convertFrameRate(t, false, true) ? std::optional(t) : std::nullopt;
}

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
#define CHAPCAT_HAVE_X87 1

inline std::int64_t x87Step(std::int64_t t, double factor, double addend) {
    volatile long double time = static_cast<long double>(t);
    volatile long double product = time * static_cast<long double>(factor);
    volatile long double sum = product + static_cast<long double>(addend);
    volatile double rounded = static_cast<double>(sum);
    return static_cast<std::int64_t>(std::floor(rounded));
}

inline std::int64_t x87PalToFilm(std::int64_t t) {
    return x87Step(t, 1.0427083333333333, 0.5);
}
inline std::int64_t x87Pulldown(std::int64_t t) {
    return x87Step(t, 1.001, 0.05);
}

#endif
