#pragma once

#include "bounds.hpp"
#include "source.hpp"
#include "utf.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Splits the bytes of one input into lines: newline split, every carriage return removed, a
// leading byte-order mark skipped (UTF-16 decoded to UTF-8), and a last line without a newline
// kept. A line is the same wherever the reads fall; of a line longer than maxLineSize only the
// first maxLineSize bytes are kept, so memory stays flat.
struct LineReader {
    const char* next = nullptr; // the unread part of what was fed
    const char* end = nullptr;
    bool chunkHasCR = false;
    bool started = false; // the start of the input has been looked at
    bool atEnd = false;
    bool utf16 = false;
    Utf16Decoder decoder{true};
    std::string decoded;
    // A line that spans pieces: its start without carriage returns, and what is known of it.
    bool spanning = false;
    bool delivered = false; // the spanning line was handed out and is to be forgotten
    std::string pending;
    bool pendingTooLong = false;
    std::string scratch; // a line of one piece without its carriage returns
    std::int64_t lineNumber = 0;
};

struct Line {
    std::string_view text; // valid until the next call; of a line not kept, what is left of it
    std::int64_t number;   // from 1
    bool tooLong;          // longer than maxLineSize: text is its first maxLineSize bytes
};

void startReading(LineReader& reader);

enum class NextLine { line, needInput, end };

// The next line from what has been fed, or needInput when feed() must give more first.
NextLine nextLine(LineReader& reader, Line& line);

// Gives the reader the input's next bytes, which must stay valid until it asks for more; empty
// bytes: the input has ended.
void feed(LineReader& reader, std::string_view bytes);

// Reads the input to its end a line at a time, handing each line to take; its bytes go through
// prepare on their way to the reader. Returns false where a read failed (input.error, or 0 where
// the output did and has said so).
template <typename Take, typename Prepare>
bool readLines(Input& input, Take take, Prepare prepare) {
    LineReader reader;
    startReading(reader);
    Line line;
    for (NextLine next; (next = nextLine(reader, line)) != NextLine::end;) {
        if (next == NextLine::line) {
            take(line);
            continue;
        }
        std::string_view bytes;
        const Bytes got = nextBytes(input, bytes);
        if (got == Bytes::failed)
            return false;
        feed(reader, got == Bytes::end ? std::string_view{} : prepare(bytes));
    }
    return true;
}
