// WebVTT, as a web player reads a chapters track: a cue a chapter, its text the title. Blocks
// are read as browsers parse them: a block without a timing line (NOTE, STYLE, REGION, the
// header) is no cue, and a timing line after a cue's first lines starts the next cue.
#include "bounds.hpp"
#include "line_reader.hpp"
#include "source.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr std::string_view signature = "WEBVTT";
constexpr std::string_view arrow = "-->";

// The signature, after a UTF-8 byte-order mark if any, then a blank or a line end.
Claim claims(std::string_view head) {
    std::string_view rest;
    const Claim claim = claimsSignature(head, signature, rest);
    // The end of the input cannot be told from a pipe's pause: the signature alone stays open.
    if (claim != Claim::yes || rest.empty())
        return claim == Claim::no ? claim : Claim::undecided;
    const char next = rest.front();
    return next == ' ' || next == '\t' || next == '\n' || next == '\r' ? Claim::yes : Claim::no;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\f';
}

std::string_view skipSpaces(std::string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    return text;
}

enum class Timing { ok, malformed, outOfRange };

struct Digits {
    std::size_t count = 0;
    std::int64_t value = 0;
    bool overflow = false;
};

Digits digits(std::string_view& text) {
    Digits found;
    for (; found.count < text.size() && isDigit(text[found.count]); ++found.count)
        found.overflow = found.overflow || __builtin_mul_overflow(found.value, 10, &found.value) ||
                         __builtin_add_overflow(found.value, text[found.count] - '0', &found.value);
    text.remove_prefix(found.count);
    return found;
}

bool skipped(std::string_view& text, char c) {
    if (!text.starts_with(c))
        return false;
    text.remove_prefix(1);
    return true;
}

// '[H+:]MM:SS.mmm' as browsers read it: a first field that is not two digits below 60 is hours;
// minutes and seconds are two digits below 60, and the milliseconds three digits.
Timing cueTime(std::string_view& text, std::int64_t& milliseconds) {
    Digits hours = digits(text);
    if (hours.count == 0 || !skipped(text, ':'))
        return Timing::malformed;
    Digits minutes = digits(text);
    Digits seconds;
    if (hours.count != 2 || hours.value > 59 || text.starts_with(':')) {
        if (!skipped(text, ':'))
            return Timing::malformed;
        seconds = digits(text);
    } else {
        seconds = minutes;
        minutes = hours;
        hours = {};
    }
    if (minutes.count != 2 || seconds.count != 2 || !skipped(text, '.'))
        return Timing::malformed;
    const Digits fraction = digits(text);
    if (fraction.count != 3 || minutes.value > 59 || seconds.value > 59)
        return Timing::malformed;
    const std::int64_t rest = (minutes.value * 60 + seconds.value) * 1000 + fraction.value;
    return hours.overflow || __builtin_mul_overflow(hours.value, 3600000, &milliseconds) ||
                   __builtin_add_overflow(milliseconds, rest, &milliseconds)
               ? Timing::outOfRange
               : Timing::ok;
}

// 'start --> end', then the cue's settings, which do not matter to a chapter.
Timing cueTiming(std::string_view text, std::int64_t& start, std::int64_t& end) {
    text = skipSpaces(text);
    const Timing first = cueTime(text, start);
    text = skipSpaces(text);
    if (first == Timing::malformed || !text.starts_with(arrow))
        return Timing::malformed;
    text = skipSpaces(text.substr(arrow.size()));
    const Timing second = cueTime(text, end);
    return second == Timing::malformed ? second : first == Timing::ok ? second : first;
}

struct Reader {
    Events& events;
    std::int64_t number = 0;
    bool header = true;     // the signature's block, to its first blank or timing line
    std::int64_t lines = 0; // of the block so far
    std::int64_t firstLine = 0;
    bool named = false; // a NOTE, STYLE or REGION block, which holds no cue
    bool timed = false; // the block had a timing line
    bool cue = false;   // that line was read: the block is a cue
    std::int64_t timingLine = 0;
    std::int64_t start = 0;
    std::string title{}; // the cue text, decoded
    std::int64_t textLines = 0;
    bool inTag = false;                   // the text so far ends inside a tag such as <v Name>
    bool titleTooLong = false;            // past the bound: the cue is skipped
    std::optional<std::int64_t> length{}; // the latest cue end
    bool afterCR = false;                 // the last byte fed was a carriage return
    std::string unified{};                // bytes with their carriage returns made line feeds
};

// The character references a cue's text uses, and HTML's for the invisible marks it needs.
constexpr std::pair<std::string_view, std::string_view> namedReferences[] = {
    {"amp", "&"},
    {"lt", "<"},
    {"gt", ">"},
    {"nbsp", "\xC2\xA0"},
    {"lrm", "\xE2\x80\x8E"},
    {"rlm", "\xE2\x80\x8F"},
    {"quot", "\""},
    {"apos", "'"},
};

// '#DDD;' or '#xHHH;': the character, U+FFFD where it is none.
bool numericReference(std::string_view name, std::string& out) {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    name.remove_prefix(hex ? 2 : 1);
    std::uint32_t value = 0;
    for (const char c : name) {
        const bool digit = isDigit(c);
        const char lower = static_cast<char>(c | 0x20);
        if (!digit && !(hex && lower >= 'a' && lower <= 'f'))
            return false;
        value = std::min<std::uint32_t>(
            value * (hex ? 16 : 10) +
                static_cast<std::uint32_t>(digit ? c - '0' : lower - 'a' + 10),
            0x110000);
    }
    const bool valid = value != 0 && value < 0x110000 && (value < 0xD800 || value > 0xDFFF);
    if (!name.empty())
        appendUtf8(out, valid ? value : replacementCharacter);
    return !name.empty();
}

// The reference that text (at '&') begins, appended to out; its size, 0 where it is none and
// the '&' stands for itself.
std::size_t reference(std::string_view text, std::string& out) {
    constexpr std::size_t longest = 10; // '&#x10FFFF;'
    const std::size_t semicolon = text.substr(0, longest + 1).find(';');
    if (semicolon == std::string_view::npos)
        return 0;
    const std::string_view name = text.substr(1, semicolon - 1);
    if (name.starts_with('#'))
        return numericReference(name, out) ? semicolon + 1 : 0;
    for (const auto& [named, character] : namedReferences) {
        if (name == named) {
            out += character;
            return semicolon + 1;
        }
    }
    return 0;
}

// What the text of a line shows: tags (<b>, <c.x>, <v Name>, <00:01.000>) dropped, character
// references decoded, NUL made U+FFFD as browsers make it.
void appendText(Reader& r, std::string_view line) {
    constexpr std::string_view special("&<\0", 3);
    for (std::size_t at = 0; at < line.size();) {
        if (r.inTag) {
            const std::size_t close = line.find('>', at);
            r.inTag = close == std::string_view::npos;
            at = r.inTag ? line.size() : close + 1;
            continue;
        }
        const std::size_t next = std::min(line.find_first_of(special, at), line.size());
        r.title.append(line, at, next - at);
        if (next == line.size())
            break;
        at = next + 1;
        if (line[next] == '<') {
            r.inTag = true;
        } else if (line[next] == '\0') {
            r.title += replacementUtf8;
        } else if (const std::size_t size = reference(line.substr(next), r.title); size != 0) {
            at = next + size;
        } else {
            r.title += '&';
        }
    }
}

void textLine(Reader& r, const Line& line) {
    if (r.titleTooLong)
        return;
    if (r.textLines++ > 0 && !r.inTag) // a line break inside a tag is part of the tag
        r.title += '\n';
    appendText(r, line.text);
    if (line.tooLong || r.title.size() > maxLineSize) {
        r.titleTooLong = true;
        r.title.clear();
    }
}

void timingLine(Reader& r, const Line& line) {
    r.timed = true;
    r.timingLine = line.number;
    std::int64_t end = 0;
    const Timing timing = cueTiming(line.text, r.start, end);
    r.cue = timing == Timing::ok;
    if (timing != Timing::ok) {
        r.events.note(line.number,
                      timing == Timing::outOfRange
                          ? "chapter time out of range; cue skipped"
                          : "malformed cue timing line (as 00:01:02.500 --> 00:02:00.000); cue "
                            "skipped",
                      true);
    } else if (end < r.start) {
        r.events.note(line.number,
                      "cue ends before it starts; its end is not taken as the part's length",
                      false);
    } else {
        r.length = std::max(r.length.value_or(end), end);
    }
}

bool isNamedBlock(std::string_view line) {
    for (const std::string_view name : {"NOTE", "STYLE", "REGION"})
        if (line.starts_with(name) && (line.size() == name.size() || isSpace(line[name.size()])))
            return true;
    return false;
}

void endBlock(Reader& r) {
    if (r.cue && r.titleTooLong) {
        r.events.note(r.timingLine, titleTooLong() + "; chapter skipped", true);
    } else if (r.cue) {
        ++r.number;
        r.events.chapter({LineKind::time, r.number, r.start, {}}, r.timingLine);
        if (!r.title.empty())
            r.events.chapter({LineKind::name, r.number, 0, r.title}, r.timingLine);
    } else if (!r.timed && r.lines > 0 && !r.named) {
        r.events.note(r.firstLine, "text without a cue timing line (-->); block skipped", true);
    }
    r.lines = r.textLines = 0;
    r.timed = r.cue = r.named = r.inTag = false;
    r.titleTooLong = false;
    r.title.clear();
}

void takeLine(Reader& r, const Line& line) {
    const bool timing = line.text.find(arrow) != std::string_view::npos;
    if (r.header) {
        if (line.number == 1 || (!timing && !line.text.empty()))
            return; // the signature, and the header's lines after it
        r.header = false;
        if (!timing)
            return;
    }
    if (line.text.empty()) {
        endBlock(r);
        return;
    }
    // A timing line as a block's first line, or its second after an identifier; any later one
    // starts a cue of its own.
    if (timing && (r.lines > 1 || r.timed))
        endBlock(r);
    if (++r.lines == 1) {
        r.firstLine = line.number;
        r.named = !timing && isNamedBlock(line.text);
    }
    if (timing)
        timingLine(r, line);
    else if (r.cue)
        textLine(r, line);
}

// Carriage returns end lines as line feeds do; a CR LF is one line end.
std::string_view unifyLineEnds(Reader& r, std::string_view bytes) {
    const bool hasCR = std::memchr(bytes.data(), '\r', bytes.size()) != nullptr;
    if (!hasCR && !(r.afterCR && bytes.starts_with('\n'))) {
        r.afterCR = false;
        return bytes;
    }
    r.unified.clear();
    for (const char c : bytes) {
        if (c != '\n' || !r.afterCR)
            r.unified += c == '\r' ? '\n' : c;
        r.afterCR = c == '\r';
    }
    return r.unified;
}

PartRead read(Input& input, Events& events) {
    Reader r{events};
    if (!readLines(
            input, [&r](const Line& line) { takeLine(r, line); },
            [&r](std::string_view bytes) { return unifyLineEnds(r, bytes); }))
        return readFailed(input, events);
    endBlock(r);
    // The last cue ends where the video does, as a chapters track covers it.
    PartRead read;
    if (r.length)
        read.length = *r.length;
    read.lengthFrom = "the latest end of its cues";
    return read;
}

} // namespace

// A cue's text may run over several lines.
const Source webvttSource{"webvtt", claims, read, "has no cue text", true, "WebVTT file"};
