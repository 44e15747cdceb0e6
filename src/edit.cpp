#include "edit.hpp"

#include <algorithm>

namespace {

// to <= time: a range that ends there holds nothing from time on.
bool endsBy(std::optional<ExactTime> to, ExactTime time) {
    return to && !earlier(time, *to);
}

// Adds what is left of range once cut is removed from it.
void addUncut(std::vector<TimeRange>& out, const TimeRange& range, const TimeRange& cut) {
    if (earlier(range.from, cut.from)) { // a piece before the cut
        const ExactTime to = range.to && earlier(*range.to, cut.from) ? *range.to : cut.from;
        out.push_back({range.from, to});
    }
    if (cut.to && (!range.to || earlier(*cut.to, *range.to))) // a piece after it
        out.push_back({earlier(range.from, *cut.to) ? *cut.to : range.from, range.to});
}

// Ranges that meet are one.
std::vector<TimeRange> merged(std::span<const TimeRange> ranges) {
    std::vector<TimeRange> out;
    for (const TimeRange& range : ranges) {
        if (!out.empty() && out.back().to && *out.back().to == range.from)
            out.back().to = range.to;
        else
            out.push_back(range);
    }
    return out;
}

ExactTime fromNanoseconds(Int128 nanoseconds) {
    return timeOfNanoseconds(nanoseconds).value_or(ExactTime{});
}

void push(EditedLines& lines, const ChapterLine& line, std::int64_t lineNumber) {
    lines.lines[lines.count++] = {line, lineNumber};
}

// The next start tells whether the held chapter's span runs into the range after it: then it
// starts that range, unless a chapter of its own starts there.
void resolveHeld(PartEdit& edit, std::optional<ExactTime> nextStart, EditedLines& out) {
    if (!edit.heldTime)
        return;
    if (!nextStart || earlier(edit.kept[edit.heldRange].from, *nextStart)) {
        push(out, edit.heldTime->line, edit.heldTime->lineNumber);
        if (edit.heldName)
            push(out, edit.heldName->line, edit.heldName->lineNumber);
        const ChapterLine& held = edit.heldTime->line;
        edit.moved += ExactTime{held.time, held.nanoseconds} == edit.heldOwn ? 0 : 1;
    } else {
        ++edit.leftOut;
    }
    edit.heldTime.reset();
    edit.heldName.reset();
}

void editTimeLine(PartEdit& edit, ChapterLine line, std::int64_t lineNumber, EditedLines& out) {
    const ExactTime own{line.time, line.nanoseconds};
    const EditedTime edited = editTime(edit.kept, own);
    resolveHeld(edit, own, out);
    edit.lastNumber = line.number;
    edit.lastKept = false;
    line.number -= edit.leftOut;
    line.time = edited.time.milliseconds;
    line.nanoseconds = edited.time.nanoseconds;
    if (edited.fate == Fate::removed) {
        ++edit.leftOut;
    } else if (edited.fate == Fate::beforeRange) {
        edit.heldTime = EditedLine{line, lineNumber};
        edit.heldRange = edited.range;
        edit.heldOwn = own;
    } else {
        edit.lastKept = true;
        edit.lastEditedNumber = line.number;
        edit.moved += edited.time == own ? 0 : 1;
        push(out, line, lineNumber);
    }
}

} // namespace

bool earlier(ExactTime a, ExactTime b) {
    return a.milliseconds < b.milliseconds ||
           (a.milliseconds == b.milliseconds && a.nanoseconds < b.nanoseconds);
}

std::vector<TimeRange> keptRanges(std::span<const TimeRange> keeps,
                                  std::span<const TimeRange> cuts) {
    std::vector<TimeRange> kept =
        keeps.empty() ? std::vector<TimeRange>{TimeRange{}} : merged(keeps);
    for (const TimeRange& cut : cuts) {
        std::vector<TimeRange> uncut;
        for (const TimeRange& range : kept)
            addUncut(uncut, range, cut);
        kept = std::move(uncut);
    }
    std::erase_if(kept, [](const TimeRange& range) { return endsBy(range.to, range.from); });
    return kept;
}

EditedTime editTime(std::span<const TimeRange> kept, ExactTime time) {
    Int128 before = 0; // kept before the range
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const TimeRange& range = kept[i];
        if (earlier(time, range.from))
            return {Fate::beforeRange, fromNanoseconds(before), i};
        if (!endsBy(range.to, time))
            return {Fate::kept,
                    fromNanoseconds(before + nanosecondsOf(time) - nanosecondsOf(range.from)), i};
        before += nanosecondsOf(*range.to) - nanosecondsOf(range.from);
    }
    return {Fate::removed, fromNanoseconds(before), kept.size()};
}

std::optional<ExactTime> keptLength(std::span<const TimeRange> kept,
                                    std::optional<ExactTime> ownLength) {
    Int128 length = 0;
    for (const TimeRange& range : kept) {
        std::optional<ExactTime> end = range.to;
        if (ownLength && (!end || earlier(*ownLength, *end)))
            end = ownLength;
        if (!end)
            return std::nullopt;
        if (earlier(range.from, *end))
            length += nanosecondsOf(*end) - nanosecondsOf(range.from);
    }
    return timeOfNanoseconds(length);
}

EditedLines editLine(PartEdit& edit, const ChapterLine& line, std::int64_t lineNumber) {
    EditedLines out;
    if (line.kind == LineKind::time) {
        editTimeLine(edit, line, lineNumber, out);
        return out;
    }
    ChapterLine passed = line;
    if (line.kind == LineKind::name && edit.lastNumber == line.number) {
        if (edit.heldTime) { // the held chapter's title
            edit.heldTitle = line.title;
            passed.number = edit.heldTime->line.number;
            passed.title = edit.heldTitle;
            edit.heldName = EditedLine{passed, lineNumber};
        } else if (edit.lastKept) {
            passed.number = edit.lastEditedNumber;
            push(out, passed, lineNumber);
        }
        return out; // else its chapter was removed
    }
    passed.number -= line.kind == LineKind::other ? 0 : edit.leftOut;
    push(out, passed, lineNumber);
    return out;
}

EditedLines endEdit(PartEdit& edit, std::optional<ExactTime> ownLength) {
    EditedLines out;
    if (edit.heldTime && ownLength && !earlier(edit.kept[edit.heldRange].from, *ownLength)) {
        ++edit.leftOut; // the part ends before the range it waits for
        edit.heldTime.reset();
        edit.heldName.reset();
    }
    resolveHeld(edit, std::nullopt, out);
    return out;
}
