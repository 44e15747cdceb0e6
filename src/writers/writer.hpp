#pragma once
// What every output format implements: a writer turns the joined chapters into its text.

#include "chapter_line.hpp"
#include "join.hpp"
#include "output.hpp"
#include "ranges.hpp"
#include "timestamp.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// A whole chapter, for the formats that write chapters rather than lines.
struct Chapter {
    std::int64_t start;
    std::optional<std::int64_t> end; // none where the end of the joined video is unknown
    bool titled;
    std::string_view title;
};

// The most that a time takes as any format writes it: nanoseconds as HH:MM:SS.nnnnnnnnn.
constexpr std::size_t maxTimeTextSize = maxTimestampSize + 6;
static_assert(maxTimeTextSize > maxNumberSize);

// A part as its joining tool is to read it, for the formats that list parts.
struct PartListing {
    std::string_view file;
    std::span<const TimeRange> kept; // empty: all of it
};

// What a writer keeps between chapters.
struct WriterState {
    bool wroteChapter = false;
    // A chapter usually starts where the one before ended: that time is rendered already.
    std::int64_t lastEnd = 0;
    std::size_t startSize = 0;
    std::size_t endSize = 0; // 0: no end written yet
    char startText[maxTimeTextSize];
    char endText[maxTimeTextSize];
    // For the checks of writers whose readers have rules of their own.
    std::int64_t written = 0;
    std::int64_t lastStart = 0;
};

// One output format: a row in the table. A writer takes either every chapter line as it comes
// (line) or whole chapters (chapter); the other is null.
struct Writer {
    std::string_view name;
    std::string_view summary; // for --help
    void (*begin)(Output& output);
    // titleMayBreak: the line's source may put line breaks in a title (most do not: no search).
    void (*line)(Output& output, const ChapterLine& line, bool titleMayBreak);
    void (*chapter)(WriterState& state, Output& output, const Chapter& chapter);
    void (*end)(WriterState& state, Output& output);
    // What the format's readers would lose of a chapter as written, said before it is: a
    // warning, or empty.
    std::string_view (*lost)(const Chapter& chapter);
    // The tool that usually joins the parts whose chapters this format is for.
    Join join;
    bool writesEnds = true; // a chapter's end is part of the format
    // Lists each part, which must then be media, before its chapters; returns why a part
    // cannot be listed, or empty. Null for the formats of chapters alone.
    std::string_view (*part)(Output& output, const PartListing& part) = nullptr;
};

// The first time that Matroska and ffmpeg, holding nanoseconds in 64 bits, cannot keep.
constexpr std::int64_t firstTimeMuxersLose = 9223372036854; // 2562047:47:16.854

// Every output format, the default first.
std::span<const Writer* const> writers();

// The texts of a chapter's start and end, as render writes a time.
struct TimeTexts {
    std::string_view start;
    std::string_view end;
};
TimeTexts renderTimes(WriterState& state, const Chapter& chapter,
                      char* (*render)(char* out, std::int64_t time));

// Copies text to out, returning the end of what was written. Inline, so that copies of constant
// text become a few moves.
inline char* put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

extern const Writer simpleWriter;
extern const Writer ffmetadataWriter;
extern const Writer matroskaWriter;
extern const Writer timestampsWriter;
extern const Writer timestampsMsWriter;
extern const Writer webvttWriter;
extern const Writer ffconcatWriter;
