#pragma once

#include "chapter_line.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a muxer would object to in the merged list.
enum class Finding {
    beforeZero,          // starts before 00:00:00.000
    notLater,            // does not start after the chapter written before it
    notLaterAtJoin,      // the same, where that chapter came from an earlier part
    notLaterAfterLength, // the same, where that part had a length
    afterEnd,            // starts after the end of its part
    timeWithoutName,     // a time line with no name line next to it
    nameWithoutTime,     // a name line with no time line next to it
};

struct Report {
    Finding finding;
    std::int64_t lineNumber; // of the input line it is about
    std::int64_t chapter;
    std::int64_t time;  // its start (time findings)
    std::int64_t other; // the start before it, or the end of its part
    std::int64_t otherChapter;
};

// The merged list as written so far.
struct Timeline {
    std::optional<std::int64_t> previousStart;
    std::int64_t previousChapter = 0;
    bool fromEarlierPart = false;      // previousStart was written by an earlier part
    bool earlierPartHadLength = false; // the part before this one had a length
    // The last chapter line of this part while it waits for the line that pairs with it.
    struct Unpaired {
        LineKind kind;
        std::int64_t number;
        std::int64_t lineNumber;
    };
    std::optional<Unpaired> unpaired;
};

struct Checked {
    bool pairsWithPrevious; // the line before was this chapter's time or name line
    int count;              // of reports: about the line before, then about this one
};
constexpr int maxReports = 3;

// Where a line of the current part stands, for its checks and messages.
struct Place {
    std::string_view file;
    std::int64_t lineNumber;
    std::optional<std::int64_t> partEnd; // where the part ends, when its length is known
    bool endIsOwn = false; // partEnd is the input's own length: a chapter there starts nothing
};

// Checks a placed time or name line of the current part against the list before it.
Checked check(Timeline& timeline, const ChapterLine& line, const Place& place,
              Report (&reports)[maxReports]);

// Where a line was skipped, or the part ends: a line still unpaired stays so.
std::optional<Report> breakPair(Timeline& timeline);
// hadLength: the part that ends had a length, given or read from the input.
std::optional<Report> endOfPart(Timeline& timeline, bool hadLength);

// A chapter number and a time as messages write them.
std::string chapterNumber(std::int64_t number);
std::string timestamp(std::int64_t time);

// The warning for a report about FILE, with its line; untitled says, in the words of FILE's
// format, that a chapter has no title; nameDropped where a name line without a time line is
// lost from the output.
std::string describe(const Report& report, std::string_view file, std::string_view untitled,
                     bool nameDropped);
