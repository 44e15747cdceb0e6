#pragma once
// The codec as values, for tables and property checks.

#include "timestamp.hpp"

#include <optional>
#include <string>

namespace values {

inline std::optional<std::int64_t> timestampToInt(std::string_view text) {
    std::int64_t milliseconds;
    return ::timestampToInt(text, milliseconds) == TimeStatus::ok ? std::optional(milliseconds)
                                                                  : std::nullopt;
}

inline std::string intToTimestamp(std::int64_t milliseconds) {
    char text[maxTimestampSize];
    return {text, ::intToTimestamp(text, milliseconds)};
}

} // namespace values
