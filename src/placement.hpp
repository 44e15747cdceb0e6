#pragma once

#include "chapter_line.hpp"
#include "exact_time.hpp"

#include <cstdint>
#include <optional>

// Where the parts' chapters go in the joined list. Between parts the run carries:
struct Carried {
    std::int64_t chapterOffset = 0; // the last chapter number written
    ExactTime timeOffset{};         // T: the last time written, or where the last part ended
    std::int64_t timeDelay = 0;     // D: delays given since then
    bool anyChapter = false;        // a chapter line was placed
};

// And while one part is read:
struct Part {
    std::int64_t chapterOffset;
    ExactTime timeOffset;
    std::int64_t timeDelay;
    bool pal2Film;
    bool threeTwoPulldown;
    bool continues;                    // chapters were placed before this part
    bool placedAny;                    // this part placed a chapter line
    std::int64_t lastChapter;          // the number of the last chapter line placed
    std::optional<ExactTime> lastTime; // the last time placed, before it was rounded
    // Where the part ends in the joined video, when its length was given: its start S, where
    // its own 00:00:00.000 goes, plus the length. Empty, and endOutOfRange, where that does not
    // fit.
    std::optional<ExactTime> end;
    bool endOutOfRange;
    // Where the joining tool starts the part, in its own time, where that is not its 00:00:00:
    // the part is placed from there, and a chapter before it starts there.
    std::optional<ExactTime> start{};
};

// The conversions switched on for a part.
struct Stretch {
    bool pal2Film = false;
    bool threeTwoPulldown = false;
};

Part startPart(const Carried& carried, std::int64_t delay, std::optional<std::int64_t> length,
               Stretch stretch);

// Renumbers a chapter line and places its time at T + conversion(D + time), exactly, then rounded
// to the millisecond; a part that counts from chapter 0 continues one past the chapter before
// it. A number or time that does not fit turns the line into numberOutOfRange or timeOutOfRange,
// placing nothing.
ChapterLine place(Part& part, ChapterLine line);

// Where the part starts: where its own 00:00:00.000 goes. None where that does not fit.
std::optional<ExactTime> partStart(const Part& part);

// Where the part ends: by the length given, else by its own length (ownLength, read from the
// input, in its own time and so stretched like its chapters). None where neither is known.
std::optional<ExactTime> partEnd(const Part& part, std::optional<ExactTime> ownLength);

// The next part starts at the end of this one where that is known, else at its last time.
Carried endPart(const Carried& carried, const Part& part,
                std::optional<ExactTime> ownLength = std::nullopt);
