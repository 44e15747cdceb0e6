#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reads an integer as atoi does (white space, optional sign, digits up to the first other
// character, 0 without digits), but gives nothing where atoi would overflow.
std::optional<std::int64_t> parseInteger(std::string_view text);

// Reads 'H:M:S.F' into milliseconds. The fraction counts milliseconds ('5' is 5 ms) and a sign
// before the hours applies to the whole time. Nothing when a separator is missing or the value
// does not fit in 64 bits.
std::optional<std::int64_t> timestampToInt(std::string_view text);

// Renders milliseconds as 'HH:MM:SS.mmm' (hours widen as needed, '-' before negative times),
// which timestampToInt reads back to the same value.
std::string intToTimestamp(std::int64_t milliseconds);

// The same rendering, appended to out.
void appendTimestamp(std::string& out, std::int64_t milliseconds);
