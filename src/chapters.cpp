#include "chapters.hpp"

#include "bounds.hpp"

#include <algorithm>

namespace {

void say(Chapters& chapters, const std::optional<Report>& found, std::string_view file) {
    if (!found)
        return;
    // Only a writer of lines keeps a name line without a time line.
    const bool nameDropped =
        found->finding == Finding::nameWithoutTime && chapters.writer.chapter != nullptr;
    const bool fails = found->finding == Finding::beforeZero || nameDropped;
    report(chapters.output, describe(*found, file, chapters.untitled, nameDropped),
           fails ? Severity::failure : Severity::warning);
}

// Says what a muxer would lose of the chapter about to be written, at where (FILE:LINE: ).
void sayLost(Chapters& chapters, const Chapter& chapter, std::string at, std::int64_t number) {
    const bool pastRange = std::max(chapter.start, chapter.end.value_or(0)) >= firstTimeMuxersLose;
    const std::string_view lost = chapters.writer.lost(chapter);
    if (!pastRange && lost.empty())
        return;
    at += "chapter " + chapterNumber(number);
    if (pastRange)
        report(chapters.output,
               at + " reaches " + timestamp(firstTimeMuxersLose) +
                   " or later, past the nanoseconds that Matroska and ffmpeg hold; muxers lose "
                   "it",
               Severity::failure);
    if (!lost.empty())
        report(chapters.output, at + ": " + std::string(lost));
}

void writeHeld(Chapters& chapters, std::optional<std::int64_t> end) {
    if (end)
        end = std::max(*end, chapters.start);
    // An untitled chapter has no title, whatever an earlier chapter left in the buffer.
    const Chapter chapter{chapters.start, end, chapters.titled,
                          chapters.titled ? std::string_view(chapters.title) : std::string_view{}};
    sayLost(chapters, chapter, where(chapters.file, chapters.lineNumber), chapters.number);
    chapters.writer.chapter(chapters.state, chapters.output, chapter);
}

// A line to a writer of lines, which may not hold every title that another format can.
void writeLine(Chapters& chapters, const ChapterLine& line, const Place& place) {
    if (line.kind == LineKind::name && chapters.titlesMayBreak)
        sayLost(chapters, {0, std::nullopt, true, line.title}, where(place.file, place.lineNumber),
                line.number);
    chapters.writer.line(chapters.output, line, chapters.titlesMayBreak);
}

// Builds whole chapters: a chapter is written when the next one starts, which gives its end.
// The timeline pairs lines: a name line that pairs with the line before names the chapter held;
// one that does not waits for its time line, and a time line that pairs takes it.
void assemble(Chapters& chapters, const ChapterLine& line, const Place& place,
              bool pairsWithPrevious) {
    if (line.kind == LineKind::name) {
        std::string& name = pairsWithPrevious ? chapters.title : chapters.name;
        name.assign(line.title);
        chapters.titled = chapters.titled || pairsWithPrevious;
        return;
    }
    const bool nameWaits = pairsWithPrevious;
    if (chapters.holding)
        writeHeld(chapters, line.time);
    chapters.holding = true;
    chapters.start = line.time;
    chapters.number = line.number;
    if (chapters.filePart != chapters.part) {
        chapters.file.assign(place.file);
        chapters.filePart = chapters.part;
    }
    chapters.lineNumber = place.lineNumber;
    chapters.titled = nameWaits;
    if (nameWaits)
        chapters.title.swap(chapters.name);
}

std::string problemWith(LineKind kind) {
    switch (kind) {
    case LineKind::badTime:
        return "malformed chapter time";
    case LineKind::timeOutOfRange:
        return "chapter time out of range";
    case LineKind::tooLong:
        return "chapter line longer than " + sizeText(maxLineSize);
    default:
        return "chapter number out of range";
    }
}

} // namespace

void beginChapters(Chapters& chapters) {
    chapters.writer.begin(chapters.output);
}

void take(Chapters& chapters, const ChapterLine& line, const Place& place) {
    Report reports[maxReports];
    const Checked checked = check(chapters.timeline, line, place, reports);
    for (int i = 0; i < checked.count; ++i)
        say(chapters, reports[i], place.file);
    if (chapters.writer.line)
        writeLine(chapters, line, place);
    else
        assemble(chapters, line, place, checked.pairsWithPrevious);
}

void skip(Chapters& chapters, LineKind kind, const Place& place) {
    say(chapters, breakPair(chapters.timeline), place.file);
    report(chapters.output,
           where(place.file, place.lineNumber) + problemWith(kind) + "; line skipped",
           Severity::failure);
}

void endChapters(Chapters& chapters, std::string_view file, bool hadLength) {
    say(chapters, endOfPart(chapters.timeline, hadLength), file);
}

void finishChapters(Chapters& chapters, std::optional<std::int64_t> videoEnd, bool stopped) {
    if (chapters.holding && !videoEnd && !stopped && chapters.writer.writesEnds)
        report(chapters.output,
               "the last chapter's end is unknown; give the last part's --length=");
    if (chapters.holding)
        writeHeld(chapters, videoEnd);
    closeChapters(chapters);
}

void closeChapters(Chapters& chapters) {
    chapters.holding = false;
    chapters.writer.end(chapters.state, chapters.output);
}
