#include "timestamp.hpp"

#include <charconv>

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the leading digits into value, 0 without any; false past 2^63.
bool leadingDigits(std::string_view text, std::uint64_t& value) {
    value = 0;
    std::size_t i = 0;
    // Eighteen digits cannot overflow; only longer numbers need checking.
    for (; i < text.size() && i < 18 && isDigit(text[i]); ++i)
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (__builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, static_cast<unsigned>(text[i] - '0'), &value))
            return false;
    }
    return value <= std::uint64_t{1} << 63;
}

// A plain loop: the fields are a few characters long, too short to gain from memchr.
std::size_t findChar(std::string_view text, char c, std::size_t from = 0) {
    for (std::size_t i = from; i < text.size(); ++i)
        if (text[i] == c)
            return i;
    return std::string_view::npos;
}

// Removes a leading sign, telling whether it was a minus.
bool takeSign(std::string_view& text) {
    if (text.empty() || (text.front() != '-' && text.front() != '+'))
        return false;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    return negative;
}

// Adds value * unit to total, reporting overflow as false.
bool addScaled(std::int64_t& total, std::int64_t value, std::int64_t unit) {
    std::int64_t term;
    return !__builtin_mul_overflow(value, unit, &term) &&
           !__builtin_add_overflow(total, term, &total);
}

} // namespace

bool parseInteger(std::string_view text, std::int64_t& value) {
    text = skipSpace(text);
    const bool negative = takeSign(text);
    std::uint64_t magnitude;
    if (!leadingDigits(text, magnitude) || (!negative && magnitude > INT64_MAX))
        return false;
    value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

bool parseTimestamp(std::string_view text, std::int64_t& milliseconds) {
    const auto firstColon = findChar(text, ':');
    if (firstColon == std::string_view::npos)
        return false;
    const auto secondColon = findChar(text, ':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return false;
    const auto point = findChar(text, '.', secondColon + 1);
    if (point == std::string_view::npos)
        return false;

    auto hoursText = skipSpace(text.substr(0, firstColon));
    const bool negative = takeSign(hoursText);
    std::uint64_t hours;
    std::int64_t minutes;
    std::int64_t seconds;
    std::int64_t fraction;
    if (!leadingDigits(hoursText, hours) || hours > INT64_MAX ||
        !parseInteger(text.substr(firstColon + 1, secondColon - firstColon - 1), minutes) ||
        !parseInteger(text.substr(secondColon + 1, point - secondColon - 1), seconds) ||
        !parseInteger(text.substr(point + 1), fraction))
        return false;

    // Applying the sign term by term keeps the whole int64 range, INT64_MIN included.
    const std::int64_t sign = negative ? -1 : 1;
    std::int64_t total = 0;
    if (!addScaled(total, static_cast<std::int64_t>(hours), sign * 3600000) ||
        !addScaled(total, minutes, sign * 60000) || !addScaled(total, seconds, sign * 1000) ||
        !addScaled(total, fraction, sign))
        return false;
    milliseconds = total;
    return true;
}

namespace {

char* writeTwoDigits(char* out, std::uint64_t value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

char* writeMagnitude(char* out, std::uint64_t value) {
    if (value < 100)
        return writeTwoDigits(out, value);
    return std::to_chars(out, out + 20, value).ptr;
}

} // namespace

char* writeTwoDigitsAtLeast(char* out, std::int64_t value) {
    if (value < 0) {
        if (value > -10) // '-' and one digit are already two characters
            return std::to_chars(out, out + 20, value).ptr;
        *out++ = '-';
        return writeMagnitude(out, 0 - static_cast<std::uint64_t>(value));
    }
    return writeMagnitude(out, static_cast<std::uint64_t>(value));
}

char* writeTimestamp(char* out, std::int64_t milliseconds) {
    std::uint64_t magnitude = static_cast<std::uint64_t>(milliseconds);
    if (milliseconds < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    const std::uint64_t seconds = magnitude / 1000;
    const std::uint64_t fraction = magnitude % 1000;
    out = writeMagnitude(out, seconds / 3600);
    *out++ = ':';
    out = writeTwoDigits(out, seconds / 60 % 60);
    *out++ = ':';
    out = writeTwoDigits(out, seconds % 60);
    *out++ = '.';
    *out++ = static_cast<char>('0' + fraction / 100);
    return writeTwoDigits(out, fraction % 100);
}

std::string intToTimestamp(std::int64_t milliseconds) {
    char text[timestampSize];
    return {text, static_cast<std::size_t>(writeTimestamp(text, milliseconds) - text)};
}
