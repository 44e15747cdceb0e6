#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest chapter line kept; far above any real title, it bounds memory whatever the input.
constexpr std::size_t maxLineSize = 1024 * 1024;

// Splits the bytes of one input into lines: newline split, every carriage return removed, a
// leading byte-order mark skipped (UTF-16 decoded to UTF-8), and a last line without a newline
// kept. The only code that
// reads input; it owns its buffers, which are reused from one input to the next. A line that
// cannot be a chapter line is not kept past its first bytes, so memory stays flat.
struct LineReader {
    int fd = -1;
    std::vector<char> chunk;
    const char* next = nullptr; // the unread part of what was read
    const char* end = nullptr;
    bool chunkHasCR = false;
    bool started = false; // the start of the input has been looked at
    bool atEnd = false;
    // A UTF-16 input (known by its byte-order mark) is read as its UTF-8 text.
    enum class Encoding { utf8, utf16LittleEndian, utf16BigEndian } encoding = Encoding::utf8;
    std::string decoded;
    int oddByte = -1;                // the first byte of a unit split between reads
    std::uint32_t highSurrogate = 0; // waiting for its low half
    // A line that spans reads: its start without carriage returns, and what is known of it.
    bool spanning = false;
    bool delivered = false; // the spanning line was handed out and is to be forgotten
    std::string pending;
    enum class Kept { whole, prefix, nothing } kept = Kept::whole;
    std::string scratch; // a line of one read without its carriage returns
    std::int64_t lineNumber = 0;
};

enum class LineState {
    whole,
    notChapter, // cannot be a chapter line; the text is only its first bytes
    tooLong,    // a chapter line longer than maxLineSize; the text is empty
};

struct Line {
    std::string_view text; // valid until the next call
    std::int64_t number;   // from 1
    LineState state;
};

void startReading(LineReader& reader, int fd);

enum class NextLine { line, needInput, end };

// The next line from what has been read, or needInput when fill() must read more first.
NextLine nextLine(LineReader& reader, Line& line);

// Reads the next chunk of input. Returns 0, or the errno of a failed read.
int fill(LineReader& reader);
