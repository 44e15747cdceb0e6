// Timestamp lines, as pasted into a video description: '0:00 Intro', '1:02:03 - Part two',
// '[00:01:02.500] Title'. The other lines of a description (its text, links, hashtags) are no
// chapters and are passed over.
#include "bounds.hpp"
#include "line_reader.hpp"
#include "source.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#include <string>

namespace {

enum class Found { no, yes, maybe }; // maybe: the line so far may still become one

struct Stamp {
    std::int64_t time = 0;
    std::int32_t nanoseconds = 0;
    std::string_view title{};
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// Between one and most digits, as a number.
bool digits(std::string_view& text, std::size_t most, std::int64_t& value) {
    std::size_t at = 0;
    value = 0;
    for (; at < text.size() && at <= most && isDigit(text[at]); ++at)
        value = value * 10 + (text[at] - '0');
    if (at == 0 || at > most)
        return false;
    text.remove_prefix(at);
    return true;
}

// Two digits below 60, as minutes and seconds are written after a colon.
bool sixtieths(std::string_view& text, std::int64_t& value) {
    std::string_view rest = text;
    if (!digits(rest, 2, value) || text.size() - rest.size() != 2 || value >= 60)
        return false;
    text = rest;
    return true;
}

// '.' and up to nine digits: milliseconds, and nanoseconds past them.
void fraction(std::string_view& text, Stamp& stamp) {
    std::string_view rest = text.substr(text.starts_with('.') ? 1 : text.size());
    std::int64_t value = 0;
    const std::size_t size = rest.size();
    if (!digits(rest, 9, value))
        return;
    for (std::size_t place = size - rest.size(); place < 9; ++place)
        value *= 10;
    stamp.time += value / 1000000;
    stamp.nanoseconds = static_cast<std::int32_t>(value % 1000000);
    text = rest;
}

// M:SS, MM:SS or H:MM:SS, then an optional fraction.
bool time(std::string_view& text, Stamp& stamp) {
    std::int64_t first = 0;
    std::int64_t second = 0;
    std::int64_t third = 0;
    std::string_view rest = text;
    if (!digits(rest, 6, first) || !rest.starts_with(':'))
        return false;
    rest.remove_prefix(1);
    if (!sixtieths(rest, second))
        return false;
    std::string_view hours = rest.substr(rest.starts_with(':') ? 1 : rest.size());
    const bool withHours = sixtieths(hours, third);
    if (withHours)
        rest = hours;
    stamp.time =
        withHours ? ((first * 60 + second) * 60 + third) * 1000 : (first * 60 + second) * 1000;
    stamp.nanoseconds = 0;
    fraction(rest, stamp);
    text = rest;
    return true;
}

// What people put between the time and the title, each followed by a blank.
std::size_t separatorSize(std::string_view text) {
    for (const std::string_view separator : {"-", "|", ":", "\xE2\x80\x93", "\xE2\x80\x94"}) {
        if (text.starts_with(separator) &&
            (text.size() == separator.size() || isBlank(text[separator.size()])))
            return separator.size();
    }
    return 0;
}

// The title after the time: a blank or a separator must part them, unless a bracket did.
bool title(std::string_view text, bool bracketed, Stamp& stamp) {
    const std::size_t separator = separatorSize(text);
    if (!bracketed && !text.empty() && !isBlank(text.front()) && separator == 0)
        return false;
    text = skipBlanks(text.substr(separator));
    text = skipBlanks(text.substr(separatorSize(text)));
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    stamp.title = text;
    return true;
}

Found timestampLine(std::string_view line, Stamp& stamp) {
    std::string_view text = skipBlanks(line);
    const char close = text.starts_with('[') ? ']' : text.starts_with('(') ? ')' : '\0';
    if (close != '\0')
        text.remove_prefix(1);
    if (!time(text, stamp))
        return text.find_first_not_of("0123456789:.") == std::string_view::npos ? Found::maybe
                                                                                : Found::no;
    if (close != '\0' && !text.starts_with(close))
        return text.empty() ? Found::maybe : Found::no;
    if (close != '\0')
        text.remove_prefix(1);
    return title(text, close != '\0', stamp) ? Found::yes : Found::no;
}

// Whether the line is one that the simple format reads, or may become one.
bool simpleLine(std::string_view line, bool complete) {
    if (!complete && chapterKeyword.starts_with(line))
        return true;
    return parseLine(line).kind != LineKind::other ||
           (!complete && line.starts_with(chapterKeyword));
}

// Claimed where the head holds a timestamp line and no line that the simple format reads.
Claim claimsText(std::string_view head) {
    bool found = false;
    bool maybe = false;
    while (!head.empty()) {
        const std::size_t newline = head.find('\n');
        const bool complete = newline != std::string_view::npos;
        std::string_view line = head.substr(0, newline);
        head.remove_prefix(complete ? newline + 1 : head.size());
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (simpleLine(line, complete))
            return complete ? Claim::no : Claim::undecided;
        Stamp stamp;
        const Found stampFound = timestampLine(line, stamp);
        found = found || stampFound == Found::yes;
        maybe = !complete && stampFound == Found::maybe;
    }
    return found && !maybe ? Claim::yes : Claim::undecided;
}

Claim claims(std::string_view head) {
    if (mayStartByteOrderMark(head))
        return Claim::undecided;
    if (webvttSource.claims(head) == Claim::yes) // its timing lines begin with a time
        return Claim::no;
    const ByteOrderMark mark = byteOrderMarkOf(head);
    head.remove_prefix(mark.size);
    if (mark.encoding == Encoding::utf8)
        return claimsText(head);
    std::string decoded;
    Utf16Decoder decoder{mark.encoding == Encoding::utf16LittleEndian};
    decodeUtf16(decoder, head.substr(0, head.size() & ~std::size_t{1}), decoded);
    return claimsText(decoded);
}

struct Reader {
    Events& events;
    std::int64_t number = 0;
    bool sawChapter = false;
};

void takeLine(Reader& r, const Line& line) {
    Stamp stamp;
    if (timestampLine(line.text, stamp) != Found::yes)
        return;
    r.sawChapter = true;
    if (line.tooLong) {
        r.events.note(line.number, titleTooLong() + "; chapter skipped", true);
        return;
    }
    ++r.number;
    ChapterLine timeLine{LineKind::time, r.number, stamp.time, {}};
    timeLine.nanoseconds = stamp.nanoseconds;
    r.events.chapter(timeLine, line.number);
    if (!stamp.title.empty())
        r.events.chapter({LineKind::name, r.number, 0, stamp.title}, line.number);
}

PartRead read(Input& input, Events& events) {
    Reader r{events};
    if (!readLines(
            input, [&r](const Line& line) { takeLine(r, line); },
            [](std::string_view bytes) { return bytes; }))
        return readFailed(input, events);
    if (!r.sawChapter) // claimed by its head, so only where it was given by name
        events.note(0, "no timestamp lines (0:00 Title)", true);
    return {};
}

} // namespace

// A title is the rest of one line.
const Source timestampsSource{"timestamps", claims, read, "has a time but no title", false, ""};
