#pragma once
// The names of a list of files (--files-from, --files0-from), read one at a time, so that memory
// stays flat however long the list.

#include "sources/source.hpp"

#include <cstdint>
#include <string>
#include <string_view>

struct FileList {
    Input input;
    char separator;
    std::string_view rest{}; // of the last read, not yet split
    std::string pending{};   // a name that spans reads, up to the bound
    bool pendingTooLong = false;
    bool delivered = false;      // pending was handed out and is to be forgotten
    std::int64_t lineNumber = 0; // of the name last handed out, counting empty ones
};

enum class NextName {
    name,     // name holds the next one, valid until the next call
    end,      // the list has ended
    failed,   // a read failed (input.error), or the output did
    tooLong,  // a name longer than maxLineSize; the list is not read on
    holdsNul, // a name in a list of lines holds a NUL byte, which no file name can
};

// The next name that is not empty.
NextName nextName(FileList& list, std::string_view& name);
