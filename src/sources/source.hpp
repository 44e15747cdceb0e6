#pragma once
// What every input format implements: a source reads one input and hands its chapters on.

#include "chapter_line.hpp"
#include "exact_time.hpp"
#include "join.hpp"
#include "ranges.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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
    Join join = Join::ffmpeg;  // the tool that joins the parts, which decides where they start
    // What the run keeps of the part (sorted, apart); empty: all of it.
    std::span<const TimeRange> kept{};
    // The part starts the joined file: ffmpeg starts it at the first packet before its inpoint.
    bool opensOutput = false;
};

// Reads the start of the input into the buffer for detection: as much as one read gives, and
// with more, as much again, up to a bound. Returns false on a read error (input.error).
bool startInput(Input& input);
bool readMoreHead(Input& input);

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
    // Where the joining tool starts the input in its own time, and where it ends it (its own
    // length), where the input knows them; said before its chapters, which are placed by them.
    virtual void ownExtent(ExactTime /*start*/, ExactTime /*length*/) {}
    // Where the joining tool really cuts the kept ranges (a stream copy starts at a keyframe),
    // in the same order; said before the chapters by a source that knows.
    virtual void cutAt(std::span<const TimeRange> /*actual*/) {}

  protected:
    ~Events() = default;
};

struct PartRead {
    bool stop = false;               // the run must end here (the source has said why)
    std::optional<ExactTime> length; // the part's own length, where the input knows it
    std::string title{};             // its title, where it is media that has one
    // Where a text input's length comes from, for --verbose; media give the joining tool's rule.
    std::string_view lengthFrom{};
};

// Whether a format claims an input by its first bytes; undecided: they begin what the format
// begins with, and more bytes decide.
enum class Claim { no, yes, undecided };

// One input format: a row in the table that detection walks.
struct Source {
    std::string_view name;
    Claim (*claims)(std::string_view head);
    // Reads the input to its end.
    PartRead (*read)(Input& input, Events& events);
    // How messages say that a chapter has no title, in the format's own words.
    std::string_view untitled;
    bool titlesMayBreak; // its titles may hold line breaks
    // What a part of this format is called where it gave no chapter and the run says so; empty
    // where the source says it itself.
    std::string_view emptyPart;
    bool media = false; // a container that a joining tool reads itself
};

// How a format whose inputs begin with signature (after a UTF-8 byte-order mark, if any) claims
// head: undecided while head is a beginning of them. rest: what follows the signature.
Claim claimsSignature(std::string_view head, std::string_view signature, std::string_view& rest);

// The first source of the table that claims the input, reading more of it while a row before
// it cannot yet decide (an undecided row at the end of the input or of the head's bound does not
// claim it); the simple format claims everything. None on a read error (input.error).
const Source* detect(Input& input);

// What claimsText says of head's text, decoded first where a UTF-16 byte-order mark begins it.
Claim claimsDecoded(std::string_view head, Claim (*claimsText)(std::string_view text));

// Says why reading stopped (a read error names the system's reason) and stops the run.
PartRead readFailed(const Input& input, Events& events);

// The formats, one file each.
extern const Source ffmetadataSource;  // ';FFMETADATA1' files
extern const Source matroskaSource;    // Matroska chapters XML
extern const Source webvttSource;      // WebVTT cues, as a chapters track
extern const Source mediaSource;       // containers libavformat reads
extern const Source cueSource;         // CUE sheets
extern const Source timestampsSource;  // '0:00 Title' lines, as in a video description
extern const Source podcastJsonSource; // Podcasting 2.0 JSON chapters
extern const Source simpleSource;      // CHAPTERnn= lines
