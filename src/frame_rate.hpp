#pragma once

#include "exact_time.hpp"

#include <cstdint>

// The doubles of the two steps, by their bits.
constexpr std::uint64_t palFactorBits = 0x3FF0AEEEEEEEEEEF;      // 1.0427083333333333, ~1001/960
constexpr std::uint64_t palAddendBits = 0x3FE0000000000000;      // 0.5
constexpr std::uint64_t pulldownFactorBits = 0x3FF004189374BC6A; // 1.001
constexpr std::uint64_t pulldownAddendBits = 0x3FA999999999999A; // 0.05

// Applies the conversions that are switched on to milliseconds, PAL to film first:
//   pal2Film (25 fps to 24000/1001 fps):  t = floor(t * 1.0427083333333333 + 0.5)
//   threeTwoPulldown (3:2 pulldown):      t = floor(t * 1.001 + 0.05)
// Returns false when the result does not fit in 64 bits.
bool convertFrameRate(std::int64_t& milliseconds, bool pal2Film, bool threeTwoPulldown);

// The same for a time to the nanosecond. One in whole milliseconds is converted as above, so that
// chapter files' times stay as they were; one with a fraction exactly, by 1001/960 or by
// 1001/1000, to the nearest nanosecond, but rounded to the millisecond first where both are on.
bool convertFrameRate(ExactTime& time, bool pal2Film, bool threeTwoPulldown);
