// 'CHAPTERnn=HH:MM:SS.mmm' and 'CHAPTERnnNAME=title', as read.
#include "writer.hpp"

namespace {

void begin(Output&) {}

void line(Output& output, const ChapterLine& line) {
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
        out = put(out, line.title);
    }
    *out++ = '\n';
    commit(output, out);
}

void end(WriterState&, Output&) {}

std::string_view lost(const Chapter&) {
    return {};
}

} // namespace

const Writer simpleWriter{"simple", "CHAPTERnn= lines (the default)", begin, line, nullptr, end,
                          lost};
