#include "chapter_line.hpp"

#include "frame_rate.hpp"
#include "timestamp.hpp"

#include <algorithm>

namespace {

constexpr std::string_view keyword = "CHAPTER";

} // namespace

LineResult parseLine(std::string_view line, std::int64_t chapterOffset, std::int64_t timeOffset,
                     std::int64_t timeDelay, std::int64_t& nextChapterOffset,
                     std::optional<std::int64_t>& nextTimeOffset, bool pal2Film,
                     bool threeTwoPulldown, char*& out) {
    if (!line.starts_with(keyword))
        return LineResult::ignored;
    // One pass over the key finds both its end and its first "NAME".
    const auto rest = line.substr(keyword.size());
    std::size_t equals = 0;
    std::size_t name = std::string_view::npos;
    for (; equals < rest.size() && rest[equals] != '='; ++equals) {
        if (rest[equals] == 'N' && name == std::string_view::npos &&
            rest.substr(equals, 4) == "NAME")
            name = equals;
    }
    if (equals == rest.size())
        return LineResult::ignored;
    const auto key = rest.substr(0, equals);
    const auto value = rest.substr(equals + 1);

    std::int64_t chapter;
    if (!parseInteger(key.substr(0, name), chapter) ||
        __builtin_add_overflow(chapter, chapterOffset, &chapter))
        return LineResult::chapterOutOfRange;

    // Written in place: the caller guarantees the room. out moves only past a written line.
    char* end = std::copy(keyword.begin(), keyword.end(), out);
    end = writeTwoDigitsAtLeast(end, chapter);

    if (name != std::string_view::npos) {
        end = std::copy_n("NAME=", 5, end);
        end = std::copy(value.begin(), value.end(), end);
        *end++ = '\n';
        out = end;
        nextChapterOffset = chapter;
        return LineResult::written;
    }

    std::int64_t parsed;
    if (!parseTimestamp(value, parsed))
        return LineResult::badTime;
    // The offset was converted when it was written; only this file's own time is converted.
    std::int64_t time;
    if (__builtin_add_overflow(timeDelay, parsed, &time))
        return LineResult::timeOutOfRange;
    if (!convertFrameRate(time, pal2Film, threeTwoPulldown) ||
        __builtin_add_overflow(timeOffset, time, &time))
        return LineResult::timeOutOfRange;
    *end++ = '=';
    end = writeTimestamp(end, time);
    *end++ = '\n';
    out = end;
    nextChapterOffset = chapter;
    nextTimeOffset = time;
    return LineResult::written;
}
