#include "timeline.hpp"

#include "output.hpp"
#include "timestamp.hpp"

namespace {

Report unpairedReport(const Timeline::Unpaired& line) {
    return {line.kind == LineKind::time ? Finding::timeWithoutName : Finding::nameWithoutTime,
            line.lineNumber,
            line.number,
            0,
            0,
            0};
}

} // namespace

std::string chapterNumber(std::int64_t number) {
    char text[maxNumberSize];
    return {text, writeTwoDigitsAtLeast(text, number)};
}

std::string timestamp(std::int64_t time) {
    char text[maxTimestampSize];
    return {text, intToTimestamp(text, time)};
}

Checked check(Timeline& timeline, const ChapterLine& line, const Place& place,
              Report (&reports)[maxReports]) {
    const std::int64_t lineNumber = place.lineNumber;
    const std::optional<std::int64_t> partEnd = place.partEnd;
    Checked checked{false, 0};
    const auto add = [&](Report report) { reports[checked.count++] = report; };
    const auto& unpaired = timeline.unpaired;
    checked.pairsWithPrevious =
        unpaired && unpaired->number == line.number && unpaired->kind != line.kind;
    if (checked.pairsWithPrevious) {
        timeline.unpaired.reset();
    } else {
        if (unpaired)
            add(unpairedReport(*unpaired));
        timeline.unpaired = Timeline::Unpaired{line.kind, line.number, lineNumber};
    }
    if (line.kind != LineKind::time)
        return checked;
    if (line.time < 0)
        add({Finding::beforeZero, lineNumber, line.number, line.time, 0, 0});
    else if (timeline.previousStart && line.time <= *timeline.previousStart)
        add({!timeline.fromEarlierPart       ? Finding::notLater
             : timeline.earlierPartHadLength ? Finding::notLaterAfterLength
                                             : Finding::notLaterAtJoin,
             lineNumber, line.number, line.time, *timeline.previousStart,
             timeline.previousChapter});
    if (partEnd && (line.time > *partEnd || (place.endIsOwn && line.time == *partEnd)))
        add({Finding::afterEnd, lineNumber, line.number, line.time, *partEnd, 0});
    timeline.previousStart = line.time;
    timeline.previousChapter = line.number;
    timeline.fromEarlierPart = false;
    return checked;
}

std::optional<Report> breakPair(Timeline& timeline) {
    std::optional<Report> report;
    if (timeline.unpaired)
        report = unpairedReport(*timeline.unpaired);
    timeline.unpaired.reset();
    return report;
}

std::optional<Report> endOfPart(Timeline& timeline, bool hadLength) {
    timeline.fromEarlierPart = true;
    timeline.earlierPartHadLength = hadLength;
    return breakPair(timeline);
}

std::string describe(const Report& report, std::string_view file, std::string_view untitled,
                     bool nameDropped) {
    std::string text = where(file, report.lineNumber) + "chapter " + chapterNumber(report.chapter);
    switch (report.finding) {
    case Finding::beforeZero:
        return text + " starts at " + timestamp(report.time) +
               ", before 00:00:00.000, which muxers reject";
    case Finding::notLater:
    case Finding::notLaterAtJoin:
    case Finding::notLaterAfterLength:
        text += " (" + timestamp(report.time) + ") does not start after chapter " +
                chapterNumber(report.otherChapter) + " (" + timestamp(report.other) + ")";
        if (report.finding == Finding::notLaterAtJoin)
            text += "; is a -d= or --length= missing before " + std::string(file) + "?";
        if (report.finding == Finding::notLaterAfterLength)
            text += "; does the length of the part before " + std::string(file) +
                    " match that part in the joined video (after -p or -t)?";
        return text;
    case Finding::afterEnd:
        return text + " (" + timestamp(report.time) + ") starts " +
               (report.time == report.other ? "at" : "after") + " the end of its part (" +
               timestamp(report.other) + ")";
    case Finding::timeWithoutName:
        return text + " " + std::string(untitled);
    case Finding::nameWithoutTime:
        return text + " has a name line but no time line" + (nameDropped ? "; name dropped" : "");
    }
    return text;
}
