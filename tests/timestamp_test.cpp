#include "exact_time.hpp"
#include "frame_rate.hpp"
#include "placement.hpp"
#include "timestamp.hpp"
#include "timestamp_values.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace {

using values::intToTimestamp;
using values::timestampToInt;

struct ParseCase {
    const char* text;
    std::optional<std::int64_t> expected;
};

TEST(TimestampToInt, ReadsFieldsByTheAtoiRule) {
    const ParseCase cases[] = {
        {"00:00:00.000", 0},
        {"1:2:3.4", 3723400},
        {"01:02:33.750", 3753750},
        {"00:00:00.5", 500},          // a decimal fraction of a second
        {"00:00:00.05", 50},          //
        {"00:00:02.123456789", 2123}, // digits past milliseconds are dropped
        {"00:00:00.9999", 999},       //
        {"00:00:00.99999999999999999999", 999},
        {"00:00:10,5", 10500},     // a decimal comma
        {"00:08:40", 520000},      // no fraction: a whole second
        {"00:00:01.", 1000},       //
        {"00:00:01.-5", 1000},     // the fraction is digits only
        {"00:00:01.5 ms", 1500},   // text after the digits is ignored
        {"ab:cd:ef.gh", 0},        // fields without digits count 0
        {" 1:00:00.000", 3600000}, // leading white space
        {"100:00:00.000", 360000000},
        {"00:-5:00.000", -300000}, // inner fields keep their own sign
        {"0:0.5:7.0", 7000},       // a point before the second colon does not count
        {"99999999999:00:00.000", 359999999996400000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(timestampToInt(c.text), c.expected) << c.text;
}

TEST(TimestampToInt, SignBeforeHoursAppliesToWholeTime) {
    const ParseCase cases[] = {
        {"-1:00:00.000", -3600000},
        {"-00:05:00.000", -300000},
        {"-1:30:00.000", -5400000},
        {" -00:00:00.001", -1},
        {"+00:05:00.000", 300000},
        {"--1:00:00.000", 0}, // atoi reads no digits after the first sign
    };
    for (const auto& c : cases)
        EXPECT_EQ(timestampToInt(c.text), c.expected) << c.text;
}

TEST(TimestampToInt, RejectsMissingSeparatorsAndOverflow) {
    const struct {
        const char* text;
        TimeStatus status;
    } cases[] = {
        {"", TimeStatus::malformed},
        {"10:00.000", TimeStatus::malformed},
        {"Intro", TimeStatus::malformed},
        {"2562047788016:00:00.000", TimeStatus::outOfRange},      // hours past int64 milliseconds
        {"99999999999999999999:00:00.0", TimeStatus::outOfRange}, // hours past int64 itself
        {"2562047788015:12:55.808", TimeStatus::outOfRange},      // one past INT64_MAX
        {"2562047788016:-60:00.000", TimeStatus::outOfRange},     // fits, but not on the way
    };
    for (const auto& c : cases) {
        std::int64_t milliseconds;
        EXPECT_EQ(::timestampToInt(c.text, milliseconds), c.status) << c.text;
    }
}

// Command-line times: what players and probes print, and nothing else.
TEST(TimeArgumentToInt, ReadsStrictly) {
    const ParseCase cases[] = {
        {"20.039", 20039},
        {"1:05.5", 65500},
        {"-00:00:01", -1000},
        {"+1:00:00,25", 3600250},
        {"00:05:00.000", 300000},
        {"0", 0},
        {"90", 90000},
        {"1:2:3.123456", 3723123},
        {"ab:cd:ef.gh", std::nullopt},
        {"::.", std::nullopt},
        {" 5", std::nullopt},
        {"5:", std::nullopt},
        {"5.", std::nullopt},
        {".5", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"5s", std::nullopt},
        {"--5", std::nullopt},
        {"", std::nullopt},
        {"2562047788016:00:00", std::nullopt},
    };
    for (const auto& c : cases) {
        std::int64_t milliseconds;
        const bool ok = timeArgumentToInt(c.text, milliseconds) == TimeStatus::ok;
        EXPECT_EQ(ok ? std::optional(milliseconds) : std::nullopt, c.expected) << c.text;
    }
}

TEST(IntToTimestamp, RendersNormalForm) {
    const struct {
        std::int64_t milliseconds;
        const char* text;
    } cases[] = {
        {0, "00:00:00.000"},
        {3723004, "01:02:03.004"},
        {3753750, "01:02:33.750"},
        {360000000, "100:00:00.000"},
        {-1, "-00:00:00.001"},
        {-1800000, "-00:30:00.000"},
        {INT64_MAX, "2562047788015:12:55.807"},
        {INT64_MIN, "-2562047788015:12:55.808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(intToTimestamp(c.milliseconds), c.text) << c.milliseconds;
}

TEST(WriteInteger, WritesAsToStringDoes) {
    for (const std::int64_t value :
         {std::int64_t{0}, std::int64_t{9}, std::int64_t{10}, std::int64_t{-1}, std::int64_t{-10},
          std::int64_t{3930000}, INT64_MAX, INT64_MIN}) {
        char text[maxNumberSize];
        EXPECT_EQ(std::string(text, writeInteger(text, value)), std::to_string(value));
    }
}

TEST(IntToTimestamp, ReadsBackToTheSameTime) {
    for (std::int64_t t :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{999},
          std::int64_t{-3599999}, std::int64_t{86399999}, INT64_MAX, INT64_MIN, INT64_MIN + 1})
        EXPECT_EQ(timestampToInt(intToTimestamp(t)), t) << t;
}

TEST(TimestampToInt, NormalFormReadsAsTheGeneralRulesDo) {
    // A leading space keeps the text out of the normal-form shortcut; the rules ignore it.
    const char* cases[] = {"00:00:00.000",  "01:02:33.750",           "99:59:59.999",
                           "123:45:67.890", "999999999999:00:00.000", "1000000000000:00:00.000",
                           "00:99:99.999",  "00:00:00.0000",          "0a:00:00.000",
                           "00:00:00.00x",  "00:00:00:000",           "-00:00:01.000"};
    for (const char* text : cases)
        EXPECT_EQ(timestampToInt(text), timestampToInt(std::string(" ") + text)) << text;
    for (std::int64_t t = 0; t < 400000000000; t = t * 3 + 7)
        EXPECT_EQ(timestampToInt(intToTimestamp(t)), t) << t;
}

TEST(ParseInteger, FollowsAtoiWithinRange) {
    const ParseCase cases[] = {
        {"01", 1},
        {"", 0},
        {"x", 0},
        {" \t-7y", -7},
        {"+3", 3},
        {"- 3", 0},
        {"0000000000000000000000000000012", 12},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"123456789012345678901234567890", std::nullopt},
    };
    for (const auto& c : cases) {
        std::int64_t value = -1;
        const bool parsed = parseInteger(c.text, value);
        EXPECT_EQ(parsed ? std::optional(value) : std::nullopt, c.expected) << c.text;
    }
}

// Times to the nanosecond: TICKS x NUM/DEN, stretched as given, and rounded once where written.
TEST(ExactTime, KeepsFractionsUntilWritten) {
    const struct {
        std::int64_t ticks, num, den;
        Stretch stretch;
        std::optional<ExactTime> exact;
        std::optional<std::int64_t> written;
    } cases[] = {
        {63045, 1, 90000, {}, ExactTime{700, 500000}, 701},
        {4, 1, 3, {}, ExactTime{1333, 333333}, 1333},
        {-1, 1, 3, {}, ExactTime{-334, 666667}, -333},      // nanoseconds count up from below
        {1, 1, 2000, {}, ExactTime{0, 500000}, 1},          // a half rounds up
        {2, 1, 3000000000, {}, std::nullopt, std::nullopt}, // a time base past 32 bits
        {1, 0, 1, {}, std::nullopt, std::nullopt},
        {INT64_MAX, 1000, 1, {}, std::nullopt, std::nullopt},
        {1000, 1, 1000, {true, false}, ExactTime{1043}, 1043},           // whole: the x87 rule
        {10015, 1, 10000, {true, false}, ExactTime{1044, 272396}, 1044}, // a fraction: exact
        {10015, 1, 10000, {false, true}, ExactTime{1002, 501500}, 1003},
        {925000001, 1, 1000000000, {true, true}, ExactTime{966}, 966}, // not before 925 ms's
    };
    for (const auto& c : cases) {
        std::optional<ExactTime> time = ticksToTime(c.ticks, c.num, c.den);
        if (time && !convertFrameRate(*time, c.stretch.pal2Film, c.stretch.threeTwoPulldown))
            time.reset();
        EXPECT_EQ(time, c.exact) << c.ticks << " x " << c.num << "/" << c.den;
        EXPECT_EQ(time ? rounded(*time) : std::nullopt, c.written) << c.ticks;
    }
}

// Parts whose own lengths are fractions of a millisecond follow each other exactly: the error
// does not grow with the number of parts.
TEST(ExactTime, LengthsAddUpExactly) {
    const ExactTime length{61335, 500000}; // 61.3355 s
    Carried carried;
    for (int i = 0; i < 12; ++i) {
        Part part = startPart(carried, 0, std::nullopt, {});
        carried = endPart(carried, part, length);
    }
    EXPECT_EQ(carried.timeOffset, ExactTime(12 * 61335 + 6));
    Part twelfth = startPart(carried, 0, std::nullopt, {});
    EXPECT_EQ(place(twelfth, {LineKind::time, 1, 0, {}}).time, 12 * 61335 + 6);
}

// A part that the joining tool starts at its first timestamp S: placed from S, and a chapter
// before S starts where the part does.
TEST(ExactTime, PartsStartWhereTheJoiningToolStartsThem) {
    const ExactTime start{479, 333333};
    Part part = startPart({0, 10000, 0}, 0, std::nullopt, {});
    part.start = start;
    const struct {
        ExactTime own;
        std::int64_t placed;
    } cases[] = {{0, 10000}, {start, 10000}, {1000, 10521}, {{1000, 500000}, 10521}};
    for (const auto& c : cases)
        EXPECT_EQ(place(part, {LineKind::time, 1, c.own.milliseconds, {}, c.own.nanoseconds}).time,
                  c.placed)
            << c.own.milliseconds;
    EXPECT_EQ(partEnd(part, ExactTime{2000}), ExactTime(11520, 666667));
}

} // namespace
