#pragma once
// What the media source computes besides what libavformat reads.

#include <cstdint>
#include <optional>

// ticks of num/den seconds in milliseconds, to the nearest (halves away from zero, as libavformat
// rounds); none for a time base that is not positive or a result outside 64 bits.
std::optional<std::int64_t> ticksToMilliseconds(std::int64_t ticks, int num, int den);
