#include "chapter_line.hpp"

#include "frame_rate.hpp"
#include "timestamp.hpp"

namespace {

constexpr std::string_view keyword = "CHAPTER";

// Chapter numbers are at least two digits wide: 1 is '01'.
void appendChapterNumber(std::string& out, std::int64_t chapter) {
    if (chapter >= 0 && chapter < 10)
        out += '0';
    char digits[24];
    char* const end = digits + sizeof digits;
    char* p = end;
    std::uint64_t magnitude =
        chapter < 0 ? 0 - static_cast<std::uint64_t>(chapter) : static_cast<std::uint64_t>(chapter);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (chapter < 0)
        *--p = '-';
    out.append(p, end);
}

} // namespace

LineResult parseLine(std::string_view line, std::int64_t chapterOffset, std::int64_t timeOffset,
                     std::int64_t timeDelay, std::int64_t& nextChapterOffset,
                     std::optional<std::int64_t>& nextTimeOffset, bool pal2Film,
                     bool threeTwoPulldown, std::string& out) {
    if (!line.starts_with(keyword))
        return LineResult::ignored;
    const auto rest = line.substr(keyword.size());
    const auto equals = rest.find('=');
    if (equals == std::string_view::npos)
        return LineResult::ignored;
    const auto key = rest.substr(0, equals);
    const auto value = rest.substr(equals + 1);
    const auto name = key.find("NAME");

    const auto number = parseInteger(key.substr(0, name));
    std::int64_t chapter;
    if (!number || __builtin_add_overflow(*number, chapterOffset, &chapter))
        return LineResult::chapterOutOfRange;

    if (name != std::string_view::npos) {
        out += keyword;
        appendChapterNumber(out, chapter);
        out += "NAME=";
        out += value;
        out += '\n';
        nextChapterOffset = chapter;
        return LineResult::written;
    }

    const auto parsed = timestampToInt(value);
    if (!parsed)
        return LineResult::badTime;
    // The offset was converted when it was written; only this file's own time is converted.
    std::int64_t time;
    if (__builtin_add_overflow(timeDelay, *parsed, &time))
        return LineResult::timeOutOfRange;
    const auto converted = convertFrameRate(time, pal2Film, threeTwoPulldown);
    if (!converted || __builtin_add_overflow(timeOffset, *converted, &time))
        return LineResult::timeOutOfRange;
    out += keyword;
    appendChapterNumber(out, chapter);
    out += '=';
    appendTimestamp(out, time);
    out += '\n';
    nextChapterOffset = chapter;
    nextTimeOffset = time;
    return LineResult::written;
}
