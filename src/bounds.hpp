#pragma once
// Bounds that keep memory flat whatever the input, and how messages name them.

#include <cstddef>
#include <string>

// The longest line, title or file name kept; far above any real one.
constexpr std::size_t maxLineSize = 1024 * 1024;

// A size in bytes as messages give it: "1 MiB", "16 MiB", "256 bytes".
inline std::string sizeText(std::size_t bytes) {
    constexpr std::size_t mebibyte = 1024 * 1024;
    return bytes % mebibyte == 0 ? std::to_string(bytes / mebibyte) + " MiB"
                                 : std::to_string(bytes) + " bytes";
}

// Why a chapter whose title is over the bound is skipped.
inline std::string titleTooLong() {
    return "chapter title longer than " + sizeText(maxLineSize);
}
