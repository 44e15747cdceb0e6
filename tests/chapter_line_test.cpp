#include "chapter_line.hpp"
#include "placement.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace {

struct RewriteCase {
    std::string line;
    Carried before;
    LineKind kind;
    std::int64_t number;
    std::int64_t time;
    std::string title;
    Carried after; // as the next file would start, with this line the file's only line
};

// A placed line in one line: its kind, number, time and title.
std::string describe(const ChapterLine& line) {
    return std::to_string(static_cast<int>(line.kind)) + " #" + std::to_string(line.number) + " @" +
           std::to_string(line.time) + " '" + std::string(line.title) + "'";
}

// What a file hands on to the next: the chapter number, the time and the delays.
std::string describe(const Carried& carried) {
    const ExactTime time = carried.timeOffset;
    return std::to_string(carried.chapterOffset) + " " + std::to_string(time.milliseconds) +
           (time.nanoseconds != 0 ? "+" + std::to_string(time.nanoseconds) + "ns " : " ") +
           std::to_string(carried.timeDelay);
}

// The line read, then placed in a file that starts with the carried values.
TEST(ParseLine, ReadsAndPlacesChapterLines) {
    const RewriteCase cases[] = {
        {"CHAPTER01=00:00:00.000", {0, 0, 0}, LineKind::time, 1, 0, "", {1, 0, 0}},
        {"CHAPTER02=00:10:00.000",
         {5, 1500000, 0},
         LineKind::time,
         7,
         2100000,
         "",
         {7, 2100000, 0}},
        {"CHAPTER02=00:10:00.000",
         {5, 1200000, 300000},
         LineKind::time,
         7,
         2100000,
         "",
         {7, 2100000, 0}},
        {"CHAPTER02NAME=Part two",
         {5, 1500000, 7},
         LineKind::name,
         7,
         0,
         "Part two",
         {7, 1500000, 7}},
        {"CHAPTER3=0:1:2.3", {0, 0, 0}, LineKind::time, 3, 62300, "", {3, 62300, 0}},
        {"CHAPTER00=00:00:01.000", {0, 0, 0}, LineKind::time, 0, 1000, "", {0, 1000, 0}},
        {"CHAPTER00NAME=x", {5, 0, 0, true}, LineKind::name, 6, 0, "x", {6, 0, 0}}, // from 0
        {"CHAPTER01=00:00:00.000", {99, 0, 0}, LineKind::time, 100, 0, "", {100, 0, 0}},
        {"CHAPTER01NAME=", {0, 0, 0}, LineKind::name, 1, 0, "", {1, 0, 0}},
        {"CHAPTER01NAME=a=b", {0, 0, 0}, LineKind::name, 1, 0, "a=b", {1, 0, 0}},
        {"CHAPTERNAME=x", {4, 0, 0}, LineKind::name, 4, 0, "x", {4, 0, 0}},
        {"CHAPTER01NAMEX=Intro", {0, 0, 0}, LineKind::name, 1, 0, "Intro", {1, 0, 0}},
        {"CHAPTER-3=00:00:01.000", {0, 0, 0}, LineKind::time, -3, 1000, "", {-3, 1000, 0}},
        {"CHAPTER01=-00:00:00.001", {0, 0, 0}, LineKind::time, 1, -1, "", {1, -1, 0}},
        {"CHAPTER01=00:00:10.000", {0, 0, -60000}, LineKind::time, 1, -50000, "", {1, -50000, 0}},
        {std::string("CHAPTER01NAME=\xff\x00\xc3(\r", 19),
         {0, 0, 0},
         LineKind::name,
         1,
         0,
         std::string("\xff\x00\xc3(\r", 5),
         {1, 0, 0}},
    };
    for (const auto& c : cases) {
        Part part = startPart(c.before, 0, std::nullopt, {});
        const ChapterLine placed = place(part, parseLine(c.line));
        EXPECT_EQ(describe(placed), describe(ChapterLine{c.kind, c.number, c.time, c.title}))
            << c.line;
        EXPECT_EQ(describe(endPart(c.before, part)), describe(c.after)) << c.line;
    }
}

TEST(ParseLine, RejectedLinesPlaceNothing) {
    const struct {
        const char* line;
        std::int64_t chapterOffset;
        std::int64_t timeOffset;
        LineKind kind;
    } cases[] = {
        {"Chapter01=00:00:00.000", 0, 0, LineKind::other},
        {" CHAPTER01=00:00:00.000", 0, 0, LineKind::other},
        {"\xEF\xBB\xBF"
         "CHAPTER01=00:00:00.000",
         0, 0, LineKind::other},
        {"CHAPTER01", 0, 0, LineKind::other},
        {"", 0, 0, LineKind::other},
        {"CHAPTER01name=Intro", 0, 0, LineKind::badTime},
        {"CHAPTER01=NAME", 0, 0, LineKind::badTime},
        {"CHAPTER01=99999999999999999999:00:00.000", 0, 0, LineKind::timeOutOfRange},
        {"CHAPTER01=2562047788016:-60:00.000", 0, 0, LineKind::timeOutOfRange}, // fits, overflows
        {"CHAPTER01=2562047788015:00:00.000", 0, 1000000000, LineKind::timeOutOfRange},
        {"CHAPTER123456789012345678901234567890=00:00:00.000", 0, 0, LineKind::numberOutOfRange},
        {"CHAPTER01NAME=x", INT64_MAX, 0, LineKind::numberOutOfRange},
    };
    for (const auto& c : cases) {
        const Carried before{c.chapterOffset, c.timeOffset, 7, true};
        Part part = startPart(before, 0, std::nullopt, {});
        EXPECT_EQ(place(part, parseLine(c.line)).kind, c.kind) << c.line;
        EXPECT_EQ(describe(endPart(before, part)), describe(before)) << c.line;
        // Nor does it count as the part's first line: a part counting from 0 still moves on.
        if (c.chapterOffset < INT64_MAX) {
            EXPECT_EQ(place(part, parseLine("CHAPTER00NAME=x")).number, c.chapterOffset + 1)
                << c.line;
        }
    }
}

// The next part starts where this one ends: by the length given (output time, never stretched),
// else by its own length (its own time, stretched like its chapters), else at its last time.
TEST(Placement, PartsEndByTheirLengths) {
    const struct {
        std::optional<std::int64_t> given;
        std::optional<std::int64_t> own;
        Stretch stretch;
        std::int64_t nextStart;
    } cases[] = {
        {std::nullopt, std::nullopt, {}, 61000},            // T 1000 + D 0 + last chapter 60000
        {std::nullopt, 600000, {}, 601000},                 // 1000 + 600000
        {std::nullopt, 600000, {true, false}, 626625},      // 1000 + 600000 stretched
        {600000, 900000, {true, false}, 601000},            // given wins, unstretched
        {std::nullopt, std::nullopt, {true, false}, 63563}, // the last chapter, stretched
    };
    for (const auto& c : cases) {
        const Carried before{0, 1000, 0};
        Part part = startPart(before, 0, c.given, c.stretch);
        place(part, parseLine("CHAPTER01=00:01:00.000"));
        EXPECT_EQ(endPart(before, part, c.own).timeOffset, c.nextStart)
            << c.given.value_or(-1) << " " << c.own.value_or(-1);
    }
}

} // namespace
