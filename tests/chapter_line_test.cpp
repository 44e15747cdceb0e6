#include "chapter_line.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace {

struct RewriteCase {
    const char* line;
    std::int64_t chapterOffset;
    std::int64_t timeOffset;
    std::int64_t timeDelay;
    const char* output;
    std::int64_t nextChapter;
    std::optional<std::int64_t> nextTime;
};

constexpr std::int64_t untouchedChapter = -42;

// parseLine with exactly the room it asks for; out receives what it wrote.
LineResult rewrite(std::string_view line, std::int64_t chapterOffset, std::int64_t timeOffset,
                   std::int64_t timeDelay, std::int64_t& nextChapter,
                   std::optional<std::int64_t>& nextTime, std::string& out) {
    std::vector<char> room(line.size() + maxLineGrowth);
    char* end = room.data();
    const LineResult result = parseLine(line, chapterOffset, timeOffset, timeDelay, nextChapter,
                                        nextTime, false, false, end);
    out.append(room.data(), end);
    return result;
}

TEST(ParseLine, RewritesChapterLines) {
    const RewriteCase cases[] = {
        {"CHAPTER01=00:00:00.000", 0, 0, 0, "CHAPTER01=00:00:00.000\n", 1, 0},
        {"CHAPTER02=00:10:00.000", 5, 1500000, 0, "CHAPTER07=00:35:00.000\n", 7, 2100000},
        {"CHAPTER02=00:10:00.000", 5, 1200000, 300000, "CHAPTER07=00:35:00.000\n", 7, 2100000},
        {"CHAPTER02NAME=Part two", 5, 1500000, 0, "CHAPTER07NAME=Part two\n", 7, std::nullopt},
        {"CHAPTER3=0:1:2.3", 0, 0, 0, "CHAPTER03=00:01:02.003\n", 3, 62003},
        {"CHAPTER01=00:00:00.000", 99, 0, 0, "CHAPTER100=00:00:00.000\n", 100, 0},
        {"CHAPTER01NAME=", 0, 0, 0, "CHAPTER01NAME=\n", 1, std::nullopt},
        {"CHAPTER01NAME=a=b", 0, 0, 0, "CHAPTER01NAME=a=b\n", 1, std::nullopt},
        {"CHAPTERNAME=x", 4, 0, 0, "CHAPTER04NAME=x\n", 4, std::nullopt},
        {"CHAPTER01NAMEX=Intro", 0, 0, 0, "CHAPTER01NAME=Intro\n", 1, std::nullopt},
        {"CHAPTER-3=00:00:01.000", 0, 0, 0, "CHAPTER-3=00:00:01.000\n", -3, 1000},
        {"CHAPTER01=-00:00:00.001", 0, 0, 0, "CHAPTER01=-00:00:00.001\n", 1, -1},
        {"CHAPTER01=00:00:10.000", 0, 0, -60000, "CHAPTER01=-00:00:50.000\n", 1, -50000},
    };
    for (const auto& c : cases) {
        std::int64_t nextChapter = untouchedChapter;
        std::optional<std::int64_t> nextTime;
        std::string out = "kept|";
        EXPECT_EQ(
            rewrite(c.line, c.chapterOffset, c.timeOffset, c.timeDelay, nextChapter, nextTime, out),
            LineResult::written)
            << c.line;
        EXPECT_EQ(out, std::string("kept|") + c.output) << c.line;
        EXPECT_EQ(nextChapter, c.nextChapter) << c.line;
        EXPECT_EQ(nextTime, c.nextTime) << c.line;
    }
}

TEST(ParseLine, NameBytesPassThroughUntouched) {
    const std::string line("CHAPTER01NAME=\xff\x00\xc3(\r", 19);
    std::int64_t nextChapter = 0;
    std::optional<std::int64_t> nextTime;
    std::string out;
    rewrite(line, 0, 0, 0, nextChapter, nextTime, out);
    EXPECT_EQ(out, std::string("CHAPTER01NAME=\xff\x00\xc3(\r\n", 20));
}

TEST(ParseLine, RejectedLinesWriteAndMoveNothing) {
    const struct {
        const char* line;
        std::int64_t chapterOffset;
        std::int64_t timeOffset;
        LineResult result;
    } cases[] = {
        {"Chapter01=00:00:00.000", 0, 0, LineResult::ignored},
        {" CHAPTER01=00:00:00.000", 0, 0, LineResult::ignored},
        {"\xEF\xBB\xBF"
         "CHAPTER01=00:00:00.000",
         0, 0, LineResult::ignored},
        {"CHAPTER01", 0, 0, LineResult::ignored},
        {"", 0, 0, LineResult::ignored},
        {"CHAPTER01name=Intro", 0, 0, LineResult::badTime},
        {"CHAPTER01=NAME", 0, 0, LineResult::badTime},
        {"CHAPTER01=00:10:00", 0, 0, LineResult::badTime},
        {"CHAPTER01=99999999999999999999:00:00.000", 0, 0, LineResult::badTime},
        {"CHAPTER01=2562047788015:00:00.000", 0, 1000000000, LineResult::timeOutOfRange},
        {"CHAPTER123456789012345678901234567890=00:00:00.000", 0, 0, LineResult::chapterOutOfRange},
        {"CHAPTER01NAME=x", INT64_MAX, 0, LineResult::chapterOutOfRange},
    };
    for (const auto& c : cases) {
        std::int64_t nextChapter = untouchedChapter;
        std::optional<std::int64_t> nextTime = 7;
        std::string out;
        EXPECT_EQ(rewrite(c.line, c.chapterOffset, c.timeOffset, 0, nextChapter, nextTime, out),
                  c.result)
            << c.line;
        EXPECT_EQ(out, "") << c.line;
        EXPECT_EQ(nextChapter, untouchedChapter) << c.line;
        EXPECT_EQ(nextTime, 7) << c.line;
    }
}

} // namespace
