#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splits the bytes of one input into lines: newline split, every carriage return removed, a
// leading byte-order mark skipped, and a last line without a newline kept. The only code that
// reads input; it owns its buffers, which are reused from one input to the next.
struct LineReader {
    int fd = -1;
    std::vector<char> chunk;
    const char* next = nullptr; // the unread part of chunk
    const char* end = nullptr;
    bool chunkHasCR = false;
    bool atEnd = false;
    std::string pending;           // the start of a line that spans reads
    bool pendingDelivered = false; // pending was handed out and is to be cleared
    std::string scratch;           // a line without its carriage returns
    std::int64_t lineNumber = 0;
};

struct Line {
    std::string_view text; // valid until the next call
    std::int64_t number;   // from 1
};

void startReading(LineReader& reader, int fd);

enum class NextLine { line, needInput, end };

// The next line from what has been read, or needInput when fill() must read more first.
NextLine nextLine(LineReader& reader, Line& line);

// Reads the next chunk of input. Returns 0, or the errno of a failed read.
int fill(LineReader& reader);
