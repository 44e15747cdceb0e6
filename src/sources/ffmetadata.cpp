// FFmpeg metadata (';FFMETADATA1'), read as ffmpeg reads it: the start and title of each
// [CHAPTER] section.
#include "bounds.hpp"
#include "source.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <string>

namespace {

constexpr std::string_view header = ";FFMETADATA";
// The most of a line kept: a title of maxLineSize bytes, every byte escaped, after its key.
constexpr std::size_t maxRawLineSize = 2 * maxLineSize + 16;

// Where a [CHAPTER] section is: its TIMEBASE=, START= and END= lines come first, in that order.
enum class Slot { timeBase, start, end, tags };
enum class Section { global, stream, chapter };

struct Chapter {
    std::int64_t headerLine = 0; // of its [CHAPTER]
    std::int64_t line = 0;       // of its START=
    bool skipped = false;        // a note has said why
    std::int64_t numerator = 1;
    std::int64_t denominator = 1000000000;
    std::int64_t start = 0; // in the time base
    std::int64_t time = 0;  // milliseconds
    bool titled = false;
    bool titleTooLong = false;
    std::int64_t titleLine = 0;
    std::string title;
};

struct Reader {
    Events& events;
    // The line being read, escapes and all: ffmpeg splits key and value before unescaping.
    std::string line{};
    bool lineTooLong = false;
    std::int64_t lineNumber = 1; // where the line being read starts
    std::int64_t lineEnds = 0;   // CR LF counts once
    char previous = ' ';         // ffmpeg takes a line end after a backslash as escaped
    bool escaping = false;       // the last byte was a backslash that escapes the next one
    Section section = Section::global;
    Slot slot = Slot::tags;
    Chapter chapter{};
    std::int64_t number = 0;
};

enum class Scanned { none, fits, tooBig };

// Reads an integer as sscanf's %d and %lld do: white space, a sign, digits (at least one); the
// rest stays in text.
Scanned scanInteger(std::string_view& text, std::int64_t& value) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    const bool negative = at < text.size() && text[at] == '-';
    at += at < text.size() && (text[at] == '-' || text[at] == '+') ? 1 : 0;
    const std::size_t digits = at;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    // Eighteen digits cannot overflow; only longer numbers need checking.
    const std::size_t unchecked = std::min(text.size(), digits + 18);
    unsigned digit;
    for (; at < unchecked && (digit = static_cast<unsigned char>(text[at]) - '0') <= 9; ++at)
        magnitude = magnitude * 10 + digit;
    for (; at < text.size() && (digit = static_cast<unsigned char>(text[at]) - '0') <= 9; ++at)
        overflow = overflow || __builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                   __builtin_add_overflow(magnitude, digit, &magnitude);
    if (at == digits)
        return Scanned::none;
    text.remove_prefix(at);
    if (overflow || magnitude > std::uint64_t{INT64_MAX} + (negative ? 1 : 0))
        return Scanned::tooBig;
    value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude); // modulo 2^64
    return Scanned::fits;
}

// 'num/den' as ffmpeg's "%d/%d", both positive.
bool readTimeBase(std::string_view text, Chapter& chapter) {
    std::int64_t numerator = 0;
    std::int64_t denominator = 0;
    const auto positiveInt = [](Scanned scanned, std::int64_t value) {
        return scanned == Scanned::fits && value > 0 && value <= INT_MAX;
    };
    const Scanned first = scanInteger(text, numerator);
    if (!positiveInt(first, numerator) || !text.starts_with('/'))
        return false;
    text.remove_prefix(1);
    const Scanned second = scanInteger(text, denominator);
    if (!positiveInt(second, denominator))
        return false;
    chapter.numerator = numerator;
    chapter.denominator = denominator;
    return true;
}

// time * num / den seconds in milliseconds, to the nearest. False when it does not fit.
bool toMilliseconds(const Chapter& chapter, std::int64_t time, std::int64_t& milliseconds) {
    const auto converted = ticksToMilliseconds(time, chapter.numerator, chapter.denominator);
    milliseconds = converted.value_or(0);
    return converted.has_value();
}

void skip(Reader& r, std::int64_t line, std::string_view why) {
    if (r.chapter.skipped)
        return;
    r.chapter.skipped = true;
    r.events.note(line, std::string(why) + "; chapter skipped", true);
}

void readStart(Reader& r, std::string_view text) {
    Chapter& chapter = r.chapter;
    text.remove_prefix(text.starts_with("START=") ? 6 : text.size());
    const Scanned start = scanInteger(text, chapter.start);
    chapter.line = r.lineNumber;
    r.slot = start == Scanned::none ? Slot::tags : Slot::end;
    if (start == Scanned::none)
        skip(r, r.lineNumber, "no START= line after [CHAPTER]");
    else if (start == Scanned::tooBig || !toMilliseconds(chapter, chapter.start, chapter.time))
        skip(r, r.lineNumber, "chapter time out of range");
}

void readEnd(Reader& r, std::string_view text) {
    r.slot = Slot::tags;
    text.remove_prefix(text.starts_with("END=") ? 4 : text.size());
    std::int64_t end = 0;
    const Scanned scanned = scanInteger(text, end);
    if (scanned != Scanned::fits)
        skip(r, r.lineNumber,
             scanned == Scanned::none ? "no END= line after START=" : "chapter end out of range");
    else if (end < r.chapter.start)
        skip(r, r.lineNumber, "END= before START=, which ffmpeg refuses");
}

// The TIMEBASE=, START= and END= lines of a section, taken in order as ffmpeg takes them: a
// line where one is missing is used up all the same.
void headerLine(Reader& r, std::string_view text) {
    if (r.slot == Slot::timeBase) {
        r.slot = Slot::start;
        if (text.starts_with("TIMEBASE=")) {
            if (!readTimeBase(text.substr(9), r.chapter))
                skip(r, r.lineNumber, "TIMEBASE is not two positive integers (as 1/1000)");
            return;
        }
    }
    if (r.slot == Slot::start)
        readStart(r, text);
    else
        readEnd(r, text);
}

void endChapter(Reader& r) {
    if (r.section != Section::chapter)
        return;
    Chapter& chapter = r.chapter;
    if (r.slot != Slot::tags) // the input ended in the section's first lines
        skip(r, chapter.headerLine,
             r.slot == Slot::end ? "no END= line after START=" : "no START= line after [CHAPTER]");
    if (chapter.skipped)
        return;
    if (chapter.titleTooLong) {
        r.events.note(chapter.titleLine, titleTooLong() + "; chapter skipped", true);
        return;
    }
    ++r.number;
    r.events.chapter({LineKind::time, r.number, chapter.time, {}}, chapter.line);
    if (chapter.titled)
        r.events.chapter({LineKind::name, r.number, 0, chapter.title}, chapter.line);
}

void beginChapter(Reader& r) {
    endChapter(r);
    std::string title = std::move(r.chapter.title); // keeps its room for the next title
    title.clear();
    r.chapter = Chapter{};
    r.chapter.title = std::move(title);
    r.chapter.headerLine = r.lineNumber;
    r.section = Section::chapter;
    r.slot = Slot::timeBase;
}

// Appends text without its escaping backslashes.
void unescape(std::string_view text, std::string& out) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t escape = std::min(text.find('\\', at), text.size());
        out.append(text, at, escape - at);
        if (escape + 1 < text.size())
            out += text[escape + 1];
        at = escape + 2;
    }
}

// Where the key ends: the first '=' not escaped.
std::size_t keyEnd(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '=')
            return at;
        at += text[at] == '\\' ? 1 : 0;
    }
    return std::string_view::npos;
}

bool isTitleKey(std::string_view key) {
    constexpr std::string_view title = "title";
    if (key.size() > 2 * title.size()) // every letter escaped
        return false;
    std::string unescaped;
    unescape(key, unescaped);
    return unescaped.size() == title.size() &&
           std::equal(title.begin(), title.end(), unescaped.begin(),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
}

// A tag of a chapter: its title is the tag 'title', its key in any case; the last one counts.
void tag(Reader& r, std::string_view text) {
    const std::size_t equals = keyEnd(text);
    if (equals == std::string_view::npos || !isTitleKey(text.substr(0, equals)))
        return;
    Chapter& chapter = r.chapter;
    chapter.titled = true;
    chapter.titleLine = r.lineNumber;
    chapter.title.clear();
    chapter.titleTooLong = r.lineTooLong;
    if (!r.lineTooLong)
        unescape(text.substr(equals + 1), chapter.title);
    chapter.titleTooLong = chapter.titleTooLong || chapter.title.size() > maxLineSize;
}

void takeLine(Reader& r, std::string_view text) {
    if (text.empty() || text[0] == ';' || text[0] == '#')
        return; // ffmpeg skips comments everywhere, also among a section's first lines
    if (r.section == Section::chapter && r.slot != Slot::tags) {
        headerLine(r, text);
    } else if (text.starts_with("[CHAPTER]")) {
        beginChapter(r);
    } else if (text.starts_with("[STREAM]")) {
        endChapter(r);
        r.section = Section::stream;
    } else if (r.section == Section::chapter && !r.chapter.skipped) {
        tag(r, text);
    }
}

void finishLine(Reader& r) {
    // ffmpeg reads the line as a C string: an escaped NUL ends it.
    takeLine(r, {r.line.data(), std::min(r.line.find('\0'), r.line.size())});
    r.line.clear();
    r.lineTooLong = false;
    r.lineNumber = r.lineEnds + 1;
}

void keep(Reader& r, std::string_view bytes) {
    const std::size_t room = maxRawLineSize - std::min(r.line.size(), maxRawLineSize);
    r.lineTooLong = r.lineTooLong || bytes.size() > room;
    r.line.append(bytes.substr(0, room));
}

// A backslash, LF, CR or NUL. A line ends at LF, CR or NUL unless a backslash escapes it. An
// escaped backslash before a line end is the title's last character, as ffmpeg's writer means
// it; ffmpeg's own reader takes the line as going on.
void special(Reader& r, char c) {
    const bool lineEnd = c != '\\';
    if (lineEnd && (c != '\n' || r.previous != '\r'))
        ++r.lineEnds;
    if (lineEnd && !r.escaping)
        finishLine(r);
    else
        keep(r, {&c, 1});
    r.escaping = c == '\\' && !r.escaping;
    r.previous = c;
}

constexpr auto isSpecial = [] {
    std::array<bool, 256> special{};
    for (const char c : std::string_view("\\\n\r\0", 4))
        special[static_cast<unsigned char>(c)] = true;
    return special;
}();

void feed(Reader& r, std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = at;
        while (end < bytes.size() && !isSpecial[static_cast<unsigned char>(bytes[end])])
            ++end;
        if (end != at) {
            keep(r, bytes.substr(at, end - at));
            r.previous = bytes[end - 1];
            r.escaping = false;
        }
        if (end == bytes.size())
            break;
        special(r, bytes[end]);
        at = end + 1;
    }
}

PartRead read(Input& input, Events& events) {
    Reader r{events};
    for (bool first = true;; first = false) {
        std::string_view bytes;
        const Bytes got = nextBytes(input, bytes);
        if (got == Bytes::failed)
            return readFailed(input, events);
        if (got == Bytes::end)
            break;
        if (first) // claimed, so a UTF-8 mark if any
            bytes.remove_prefix(byteOrderMarkOf(bytes).size);
        feed(r, bytes);
    }
    finishLine(r); // a last line without a line end counts
    endChapter(r);
    return {};
}

Claim claims(std::string_view head) {
    std::string_view rest;
    return claimsSignature(head, header, rest);
}

} // namespace

const Source ffmetadataSource{"ffmetadata", claims, read, "has no title", true, ""};
