#pragma once

#include "chapter_line.hpp"
#include "output.hpp"
#include "timestamp.hpp"

#include <cstdint>
#include <optional>
#include <vector>

enum class Format { simple, ffmetadata, matroska };

// The most that a time takes as any format writes it: nanoseconds as HH:MM:SS.nnnnnnnnn.
constexpr std::size_t maxTimeTextSize = maxTimestampSize + 6;
static_assert(maxTimeTextSize > maxNumberSize);

// Turns the placed chapter lines into the text of one output format. The simple format writes
// each line as it comes; the others write chapters (a time line with its name line), each held
// until the next one gives its end.
struct Writer {
    Format format = Format::simple;
    bool wroteChapter = false;
    bool holding = false; // a chapter waits for its end
    std::int64_t start = 0;
    bool titled = false;
    std::vector<char> title;
    bool named = false; // a name line waits for the time line after it
    std::vector<char> name;
    // The end last written, as the format writes times (none while lastEndSize is 0).
    std::int64_t lastEnd = 0;
    std::size_t lastEndSize = 0;
    char lastEndText[maxTimeTextSize];
};

void beginOutput(Writer& writer, Output& output);
// pairsWithPrevious: the line before was this chapter's time or name line.
void writeLine(Writer& writer, Output& output, const ChapterLine& line, bool pairsWithPrevious);
// The last chapter ends at videoEnd when it is known.
void endOutput(Writer& writer, Output& output, std::optional<std::int64_t> videoEnd);
