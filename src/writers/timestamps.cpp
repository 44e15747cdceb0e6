// Timestamp lines, a chapter a line: 'M:SS Title' for a video description, in whole seconds as
// YouTube shows a chapter's start (truncated), and 'HH:MM:SS.mmm Title' for audiobook tools.
#include "timeline.hpp"
#include "writer.hpp"

#include <algorithm>
#include <string>

namespace {

constexpr std::int64_t shortestOnYouTube = 10; // seconds
constexpr std::int64_t fewestOnYouTube = 3;

std::string_view breaks = "\r\n";

// Whole seconds, truncated: 'M:SS', or 'H:MM:SS' where there are hours.
char* renderSeconds(char* out, std::int64_t milliseconds) {
    auto magnitude = static_cast<std::uint64_t>(milliseconds);
    if (milliseconds < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    const auto seconds = static_cast<std::int64_t>(magnitude / 1000);
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = seconds / 60 % 60;
    if (hours != 0) {
        out = writeInteger(out, hours);
        *out++ = ':';
        out = writeTwoDigitsAtLeast(out, minutes);
    } else {
        out = writeInteger(out, minutes);
    }
    *out++ = ':';
    return writeTwoDigitsAtLeast(out, seconds % 60);
}

// The whole second YouTube shows a time in.
std::int64_t secondOf(std::int64_t milliseconds) {
    return milliseconds / 1000 - (milliseconds % 1000 < 0 ? 1 : 0);
}

void writeLine(Output& output, const Chapter& chapter, char* (*render)(char*, std::int64_t)) {
    char* out = reserve(output, maxTimeTextSize + 2 + chapter.title.size());
    out = render(out, chapter.start);
    if (!chapter.title.empty()) {
        *out++ = ' ';
        char* const title = out;
        out = put(out, chapter.title);
        if (chapter.title.find_first_of(breaks) != std::string_view::npos) // one line a chapter
            std::replace_if(
                title, out, [](char c) { return c == '\r' || c == '\n'; }, ' ');
    }
    *out++ = '\n';
    commit(output, out);
}

void warn(Output& output, const WriterState& state, std::int64_t start, std::string_view rule) {
    char time[maxTimeTextSize];
    const std::string_view shown(time, static_cast<std::size_t>(renderSeconds(time, start) - time));
    report(output, "output line " + std::to_string(state.written) + " (" + std::string(shown) +
                       "): " + std::string(rule));
}

// YouTube's rules for the chapters of a description, each broken one a warning.
void checkForYouTube(WriterState& state, Output& output, const Chapter& chapter) {
    const std::int64_t second = secondOf(chapter.start);
    const std::int64_t before = secondOf(state.lastStart);
    if (state.written == 1 && second != 0)
        warn(output, state, chapter.start,
             "YouTube shows chapters only where the first is at 0:00");
    if (state.written > 1 && second < before)
        warn(output, state, chapter.start,
             "starts before the chapter before it; YouTube shows chapters only in rising order");
    if (state.written > 1 && second == before)
        warn(output, state, chapter.start,
             "starts in the same whole second as the chapter before it, which YouTube cannot "
             "tell apart");
    // An end at the start is the next chapter's, not later: warned about as such.
    if (chapter.end && *chapter.end > chapter.start &&
        secondOf(*chapter.end) - second < shortestOnYouTube)
        warn(output, state, chapter.start,
             "shorter than 10 s; YouTube shows chapters only where each is at least 10 s long");
}

void begin(Output&) {}

void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    ++state.written;
    checkForYouTube(state, output, chapter);
    state.lastStart = chapter.start;
    writeLine(output, chapter, renderSeconds);
}

void end(WriterState& state, Output& output) {
    if (state.written > 0 && state.written < fewestOnYouTube)
        report(output, "YouTube shows chapters only from three on; the list has " +
                           std::to_string(state.written));
}

void chapterMs(WriterState&, Output& output, const Chapter& chapter) {
    writeLine(output, chapter, intToTimestamp);
}

void endMs(WriterState&, Output&) {}

// What a reader of timestamp lines would not get back of a title as written.
std::string_view lost(const Chapter& chapter) {
    const std::string_view title = chapter.title;
    if (title.find_first_of(breaks) != std::string_view::npos)
        return "title holds a line break, which a timestamp line cannot; written as a space";
    const bool blankEdge = !title.empty() && (title.front() == ' ' || title.front() == '\t' ||
                                              title.back() == ' ' || title.back() == '\t');
    bool separatorFirst = false;
    for (const std::string_view separator : {"-", "|", ":", "\xE2\x80\x93", "\xE2\x80\x94"})
        separatorFirst =
            separatorFirst || title == separator || title.starts_with(std::string(separator) + ' ');
    if (blankEdge || separatorFirst)
        return "title begins with a separator or begins or ends with a blank, which readers of "
               "timestamp lines drop";
    return {};
}

} // namespace

const Writer timestampsWriter{"timestamps", "M:SS Title lines, for a YouTube description",
                              begin,        nullptr,
                              chapter,      end,
                              lost,         Join::ffmpeg,
                              false};
const Writer timestampsMsWriter{"timestamps-ms",
                                "HH:MM:SS.mmm Title lines, for audiobook tools",
                                begin,
                                nullptr,
                                chapterMs,
                                endMs,
                                lost,
                                Join::ffmpeg,
                                false};
