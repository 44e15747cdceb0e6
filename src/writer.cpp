#include "writer.hpp"

#include "timestamp.hpp"

#include <algorithm>

namespace {

constexpr std::string_view keyword = "CHAPTER";

void nothing(Output&) {}

// 'CHAPTERnn=HH:MM:SS.mmm' and 'CHAPTERnnNAME=title', as read.
void simpleLine(Output& output, const ChapterLine& line) {
    constexpr std::size_t timeLineSize = keyword.size() + maxNumberSize + 1 + maxTimestampSize + 1;
    constexpr std::size_t nameLineSize = keyword.size() + maxNumberSize + 5 + 1;
    const bool isTime = line.kind == LineKind::time;
    char* out = reserve(output, isTime ? timeLineSize : nameLineSize + line.title.size());
    out = std::copy(keyword.begin(), keyword.end(), out);
    out = writeTwoDigitsAtLeast(out, line.number);
    if (isTime) {
        *out++ = '=';
        out = intToTimestamp(out, line.time);
    } else {
        out = std::copy_n("NAME=", 5, out);
        out = std::copy(line.title.begin(), line.title.end(), out);
    }
    *out++ = '\n';
    commit(output, out);
}

constexpr Writer simple{nothing, simpleLine, nothing};

} // namespace

const Writer& writerFor(Format) {
    return simple;
}
