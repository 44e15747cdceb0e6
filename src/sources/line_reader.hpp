#pragma once

#include "utf.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The longest line kept; far above any real title, it bounds memory whatever the input.
constexpr std::size_t maxLineSize = 1024 * 1024;

// Splits the bytes of one input into lines: newline split, every carriage return removed, a
// leading byte-order mark skipped (UTF-16 decoded to UTF-8), and a last line without a newline
// kept. Only lines that begin with the keyword its source gives are kept whole; of the others it
// keeps only enough to tell whether they are blank, so memory stays flat.
struct LineReader {
    std::string_view keyword;
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
    enum class Kept { whole, fromFirstNonBlank, nothing } kept = Kept::whole;
    std::string scratch; // a line of one piece without its carriage returns
    std::int64_t lineNumber = 0;
};

struct Line {
    std::string_view text; // valid until the next call; of a line not kept, what is left of it
    std::int64_t number;   // from 1
    bool tooLong;          // a line with the keyword longer than maxLineSize; the text is empty
};

void startReading(LineReader& reader, std::string_view keyword);

enum class NextLine { line, needInput, end };

// The next line from what has been fed, or needInput when feed() must give more first.
NextLine nextLine(LineReader& reader, Line& line);

// Gives the reader the input's next bytes, which must stay valid until it asks for more; empty
// bytes: the input has ended.
void feed(LineReader& reader, std::string_view bytes);
