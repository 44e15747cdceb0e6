#pragma once

#include <cstdint>
#include <string_view>

// Reads an integer into value as atoi does (white space, optional sign, digits up to the first
// other character, 0 without digits), but returns false where atoi would overflow. (Not an
// optional: returning one costs a store-forwarding stall on the hot path.)
bool parseInteger(std::string_view text, std::int64_t& value);

enum class TimeStatus { ok, malformed, outOfRange };

// Reads a chapter file's 'H:M:S.F' into milliseconds, as muxers do: hours, minutes and seconds by
// the atoi rule, then '.' or ',' and a decimal fraction of a second (its first three digits; none
// and no point count 0). A sign before the hours applies to the whole time. Malformed without
// both colons; out of range when a field or a sum on the way does not fit in 64 bits.
TimeStatus timestampToInt(std::string_view text, std::int64_t& milliseconds);

// Reads a time given on the command line strictly, in the forms players and probes print: an
// optional sign, then SS, MM:SS or HH:MM:SS in digits, then optionally '.' or ',' and digits.
TimeStatus timeArgumentToInt(std::string_view text, std::int64_t& milliseconds);

// Renders milliseconds as 'HH:MM:SS.mmm' at out (hours widen as needed, '-' before negative
// times), which timestampToInt reads back to the same value. Returns the end of what it wrote.
char* intToTimestamp(char* out, std::int64_t milliseconds);

// Writes value in decimal at out, at least two digits wide. Returns the end of what it wrote.
char* writeTwoDigitsAtLeast(char* out, std::int64_t value);

// Writes value in decimal at out. Returns the end of what it wrote.
char* writeInteger(char* out, std::int64_t value);

// The most that the renderings write, for any int64.
constexpr std::size_t maxNumberSize = 20;    // -9223372036854775808
constexpr std::size_t maxTimestampSize = 24; // -2562047788015:12:55.808
