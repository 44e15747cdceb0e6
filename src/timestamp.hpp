#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reads an integer into value as atoi does (white space, optional sign, digits up to the first
// other character, 0 without digits), but returns false where atoi would overflow. (Not an
// optional: returning one costs a store-forwarding stall on the hot path.)
bool parseInteger(std::string_view text, std::int64_t& value);

// Reads 'H:M:S.F' into milliseconds. The fraction counts milliseconds ('5' is 5 ms) and a sign
// before the hours applies to the whole time. Returns false when a separator is missing or the
// value does not fit in 64 bits.
bool parseTimestamp(std::string_view text, std::int64_t& milliseconds);

// The same, as an optional.
inline std::optional<std::int64_t> timestampToInt(std::string_view text) {
    std::int64_t milliseconds;
    return parseTimestamp(text, milliseconds) ? std::optional(milliseconds) : std::nullopt;
}

// Renders milliseconds as 'HH:MM:SS.mmm' (hours widen as needed, '-' before negative times),
// which timestampToInt reads back to the same value.
std::string intToTimestamp(std::int64_t milliseconds);

// The same rendering, written at out, which has room for timestampSize characters. Returns the
// end of what it wrote.
constexpr std::size_t timestampSize = 32;
char* writeTimestamp(char* out, std::int64_t milliseconds);

// Writes value in decimal at out, which has room for 20 characters, at least two digits wide.
char* writeTwoDigitsAtLeast(char* out, std::int64_t value);
