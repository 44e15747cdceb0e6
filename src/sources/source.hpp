#pragma once
// What every input format implements: a source reads one input and hands its chapters on.

#include "chapter_line.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Output;

// One input, open for reading.
struct Input {
    int fd;
    std::string_view name;     // for messages: the file name, or "standard input"
    std::string_view path;     // to open the file again by name; empty for standard input
    std::vector<char>& buffer; // reused from input to input
    Output& output;            // flushed before each read, so interactive input is answered
    std::string_view head{};   // what detection read and no source has taken yet
    bool ended = false;        // the input has no more bytes
    int error = 0;             // errno of a failed read
};

// Reads the start of the input into the buffer for detection: at least enough for a byte-order
// mark, and as much as one read gives. Returns false on a read error (input.error).
bool startInput(Input& input);

enum class Bytes { some, end, failed };

// The input's next bytes: the head first, then one read at a time; valid until the next call.
// failed: a read failed (input.error) or the output did (already reported; input.error is 0).
Bytes nextBytes(Input& input, std::string_view& bytes);

// Where a source hands what it reads, in input order.
struct Events {
    // A time or name line, or a line the source could not take (LineKind badTime, ...), with its
    // place in the input (a line number from 1).
    virtual void chapter(const ChapterLine& line, std::int64_t lineNumber) = 0;
    // Anything else the source has to say about the input; lineNumber 0 where it is about the
    // input as a whole. fails: the run's exit status becomes 1.
    virtual void note(std::int64_t lineNumber, std::string_view message, bool fails) = 0;
    // The input's own length, where it holds one, said before its chapters: a chapter that does
    // not start before it is said to.
    virtual void ownLength(std::int64_t) {}

  protected:
    ~Events() = default;
};

struct PartRead {
    bool stop = false;                  // the run must end here (the source has said why)
    std::optional<std::int64_t> length; // the part's own length, where the input knows it
};

// One input format: a row in the table that detection walks.
struct Source {
    std::string_view name;
    // Whether this format claims an input that starts with these bytes.
    bool (*claims)(std::string_view head);
    // Reads the input to its end.
    PartRead (*read)(Input& input, Events& events);
};

// The first source of the table that claims the input; the simple format claims everything.
const Source& detect(std::string_view head);

// Says why reading stopped (a read error names the system's reason) and stops the run.
PartRead readFailed(const Input& input, Events& events);

// The formats, one file each.
extern const Source ffmetadataSource; // ';FFMETADATA1' files
extern const Source matroskaSource;   // Matroska chapters XML
extern const Source mediaSource;      // containers libavformat reads
extern const Source simpleSource;     // CHAPTERnn= lines

// Reads all of a small input, such as a list of files, into text. Returns 0, or the errno.
int readAll(int fd, std::string& text);
