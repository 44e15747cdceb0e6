#pragma once

#include <cstdint>
#include <string_view>

// Reads an integer into value as atoi does (white space, optional sign, digits up to the first
// other character, 0 without digits), but returns false where atoi would overflow. (Not an
// optional: returning one costs a store-forwarding stall on the hot path.)
bool parseInteger(std::string_view text, std::int64_t& value);

enum class TimeStatus { ok, malformed, outOfRange };

// Reads 'H:M:S.F' into milliseconds. The fraction counts milliseconds ('5' is 5 ms) and a sign
// before the hours applies to the whole time. Malformed when a separator is missing; out of
// range when a field or a sum on the way does not fit in 64 bits.
TimeStatus timestampToInt(std::string_view text, std::int64_t& milliseconds);

// Renders milliseconds as 'HH:MM:SS.mmm' at out (hours widen as needed, '-' before negative
// times), which timestampToInt reads back to the same value. Returns the end of what it wrote.
char* intToTimestamp(char* out, std::int64_t milliseconds);

// Writes value in decimal at out, at least two digits wide. Returns the end of what it wrote.
char* writeTwoDigitsAtLeast(char* out, std::int64_t value);

// The most that the two renderings write, for any int64.
constexpr std::size_t maxNumberSize = 20;    // -9223372036854775808
constexpr std::size_t maxTimestampSize = 24; // -2562047788015:12:55.808
