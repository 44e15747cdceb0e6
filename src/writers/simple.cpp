// 'CHAPTERnn=HH:MM:SS.mmm' and 'CHAPTERnnNAME=title', as read.
#include "writer.hpp"

#include <algorithm>

namespace {

bool holdsLineBreak(std::string_view title) {
    // Two searches cost less than find_first_of, which searches the set for every byte.
    return title.find('\n') != std::string_view::npos || title.find('\r') != std::string_view::npos;
}

void begin(Output&) {}

void line(Output& output, const ChapterLine& line, bool titleMayBreak) {
    constexpr std::size_t timeLineSize =
        chapterKeyword.size() + maxNumberSize + 1 + maxTimestampSize + 1;
    constexpr std::size_t nameLineSize = chapterKeyword.size() + maxNumberSize + 5 + 1;
    const bool isTime = line.kind == LineKind::time;
    char* out = reserve(output, isTime ? timeLineSize : nameLineSize + line.title.size());
    out = put(out, chapterKeyword);
    out = writeTwoDigitsAtLeast(out, line.number);
    if (isTime) {
        *out++ = '=';
        out = intToTimestamp(out, line.time);
    } else {
        out = put(out, "NAME=");
        char* const title = out;
        out = put(out, line.title);
        if (titleMayBreak && holdsLineBreak(line.title)) // one line a title
            std::replace_if(
                title, out, [](char c) { return c == '\r' || c == '\n'; }, ' ');
    }
    *out++ = '\n';
    commit(output, out);
}

void end(WriterState&, Output&) {}

std::string_view lost(const Chapter& chapter) {
    return holdsLineBreak(chapter.title)
               ? "title holds a line break, which CHAPTERnn= lines cannot; written as a space"
               : "";
}

} // namespace

const Writer simpleWriter{
    "simple", "CHAPTERnn= lines (the default)", begin, line, nullptr, end, lost, Join::mkvmerge};
