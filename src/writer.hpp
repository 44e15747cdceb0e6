#pragma once

#include "chapter_line.hpp"
#include "output.hpp"

#include <cstdint>

enum class Format { simple };

// Turns the placed chapter lines into the text of one output format.
struct Writer {
    void (*begin)(Output& output);
    void (*line)(Output& output, const ChapterLine& line); // a placed time or name line
    void (*end)(Output& output);
};

const Writer& writerFor(Format format);
