#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Wide enough for a 64-bit time times a 32-bit time base.
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

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

// ticks of num/den seconds in milliseconds, to the nearest (halves away from zero, as ffmpeg
// rescales); none for a time base that is not positive or a result outside 64 bits.
std::optional<std::int64_t> ticksToMilliseconds(std::int64_t ticks, std::int64_t num,
                                                std::int64_t den);

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
