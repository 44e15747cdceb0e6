#pragma once

#include <cstdint>
#include <string_view>

enum class LineKind {
    other,            // not a chapter line
    time,             // 'CHAPTERnn=time'
    name,             // 'CHAPTERnnNAME=title'
    badTime,          // a time line whose value is not a time
    timeOutOfRange,   // a time that does not fit
    numberOutOfRange, // a chapter number that does not fit
    tooLong,          // a chapter line too long to keep
};

// What every chapter line of the simple format begins with.
constexpr std::string_view chapterKeyword = "CHAPTER";

struct ChapterLine {
    LineKind kind;
    std::int64_t number = 0;
    std::int64_t time = 0;  // time lines only
    std::string_view title; // name lines only: a view into the line
    // Past time, for sources that know a time to the nanosecond: 0 to 999,999. Placement rounds
    // them away.
    std::int32_t nanoseconds = 0;
};

// A line of that kind with nothing else to tell.
inline ChapterLine lineOfKind(LineKind kind) {
    return {kind, 0, 0, {}};
}

// Reads one input line, carriage returns already removed.
ChapterLine parseLine(std::string_view line);
