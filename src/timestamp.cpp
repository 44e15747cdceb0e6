#include "timestamp.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

// Reads the leading digits into value, 0 without any; false past 2^63.
bool leadingDigits(std::string_view text, std::uint64_t& value) {
    const char* p = text.data();
    const char* const end = p + text.size();
    // Eighteen digits cannot overflow; only longer numbers need checking.
    const char* const uncheckedEnd = p + std::min<std::size_t>(text.size(), 18);
    std::uint64_t result = 0;
    unsigned digit;
    while (p != uncheckedEnd && (digit = static_cast<unsigned char>(*p) - '0') <= 9) {
        result = result * 10 + digit;
        ++p;
    }
    if (p == uncheckedEnd) {
        while (p != end && (digit = static_cast<unsigned char>(*p) - '0') <= 9) {
            if (__builtin_mul_overflow(result, 10u, &result) ||
                __builtin_add_overflow(result, digit, &result))
                return false;
            ++p;
        }
    }
    value = result;
    return result <= std::uint64_t{1} << 63;
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

std::size_t countDigits(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && isDigit(text[digits]))
        ++digits;
    return digits;
}

// A decimal fraction of a second in milliseconds: its first three digits, padded on the right.
std::int64_t decimalMilliseconds(std::string_view text) {
    const std::size_t digits = std::min<std::size_t>(countDigits(text), 3);
    std::int64_t milliseconds = 0;
    for (std::size_t i = 0; i < 3; ++i)
        milliseconds = milliseconds * 10 + (i < digits ? text[i] - '0' : 0);
    return milliseconds;
}

// Adds value * unit to total, reporting overflow as false.
bool addScaled(std::int64_t& total, std::int64_t value, std::int64_t unit) {
    std::int64_t term;
    return !__builtin_mul_overflow(value, unit, &term) &&
           !__builtin_add_overflow(total, term, &total);
}

} // namespace

bool parseInteger(std::string_view text, std::int64_t& value) {
    // The usual chapter number: a few digits and nothing else, which cannot overflow.
    if (text.size() - 1 < 9) {
        std::uint64_t number = 0;
        unsigned digit = 0;
        std::size_t i = 0;
        while (i < text.size() && (digit = static_cast<unsigned char>(text[i]) - '0') <= 9) {
            number = number * 10 + digit;
            ++i;
        }
        if (i == text.size()) {
            value = static_cast<std::int64_t>(number);
            return true;
        }
    }
    text = skipSpace(text);
    const bool negative = takeSign(text);
    std::uint64_t magnitude;
    if (!leadingDigits(text, magnitude) || (!negative && magnitude > INT64_MAX))
        return false;
    value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return true;
}

namespace {

// Reads the form chapcat itself writes, 'HH:MM:SS.mmm' with digits only and up to 12 digits of
// hours, without the general field-by-field rules; false for any other text. Where it succeeds,
// the general rules give the same value.
bool parseNormalForm(std::string_view text, std::int64_t& milliseconds) {
    const std::size_t size = text.size();
    if (size < 12 || size > 22)
        return false;
    const char* const p = text.data();
    const std::size_t colon = size - 10;
    if (p[colon] != ':' || p[colon + 3] != ':' || p[colon + 6] != '.')
        return false;
    std::uint64_t hours = 0;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!isDigit(p[i]))
            return false;
        hours = hours * 10 + static_cast<unsigned>(p[i] - '0');
    }
    std::uint64_t rest = 0; // minutes, seconds and milliseconds, digit by digit
    for (const std::size_t i : {1, 2, 4, 5, 7, 8, 9}) {
        if (!isDigit(p[colon + i]))
            return false;
    }
    const auto digit = [p, colon](std::size_t i) {
        return static_cast<unsigned>(p[colon + i] - '0');
    };
    rest = (digit(1) * 10 + digit(2)) * 60000 + (digit(4) * 10 + digit(5)) * 1000 + digit(7) * 100 +
           digit(8) * 10 + digit(9);
    milliseconds = static_cast<std::int64_t>(hours * 3600000 + rest);
    return true;
}

} // namespace

TimeStatus timestampToInt(std::string_view text, std::int64_t& milliseconds) {
    if (parseNormalForm(text, milliseconds))
        return TimeStatus::ok;
    const auto firstColon = findChar(text, ':');
    if (firstColon == std::string_view::npos)
        return TimeStatus::malformed;
    const auto secondColon = findChar(text, ':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return TimeStatus::malformed;
    // Without a decimal point the time is a whole second.
    const auto point =
        std::min(findChar(text, '.', secondColon + 1), findChar(text, ',', secondColon + 1));

    auto hoursText = skipSpace(text.substr(0, firstColon));
    const bool negative = takeSign(hoursText);
    std::uint64_t hours;
    std::int64_t minutes;
    std::int64_t seconds;
    if (!leadingDigits(hoursText, hours) || hours > INT64_MAX ||
        !parseInteger(text.substr(firstColon + 1, secondColon - firstColon - 1), minutes) ||
        !parseInteger(text.substr(secondColon + 1, point - secondColon - 1), seconds))
        return TimeStatus::outOfRange;
    const std::int64_t fraction =
        point == std::string_view::npos ? 0 : decimalMilliseconds(text.substr(point + 1));

    // Applying the sign term by term keeps the whole int64 range, INT64_MIN included.
    const std::int64_t sign = negative ? -1 : 1;
    std::int64_t total = 0;
    if (!addScaled(total, static_cast<std::int64_t>(hours), sign * 3600000) ||
        !addScaled(total, minutes, sign * 60000) || !addScaled(total, seconds, sign * 1000) ||
        !addScaled(total, fraction, sign))
        return TimeStatus::outOfRange;
    milliseconds = total;
    return TimeStatus::ok;
}

TimeStatus timeArgumentToInt(std::string_view text, std::int64_t& milliseconds) {
    const bool negative = takeSign(text);
    std::uint64_t fields[3];
    std::size_t count = 0;
    for (;;) {
        const std::size_t digits = countDigits(text);
        if (digits == 0)
            return TimeStatus::malformed;
        if (!leadingDigits(text.substr(0, digits), fields[count]) || fields[count] > INT64_MAX)
            return TimeStatus::outOfRange;
        ++count;
        text.remove_prefix(digits);
        if (count == 3 || !text.starts_with(':'))
            break;
        text.remove_prefix(1);
    }
    std::int64_t fraction = 0;
    if (text.starts_with('.') || text.starts_with(',')) {
        text.remove_prefix(1);
        const std::size_t digits = countDigits(text);
        if (digits == 0)
            return TimeStatus::malformed;
        fraction = decimalMilliseconds(text);
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return TimeStatus::malformed;

    constexpr std::int64_t units[] = {3600000, 60000, 1000};
    const std::int64_t sign = negative ? -1 : 1;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!addScaled(total, static_cast<std::int64_t>(fields[i]), sign * units[3 - count + i]))
            return TimeStatus::outOfRange;
    }
    if (!addScaled(total, fraction, sign))
        return TimeStatus::outOfRange;
    milliseconds = total;
    return TimeStatus::ok;
}

namespace {

// "00" to "99", so that two digits cost one look-up instead of two divisions.
constexpr auto digitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// value < 100
constexpr char* writeTwoDigits(char* out, std::uint64_t value) {
    out[0] = digitPairs[2 * value];
    out[1] = digitPairs[2 * value + 1];
    return out + 2;
}

// Decimal digits of value, at least two, written from the end two digits at a time.
constexpr char* writeMagnitude(char* out, std::uint64_t value) {
    if (value < 100)
        return writeTwoDigits(out, value);
    int length = 3;
    for (std::uint64_t bound = 1000; length < 20 && value >= bound; bound *= 10)
        ++length;
    char* p = out + length;
    while (value >= 100) {
        p -= 2;
        writeTwoDigits(p, value % 100);
        value /= 100;
    }
    if (value >= 10)
        writeTwoDigits(p - 2, value);
    else
        p[-1] = static_cast<char>('0' + value);
    return out + length;
}

constexpr char* renderNumber(char* out, std::int64_t value) {
    if (value < 0) {
        *out++ = '-';
        if (value > -10) // '-' and one digit are already two characters
            return (*out = static_cast<char>('0' - value), out + 1);
        return writeMagnitude(out, 0 - static_cast<std::uint64_t>(value));
    }
    return writeMagnitude(out, static_cast<std::uint64_t>(value));
}

constexpr char* renderTimestamp(char* out, std::int64_t milliseconds) {
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

constexpr std::size_t renderedSize(char* (*render)(char*, std::int64_t), std::int64_t value) {
    char text[64]{};
    return static_cast<std::size_t>(render(text, value) - text);
}
static_assert(renderedSize(renderNumber, INT64_MIN) == maxNumberSize);
static_assert(renderedSize(renderNumber, INT64_MAX) < maxNumberSize);
static_assert(renderedSize(renderTimestamp, INT64_MIN) == maxTimestampSize);
static_assert(renderedSize(renderTimestamp, INT64_MAX) < maxTimestampSize);

} // namespace

char* writeTwoDigitsAtLeast(char* out, std::int64_t value) {
    return renderNumber(out, value);
}

char* writeInteger(char* out, std::int64_t value) {
    if (value >= 0 && value < 10)
        return (*out = static_cast<char>('0' + value), out + 1);
    return renderNumber(out, value);
}

char* intToTimestamp(char* out, std::int64_t milliseconds) {
    return renderTimestamp(out, milliseconds);
}

std::optional<std::int64_t> ticksToMilliseconds(std::int64_t ticks, std::int64_t num,
                                                std::int64_t den) {
    if (num <= 0 || den <= 0 || num > INT32_MAX || den > INT32_MAX)
        return std::nullopt;
    // Usually the product fits in 64 bits, whose division costs a fraction of 128 bits'.
    std::int64_t product;
    if (ticks >= 0 && !__builtin_mul_overflow(ticks, num * 1000, &product)) {
        const std::int64_t remainder = product % den;
        return product / den + (remainder >= den - remainder ? 1 : 0);
    }
    // At most 2^63 * 2^31 * 2^10 in magnitude: exact in 128 bits.
    const Int128 scaled = Int128{ticks} * num * 1000;
    Int128 milliseconds = scaled / den;
    const Int128 remainder = scaled % den;
    if (2 * (remainder < 0 ? -remainder : remainder) >= den)
        milliseconds += scaled < 0 ? -1 : 1;
    if (milliseconds < std::numeric_limits<std::int64_t>::min() ||
        milliseconds > std::numeric_limits<std::int64_t>::max())
        return std::nullopt;
    return static_cast<std::int64_t>(milliseconds);
}
