#pragma once

#include <cstdint>
#include <optional>

// PAL (25 fps) to film (24000/1001 fps): floor(t * 1.0427083333333333 + 0.5).
std::optional<std::int64_t> palToFilm(std::int64_t milliseconds);

// 3:2 pulldown timing: floor(t * 1.001 + 0.05).
std::optional<std::int64_t> threeTwoPulldownTime(std::int64_t milliseconds);

// Applies the conversions that are switched on to milliseconds, PAL to film first. Returns false
// when the result does not fit in 64 bits.
bool convertFrameRate(std::int64_t& milliseconds, bool pal2Film, bool threeTwoPulldown);
