// Fuzzes the timestamp codec: whatever parses renders back to text that parses to the same
// time, and every rendering parses.
#include "../timestamp_values.hpp"
#include "timestamp.hpp"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

using values::intToTimestamp;
using values::timestampToInt;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A leading space bypasses the normal-form shortcut and must not change the result.
    if (timestampToInt(text) != timestampToInt(" " + std::string(text)))
        std::abort();
    if (const auto parsed = timestampToInt(text)) {
        if (timestampToInt(intToTimestamp(*parsed)) != parsed)
            std::abort();
    }
    if (size >= sizeof(std::int64_t)) {
        std::int64_t milliseconds;
        std::memcpy(&milliseconds, data, sizeof milliseconds);
        if (timestampToInt(intToTimestamp(milliseconds)) != milliseconds)
            std::abort();
    }
    std::int64_t value;
    parseInteger(text, value);
    return 0;
}
