#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

enum class LineResult {
    ignored,           // not a chapter line: nothing written
    written,           // a chapter line, rewritten onto the output
    badTime,           // a time line whose value is not a timestamp
    timeOutOfRange,    // a time line whose shifted time does not fit
    chapterOutOfRange, // a chapter number that does not fit
};

// The most by which an output line can be longer than its input line.
constexpr std::size_t maxLineGrowth = 64;

// Rewrites one input line ('CHAPTERnn=time' or 'CHAPTERnnNAME=title') at out, which has room for
// line.size() + maxLineGrowth characters, and moves out past it. The line is renumbered by
// chapterOffset and, for a time line, placed at timeOffset + conversion(timeDelay + time).
// Records the chapter number and time it wrote in nextChapterOffset and nextTimeOffset. A line
// that is not written moves and changes nothing.
LineResult parseLine(std::string_view line, std::int64_t chapterOffset, std::int64_t timeOffset,
                     std::int64_t timeDelay, std::int64_t& nextChapterOffset,
                     std::optional<std::int64_t>& nextTimeOffset, bool pal2Film,
                     bool threeTwoPulldown, char*& out);
