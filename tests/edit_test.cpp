// Chapters of a part cut before it is joined, against lists worked out by hand.
#include "edit.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// "5-20": a range in whole seconds; "30-": to the end.
TimeRange rangeOf(const std::string& text) {
    const std::size_t dash = text.find('-');
    const std::string to = text.substr(dash + 1);
    return {std::stoll(text.substr(0, dash)) * 1000,
            to.empty() ? std::nullopt : std::optional<ExactTime>(std::stoll(to) * 1000)};
}

std::vector<TimeRange> rangesOf(const std::vector<std::string>& texts) {
    std::vector<TimeRange> ranges;
    for (const std::string& text : texts)
        ranges.push_back(rangeOf(text));
    return ranges;
}

// Lines as the stages after the edit get them: "N@SECONDS" for a time, "N:TITLE" for a name.
void describe(std::string& text, const EditedLines& lines) {
    for (std::size_t i = 0; i < lines.count; ++i) {
        const ChapterLine& line = lines.lines[i].line;
        text += " " + std::to_string(line.number);
        if (line.kind == LineKind::time)
            text += "@" + std::to_string(line.time / 1000) +
                    (line.time % 1000 != 0 || line.nanoseconds != 0 ? "+" : "");
        else
            text += ":" + std::string(line.title);
    }
}

struct Case {
    std::vector<std::string> keeps;
    std::vector<std::string> cuts;
    std::string chapters;               // "SECONDS TITLE" a chapter, ',' between; no title: none
    std::optional<std::int64_t> length; // the part's own, in seconds
    std::string edited;                 // the lines, then moved and left out, then the length
};

std::string edited(const Case& c) {
    PartEdit edit;
    edit.kept = keptRanges(rangesOf(c.keeps), rangesOf(c.cuts));
    std::string text;
    std::istringstream chapters(c.chapters);
    std::int64_t number = 0;
    for (std::string chapter; std::getline(chapters, chapter, ',');) {
        ++number;
        const std::size_t space = chapter.find(' ');
        const std::string title = space == std::string::npos ? "" : chapter.substr(space + 1);
        describe(text, editLine(edit, {LineKind::time, number, std::stoll(chapter) * 1000, {}}, 1));
        if (!title.empty())
            describe(text, editLine(edit, {LineKind::name, number, 0, title}, 1));
    }
    const std::optional<ExactTime> own =
        c.length ? std::optional<ExactTime>(*c.length * 1000) : std::nullopt;
    describe(text, endEdit(edit, own));
    const std::optional<ExactTime> kept = keptLength(edit.kept, own);
    return text + " | " + std::to_string(edit.moved) + " " + std::to_string(edit.leftOut) + " | " +
           (kept ? std::to_string(kept->milliseconds / 1000) : "?");
}

const std::string abcd = "0 A,10 B,25 C,40 D";

TEST(Edit, ChaptersFollowTheRangesKept) {
    const Case cases[] = {
        // Both ranges joined: a chapter that runs into a range starts it (A, C).
        {{"5-20", "30-50"}, {}, abcd, 60, " 1@0 1:A 2@5 2:B 3@15 3:C 4@25 4:D | 3 0 | 35"},
        {{"0-60"}, {}, abcd, 60, " 1@0 1:A 2@10 2:B 3@25 3:C 4@40 4:D | 0 0 | 60"},
        // A chapter of its own at a range's start: the one before it is left out.
        {{}, {"10-25"}, abcd, 60, " 1@0 1:A 2@10 2:C 3@25 3:D | 2 1 | 45"},
        {{}, {"0-10"}, abcd, 60, " 1@0 1:B 2@15 2:C 3@30 3:D | 3 1 | 50"},
        {{"10-"}, {}, abcd, 60, " 1@0 1:B 2@15 2:C 3@30 3:D | 3 1 | 50"},
        {{}, {"12-30"}, abcd, 60, " 1@0 1:A 2@10 2:B 3@12 3:C 4@22 4:D | 2 0 | 42"},
        {{}, {"0-5"}, abcd, 60, " 1@0 1:A 2@5 2:B 3@20 3:C 4@35 4:D | 3 0 | 55"},
        // A chapter at a range's end is not in it.
        {{"0-25"}, {}, abcd, 60, " 1@0 1:A 2@10 2:B | 0 2 | 25"},
        {{"0-10", "20-30"}, {}, abcd, 60, " 1@0 1:A 2@10 2:B 3@15 3:C | 1 1 | 20"},
        // The last chapter runs to the part's end, into a range after it.
        {{"0-40", "41-60"}, {}, abcd, 60, " 1@0 1:A 2@10 2:B 3@25 3:C 4@40 4:D | 0 0 | 59"},
        {{"50-55"}, {}, abcd, 60, " 1@0 1:D | 1 3 | 5"},
        {{"50-55"}, {}, abcd, std::nullopt, " 1@0 1:D | 1 3 | 5"},
        // A part that ends before its range keeps nothing of it.
        {{"45-50"}, {}, abcd, 44, " | 0 4 | 0"},
        {{"50-"}, {}, abcd, std::nullopt, " 1@0 1:D | 1 3 | ?"},
        // Several cuts; a keep with a cut in it.
        {{}, {"20-30", "35-45"}, abcd, 60, " 1@0 1:A 2@10 2:B 3@20 3:C 4@25 4:D | 2 0 | 40"},
        {{"5-20"}, {"8-12"}, abcd, 60, " 1@0 1:A 2@3 2:B | 1 2 | 11"},
        {{}, {"5-15"}, abcd, 60, " 1@0 1:A 2@5 2:B 3@15 3:C 4@30 4:D | 3 0 | 50"},
        // Several chapters in one removed stretch: the last one runs into the range.
        {{"30-"}, {}, abcd, 60, " 1@0 1:C 2@10 2:D | 2 2 | 30"},
        // Untitled chapters, and chapters out of order.
        {{}, {"0-5"}, "0,10 B,25", 60, " 1@0 2@5 2:B 3@20 | 2 0 | 55"},
        {{}, {"12-30"}, "0 A,25 C,10 B", 40, " 1@0 1:A 2@10 2:B | 0 1 | 22"},
        // A part of unknown length: closed ranges still give the kept length.
        {{"5-20", "30-50"},
         {},
         abcd,
         std::nullopt,
         " 1@0 1:A 2@5 2:B 3@15 3:C 4@25 4:D | 3 0 | 35"},
        {{}, {"30-"}, abcd, std::nullopt, " 1@0 1:A 2@10 2:B 3@25 3:C | 0 1 | 30"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(edited(c), c.edited)
            << c.chapters << " keeping " << ::testing::PrintToString(c.keeps) << " cutting "
            << ::testing::PrintToString(c.cuts);
}

} // namespace
