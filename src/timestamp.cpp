#include "timestamp.hpp"

#include <array>

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

// The value of the leading digits, 0 without any; nothing when it exceeds the int64 range.
std::optional<std::int64_t> parseDigits(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, c - '0', &value))
            return std::nullopt;
    }
    return value;
}

// Adds value * unit to total, reporting overflow as false.
bool addScaled(std::int64_t& total, std::int64_t value, std::int64_t unit) {
    std::int64_t term;
    return !__builtin_mul_overflow(value, unit, &term) &&
           !__builtin_add_overflow(total, term, &total);
}

} // namespace

std::optional<std::int64_t> parseInteger(std::string_view text) {
    text = skipSpace(text);
    bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        // Accumulate on the negative side so that INT64_MIN is reachable.
        if (__builtin_mul_overflow(magnitude, 10, &magnitude) ||
            __builtin_sub_overflow(magnitude, c - '0', &magnitude))
            return std::nullopt;
    }
    if (negative)
        return magnitude;
    if (magnitude == INT64_MIN)
        return std::nullopt;
    return -magnitude;
}

std::optional<std::int64_t> timestampToInt(std::string_view text) {
    const auto firstColon = text.find(':');
    if (firstColon == std::string_view::npos)
        return std::nullopt;
    const auto secondColon = text.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return std::nullopt;
    const auto point = text.find('.', secondColon + 1);
    if (point == std::string_view::npos)
        return std::nullopt;

    auto hoursText = skipSpace(text.substr(0, firstColon));
    const bool negative = !hoursText.empty() && hoursText.front() == '-';
    if (!hoursText.empty() && (hoursText.front() == '-' || hoursText.front() == '+'))
        hoursText.remove_prefix(1);
    const auto hours = parseDigits(hoursText);
    const auto minutes = parseInteger(text.substr(firstColon + 1, secondColon - firstColon - 1));
    const auto seconds = parseInteger(text.substr(secondColon + 1, point - secondColon - 1));
    const auto fraction = parseInteger(text.substr(point + 1));
    if (!hours || !minutes || !seconds || !fraction)
        return std::nullopt;

    // Applying the sign term by term keeps the whole int64 range, INT64_MIN included.
    const std::int64_t sign = negative ? -1 : 1;
    std::int64_t total = 0;
    if (!addScaled(total, *hours, sign * 3600000) || !addScaled(total, *minutes, sign * 60000) ||
        !addScaled(total, *seconds, sign * 1000) || !addScaled(total, *fraction, sign))
        return std::nullopt;
    return total;
}

void appendTimestamp(std::string& out, std::int64_t milliseconds) {
    std::array<char, 32> buffer;
    char* const end = buffer.data() + buffer.size();
    char* p = end;
    auto put = [&p](std::uint64_t value, int width) {
        do {
            *--p = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (--width > 0 || value != 0);
    };
    const std::uint64_t magnitude = milliseconds < 0 ? 0 - static_cast<std::uint64_t>(milliseconds)
                                                     : static_cast<std::uint64_t>(milliseconds);
    const std::uint64_t seconds = magnitude / 1000;
    put(magnitude % 1000, 3);
    *--p = '.';
    put(seconds % 60, 2);
    *--p = ':';
    put(seconds / 60 % 60, 2);
    *--p = ':';
    put(seconds / 3600, 2);
    if (milliseconds < 0)
        *--p = '-';
    out.append(p, end);
}

std::string intToTimestamp(std::int64_t milliseconds) {
    std::string text;
    appendTimestamp(text, milliseconds);
    return text;
}
