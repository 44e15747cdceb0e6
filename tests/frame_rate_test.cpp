#include "frame_rate.hpp"
#include "x87_reference.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <optional>

namespace {

std::optional<std::int64_t> converted(std::int64_t time, bool pal2Film, bool threeTwoPulldown) {
    return convertFrameRate(time, pal2Film, threeTwoPulldown) ? std::optional(time) : std::nullopt;
}

struct ConversionCase {
    std::int64_t time;
    bool pal2Film;
    bool threeTwoPulldown;
    std::int64_t expected;
};

TEST(ConvertFrameRate, KnownValues) {
    const ConversionCase cases[] = {
        {1000, true, false, 1043},
        {60000, true, false, 62563}, // the exact product 62562.5 rounds up
        {600000, true, false, 625625},
        {3600000, true, false, 3753750},
        {1000, false, true, 1001},
        {60000, false, true, 60060},
        {3600000, false, true, 3603600},
        {950, false, true, 950},
        {1950, false, true, 1951},
        {2950, false, true, 2952}, // plain double arithmetic gives 2953
        {3950, false, true, 3953},
        {32950, false, true, 32983},
        {130950, false, true, 131081},   // plain double arithmetic gives 131080
        {1056950, false, true, 1058007}, // a tie at the rounding to double
        {1000, true, true, 1044},
        {3600000, true, true, 3757503},
        {-1, true, false, -1},
        {-1, false, true, -1},
        {-60000, true, false, -62562},
        {0, false, false, 0},
        {123456789, false, false, 123456789},
    };
    for (const auto& c : cases)
        EXPECT_EQ(converted(c.time, c.pal2Film, c.threeTwoPulldown), c.expected)
            << c.time << (c.pal2Film ? " -p" : "") << (c.threeTwoPulldown ? " -t" : "");
}

TEST(ConvertFrameRate, ResultsPastTheRangeAreRefused) {
    EXPECT_EQ(palToFilm(INT64_MAX), std::nullopt);
    EXPECT_EQ(palToFilm(INT64_MIN), std::nullopt);
    EXPECT_EQ(threeTwoPulldownTime(INT64_MAX), std::nullopt);
    EXPECT_EQ(converted(INT64_MAX / 1002 * 1000, true, true), std::nullopt);
    EXPECT_NE(threeTwoPulldownTime(INT64_MAX / 1002 * 1000), std::nullopt);
    EXPECT_NE(palToFilm(INT64_MAX / 105 * 100), std::nullopt);
}

// The bits the code uses are the doubles nearest to the numbers the conversions are named by.
TEST(ConvertFrameRate, ConstantsAreTheNearestDoubles) {
    EXPECT_EQ(std::bit_cast<double>(palFactorBits), 1001.0 / 960.0);
    EXPECT_EQ(std::bit_cast<double>(palAddendBits), 0.5);
    EXPECT_EQ(std::bit_cast<double>(pulldownFactorBits), 1001.0 / 1000.0);
    EXPECT_EQ(std::bit_cast<double>(pulldownAddendBits), 5.0 / 100.0);
}

#ifdef CHAPCAT_HAVE_X87
// The times from, from + step, ... up to to.
struct Times {
    std::int64_t from;
    std::int64_t to;
    std::int64_t step;
};

// Counts disagreements instead of failing each one, so a fault reports once, with an example.
template <typename Exact, typename Reference>
void expectSameAsX87(const Times& times, Exact exact, Reference reference) {
    std::int64_t mismatches = 0;
    std::int64_t first = 0;
    for (std::int64_t t = times.from; t <= times.to; t += times.step) {
        if (exact(t) != reference(t) && mismatches++ == 0)
            first = t;
    }
    EXPECT_EQ(mismatches, 0) << "first at " << first;
}

TEST(ConvertFrameRate, MatchesX87OnEveryTimeUpTo2000000) {
    const Times times{-100000, 2000000, 1};
    expectSameAsX87(times, palToFilm, x87PalToFilm);
    expectSameAsX87(times, threeTwoPulldownTime, x87Pulldown);
    expectSameAsX87(
        times, [](std::int64_t t) { return converted(t, true, true); },
        [](std::int64_t t) { return x87Pulldown(x87PalToFilm(t)); });
}

TEST(ConvertFrameRate, MatchesX87OnTimesEndingIn950) {
    const Times times{950, 600000000, 1000};
    expectSameAsX87(times, palToFilm, x87PalToFilm);
    expectSameAsX87(times, threeTwoPulldownTime, x87Pulldown);
    expectSameAsX87(
        times, [](std::int64_t t) { return converted(t, true, true); },
        [](std::int64_t t) { return x87Pulldown(x87PalToFilm(t)); });
}

TEST(ConvertFrameRate, MatchesX87NearTheTopOfTheRange) {
    // Up here the product needs all 64 bits of the significand and rounds at every step.
    const std::int64_t top = INT64_MAX / 1002 * 1000;
    expectSameAsX87({top - 200000, top, 1}, threeTwoPulldownTime, x87Pulldown);
    expectSameAsX87({-top, -top + 200000, 1}, threeTwoPulldownTime, x87Pulldown);
    const std::int64_t palTop = INT64_MAX / 105 * 100;
    expectSameAsX87({palTop - 200000, palTop, 1}, palToFilm, x87PalToFilm);
}
#endif

} // namespace
