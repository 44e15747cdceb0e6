#pragma once

#include "chapter_line.hpp"
#include "output.hpp"
#include "timeline.hpp"
#include "writers/writer.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The joined list between placement and the writer: checks each placed line against the list
// before it, pairs time lines with their name lines, says what it finds, and hands the writer
// every line or whole chapters, as the writer takes them.
struct Chapters {
    const Writer& writer;
    Output& output;
    WriterState state{};
    Timeline timeline{};
    // Of the current part's format: how it says a chapter has no title, and whether its titles
    // may hold line breaks.
    std::string_view untitled{};
    bool titlesMayBreak = false;
    bool holding = false; // a chapter waits for the next start, its end
    std::int64_t start = 0;
    std::int64_t number = 0;
    // Where its time line is, for messages: a copy, since a listed part's name lives no longer
    // than the part, made once a part.
    std::string file{};
    std::int64_t filePart = -1;
    std::int64_t part = 0; // the part being read, counted by the run
    std::int64_t lineNumber = 0;
    bool titled = false;
    std::string title{};
    std::string name{}; // of a name line that waits for the time line after it
};

void beginChapters(Chapters& chapters);

// Takes a placed time or name line of the current part.
void take(Chapters& chapters, const ChapterLine& line, const Place& place);

// A line of the kind given (badTime, ...) was skipped: says so, and it parts a pair.
void skip(Chapters& chapters, LineKind kind, const Place& place);

// The current part has ended, with a length (given or read) or without: a line still unpaired
// stays so.
void endChapters(Chapters& chapters, std::string_view file, bool hadLength);

// Writes what is held, the last chapter ending at videoEnd when it is known, and ends the output.
// stopped: the run ended early, and has said why.
void finishChapters(Chapters& chapters, std::optional<std::int64_t> videoEnd, bool stopped);

// Ends the output without writing what is held: where finishing asked for memory there was not.
void closeChapters(Chapters& chapters);
