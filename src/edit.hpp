#pragma once
// A part cut before it is joined: only its kept ranges remain, back to back, and its chapters
// follow them.

#include "chapter_line.hpp"
#include "ranges.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// a before b.
bool earlier(ExactTime a, ExactTime b);

// What is kept of a part: what a keep covers (all, without one) and no cut removes; sorted and
// apart. Each of keeps and cuts must be sorted by start and must not overlap.
std::vector<TimeRange> keptRanges(std::span<const TimeRange> keeps,
                                  std::span<const TimeRange> cuts);

enum class Fate {
    kept,        // in a kept range: moved earlier by the time removed before it
    beforeRange, // in a removed stretch before a kept range, which starts at time
    removed,     // after the last kept range
};

struct EditedTime {
    Fate fate;
    ExactTime time{}; // in the edited part
    std::size_t range = 0;
};

// Where a time of the part's own goes in the edited part.
EditedTime editTime(std::span<const TimeRange> kept, ExactTime time);

// How long the edited part is, its own length being ownLength where that is known: none where
// the last range runs to an end that is not.
std::optional<ExactTime> keptLength(std::span<const TimeRange> kept,
                                    std::optional<ExactTime> ownLength);

// A line, edited, for the stages after.
struct EditedLine {
    ChapterLine line;
    std::int64_t lineNumber;
};

// One part's edit while it is read.
struct PartEdit {
    std::vector<TimeRange> kept; // empty: the part is not edited
    std::int64_t moved = 0;      // chapters that start elsewhere in the edited part
    std::int64_t leftOut = 0;    // chapters wholly removed
    // The last time line's number, as read, and what became of it.
    std::optional<std::int64_t> lastNumber;
    bool lastKept = false;
    std::int64_t lastEditedNumber = 0;
    // A chapter in a removed stretch: it starts the kept range after it where its span runs into
    // that range, which the next start tells. Its title is copied, as the line it came in goes.
    std::optional<EditedLine> heldTime;
    std::optional<EditedLine> heldName;
    std::string heldTitle;
    std::size_t heldRange = 0;
    ExactTime heldOwn{}; // its time before the edit
};

// The at most three lines that a line read gives: a held chapter's two lines and its own.
struct EditedLines {
    EditedLine lines[3];
    std::size_t count = 0;
};

EditedLines editLine(PartEdit& edit, const ChapterLine& line, std::int64_t lineNumber);

// The part has ended, with its own length where known: a chapter still held starts the range
// after it if the part reaches that range.
EditedLines endEdit(PartEdit& edit, std::optional<ExactTime> ownLength);
