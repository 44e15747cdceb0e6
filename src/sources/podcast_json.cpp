// Podcasting 2.0 JSON chapters, as podcast feeds link them: {"version": "1.2.0", "chapters":
// [{"startTime": 94.5, "title": "..."}]}, read with rapidjson's SAX reader as the bytes come.
#include "bounds.hpp"
#include "source.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Chapter lists nest four deep; the bound keeps rapidjson's recursion short.
constexpr std::size_t maxDepth = 256;
// The dropped fields a warning names; it mentions others.
constexpr std::size_t maxNamed = 16;
constexpr std::size_t maxNameSize = 40;

// What the file's top level may hold besides its chapters.
constexpr std::string_view topKeys[] = {"version",     "chapters",    "author",   "title",
                                        "podcastName", "description", "fileName", "waypoints"};

// The input as rapidjson takes it: nextBytes' pieces one after the other, lines counted as they
// pass. rapidjson holds a whole string or number, so the bytes since its last value are bounded.
struct Stream {
    using Ch = char;
    Input& input;
    const char* begin = nullptr;
    const char* at = nullptr;
    const char* end = nullptr;
    std::size_t before = 0;        // bytes of the pieces before this one
    std::size_t lastValue = 0;     // where rapidjson last handed something on
    const char* counted = nullptr; // lines are counted up to here in this piece
    std::int64_t line = 1;
    std::size_t lineStart = 0; // where the line begins
    bool done = false;
    bool failed = false;  // a read failed
    bool tooLong = false; // a value ran past the bound

    // The hot path: one compare a byte, the read behind it out of line.
    [[gnu::always_inline]] Ch Peek() { return at != end || more() ? *at : '\0'; }
    [[gnu::always_inline]] Ch Take() { return at != end || more() ? *at++ : '\0'; }
    std::size_t Tell() const { return before + static_cast<std::size_t>(at - begin); }
    // Only in-place parsing writes; this reader never asks for it.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

    void countTo(const char* to) {
        line += std::count(counted, to, '\n');
        counted = to;
    }

    [[gnu::noinline]] bool more() {
        if (done)
            return false;
        countTo(end);
        const void* const newline =
            begin == end ? nullptr : memrchr(begin, '\n', static_cast<std::size_t>(end - begin));
        if (newline)
            lineStart =
                before + static_cast<std::size_t>(static_cast<const char*>(newline) + 1 - begin);
        before += static_cast<std::size_t>(end - begin);
        std::string_view bytes;
        tooLong = before - lastValue > maxLineSize;
        const Bytes got = tooLong ? Bytes::end : nextBytes(input, bytes);
        failed = got == Bytes::failed;
        done = got != Bytes::some;
        if (before == 0 && bytes.starts_with("\xEF\xBB\xBF")) { // claimed, so UTF-8's if any
            bytes.remove_prefix(3);
            before = lineStart = 3;
        }
        begin = at = counted = bytes.data();
        end = begin + bytes.size();
        return !done;
    }

    // The line and column of a place in this piece, or of the piece's start where it was before.
    std::int64_t lineAt(std::size_t offset) {
        if (offset >= before && offset <= Tell())
            countTo(begin + (offset - before));
        return line;
    }
    std::size_t columnAt(std::size_t offset) const {
        if (offset < before || offset > Tell())
            return 0;
        const std::size_t size = offset - before;
        const void* const newline = size == 0 ? nullptr : memrchr(begin, '\n', size);
        const std::size_t start =
            newline
                ? before + static_cast<std::size_t>(static_cast<const char*>(newline) + 1 - begin)
                : lineStart;
        return offset - start + 1;
    }
};

enum class Field : unsigned char { none, chapters, startTime, title, toc, other };

// The chapter object being read, held to its end: its fields come in any order.
struct Pending {
    std::int64_t line = 0;
    std::string problem; // why it is skipped
    bool timed = false;
    std::int64_t time = 0;
    std::int32_t nanoseconds = 0;
    bool titled = false;
    bool untitledNote = false; // a title that is not a string
    bool silent = false;       // toc false
    std::string title;
};

// The names of dropped fields, for the warning.
struct Names {
    std::vector<std::string> named;
    bool others = false; // past the bound, too long or not printable
};

void add(Names& names, std::string_view name) {
    for (const std::string& known : names.named)
        if (known == name)
            return;
    const bool printable =
        std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (names.named.size() < maxNamed && printable && name.size() <= maxNameSize)
        names.named.emplace_back(name);
    else
        names.others = true;
}

std::string listed(const Names& names) {
    std::string text;
    for (const std::string& name : names.named)
        text += (text.empty() ? "" : ", ") + name;
    if (names.others)
        text += text.empty() ? "fields" : " and others";
    return text;
}

struct Reader {
    Events& events;
    Stream& stream;
    std::size_t depth = 0;
    bool inChapters = false;  // the chapters array is open, at depth 2
    bool chapterOpen = false; // a chapter object is, at depth 3
    bool sawChapters = false;
    Field key = Field::none; // the key whose value comes next, at depth 1 or 3
    Pending chapter{};
    std::int64_t number = 0;
    Names chapterFields{};
    Names fileFields{};
    long silent = 0;
    bool stopped = false; // reading was stopped and said why
};

bool inChapter(const Reader& r) {
    return r.depth == 3 && r.chapterOpen;
}

void note(Reader& r, std::string_view message, bool fails = true) {
    r.events.note(r.stream.lineAt(r.stream.Tell()), message, fails);
}

enum class Kind { object, array, string, number, boolean, null };

std::string_view kindName(Kind kind) {
    constexpr std::array<std::string_view, 6> names = {"an object", "an array",      "a string",
                                                       "a number",  "true or false", "null"};
    return names[static_cast<std::size_t>(kind)];
}

// A chapter's field, by its value's kind; the values themselves are taken by the handlers.
void field(Reader& r, Kind kind) {
    Pending& c = r.chapter;
    if (r.key == Field::startTime && kind != Kind::number)
        c.problem = "startTime is " + std::string(kindName(kind)) + ", not a number";
    if (r.key == Field::title && kind != Kind::string) {
        c.titled = false;
        c.untitledNote = true;
    }
    if (r.key == Field::toc && kind != Kind::boolean)
        add(r.chapterFields, "toc");
}

// Where any value begins: what it is depends on where it stands.
void value(Reader& r, Kind kind) {
    if (r.depth == 1 && r.key == Field::chapters && kind != Kind::array)
        note(r, "chapters is " + std::string(kindName(kind)) + ", not an array of chapters");
    else if (r.depth == 2 && r.inChapters && kind != Kind::object)
        note(r, "a chapter that is " + std::string(kindName(kind)) + ", not an object; skipped");
    else if (inChapter(r))
        field(r, kind);
}

bool open(Reader& r, Kind kind) {
    r.stream.lastValue = r.stream.Tell();
    if (r.depth == maxDepth) {
        note(r, "values nested more than " + std::to_string(maxDepth) +
                    " deep; the rest of the file is skipped");
        r.stopped = true;
        return false;
    }
    value(r, kind);
    if (r.depth == 2 && r.inChapters && kind == Kind::object) {
        Pending& c = r.chapter; // its strings keep their room for the next chapter
        c.line = r.stream.lineAt(r.stream.Tell());
        c.problem.clear();
        c.timed = c.titled = c.untitledNote = c.silent = false;
        c.title.clear();
        r.chapterOpen = true;
    }
    if (r.depth == 1 && r.key == Field::chapters && kind == Kind::array)
        r.inChapters = r.sawChapters = true;
    ++r.depth;
    return true;
}

// Passes on the chapter just ended, or says why not.
void keep(Reader& r) {
    const Pending& c = r.chapter;
    if (c.silent) {
        ++r.silent;
        return;
    }
    const std::string problem = !c.problem.empty()             ? c.problem
                                : !c.timed                     ? std::string("no startTime")
                                : c.title.size() > maxLineSize ? titleTooLong()
                                                               : std::string();
    if (!problem.empty()) {
        r.events.note(c.line, problem + "; chapter skipped", true);
        return;
    }
    if (c.untitledNote)
        r.events.note(c.line, "title is not a string; the chapter is kept without one", false);
    ++r.number;
    ChapterLine timeLine{LineKind::time, r.number, c.time, {}};
    timeLine.nanoseconds = c.nanoseconds;
    r.events.chapter(timeLine, c.line);
    if (c.titled)
        r.events.chapter({LineKind::name, r.number, 0, c.title}, c.line);
}

bool close(Reader& r) {
    r.stream.lastValue = r.stream.Tell();
    --r.depth;
    if (r.depth == 2 && r.chapterOpen) {
        r.chapterOpen = false;
        keep(r);
    }
    if (r.depth == 1 && r.inChapters)
        r.inChapters = false;
    if (r.depth == 1 || r.depth == 3)
        r.key = Field::none;
    return true;
}

Field classify(Reader& r, std::string_view name) {
    if (r.depth == 1) {
        if (name == "chapters")
            return Field::chapters;
        if (name != "version")
            add(r.fileFields, name);
        return Field::other;
    }
    if (!inChapter(r))
        return Field::none;
    if (name == "startTime")
        return Field::startTime;
    if (name == "title")
        return Field::title;
    if (name == "toc")
        return Field::toc;
    add(r.chapterFields, name);
    return Field::other;
}

// startTime's digits, exactly: seconds with any decimals and exponent, as JSON writes numbers.
struct Seconds {
    std::int64_t milliseconds = 0;
    std::int32_t nanoseconds = 0; // past them; digits past the nanoseconds are dropped
};

constexpr long mostSeconds = 16; // 10^16 s is past the 64-bit milliseconds
constexpr long fewestSeconds = -9;
constexpr auto powersOfTen = [] {
    std::array<Int128, mostSeconds - fewestSeconds + 1> powers{};
    Int128 power = 1;
    for (Int128& p : powers) {
        p = power;
        power *= 10;
    }
    return powers;
}();

// The exponent, saturated far past any time's.
long exponentOf(std::string_view digits) {
    const bool negative = digits.starts_with('-');
    digits.remove_prefix(negative || digits.starts_with('+') ? 1 : 0);
    long exponent = 0;
    for (const char c : digits)
        exponent = std::min(exponent * 10 + (c - '0'), 100000L);
    return negative ? -exponent : exponent;
}

// The number's text as rapidjson checked it; an empty problem where it is a time. One pass: a
// search a character set calls memchr for every byte.
std::string_view secondsOf(std::string_view text, Seconds& seconds) {
    const bool negative = text.starts_with('-');
    const std::string_view number = text.substr(negative ? 1 : 0);
    std::size_t exponentAt = number.size();
    std::size_t point = std::string_view::npos;
    bool zero = true;
    for (std::size_t at = 0; at < number.size() && exponentAt == number.size(); ++at) {
        const char c = number[at];
        if (c == 'N' || c == 'I') // NaN and Infinity, as Python writes them
            return "startTime is not a finite number";
        exponentAt = c == 'e' || c == 'E' ? at : exponentAt;
        point = c == '.' ? at : point;
        zero = zero && (c == '0' || c == '.' || at == exponentAt);
    }
    if (negative && !zero)
        return "startTime is negative";
    const long exponent = exponentOf(number.substr(std::min(exponentAt + 1, number.size())));
    Int128 nanoseconds = 0;
    // Of the first digit, as a power of 10.
    long place = static_cast<long>(std::min(point, exponentAt)) - 1 + exponent;
    for (const char c : number.substr(0, exponentAt)) {
        if (c == '.')
            continue;
        if (c != '0' && place > mostSeconds)
            return "startTime is out of range";
        if (place >= fewestSeconds && place <= mostSeconds)
            nanoseconds += (c - '0') * powersOfTen[static_cast<std::size_t>(place - fewestSeconds)];
        --place;
    }
    if (nanoseconds / 1000000 > INT64_MAX)
        return "startTime is out of range";
    seconds.milliseconds = static_cast<std::int64_t>(nanoseconds / 1000000);
    seconds.nanoseconds = static_cast<std::int32_t>(nanoseconds % 1000000);
    return {};
}

// rapidjson's handler: every value of the document, in order.
struct Handler {
    Reader& r;

    bool scalar(Kind kind) {
        r.stream.lastValue = r.stream.Tell();
        value(r, kind);
        if (r.depth == 1 || r.depth == 3)
            r.key = Field::none;
        return true;
    }
    bool Null() { return scalar(Kind::null); }
    bool Bool(bool b) {
        if (inChapter(r) && r.key == Field::toc)
            r.chapter.silent = !b;
        return scalar(Kind::boolean);
    }
    // Numbers come as their text (kParseNumbersAsStringsFlag), never through a double.
    bool RawNumber(const char* text, rapidjson::SizeType size, bool) {
        if (inChapter(r) && r.key == Field::startTime) {
            Seconds seconds;
            r.chapter.problem = secondsOf({text, size}, seconds);
            r.chapter.timed = true;
            r.chapter.time = seconds.milliseconds;
            r.chapter.nanoseconds = seconds.nanoseconds;
        }
        return scalar(Kind::number);
    }
    bool String(const char* text, rapidjson::SizeType size, bool) {
        if (inChapter(r) && r.key == Field::title) {
            r.chapter.titled = true;
            r.chapter.untitledNote = false;
            r.chapter.title.assign(text, size);
        }
        return scalar(Kind::string);
    }
    bool StartObject() { return open(r, Kind::object); }
    bool Key(const char* text, rapidjson::SizeType size, bool) {
        r.stream.lastValue = r.stream.Tell();
        r.key = classify(r, {text, size});
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return close(r); }
    bool StartArray() { return open(r, Kind::array); }
    bool EndArray(rapidjson::SizeType) { return close(r); }
    // Not called with numbers taken as text.
    bool Int(int) { return scalar(Kind::number); }
    bool Uint(unsigned) { return scalar(Kind::number); }
    bool Int64(std::int64_t) { return scalar(Kind::number); }
    bool Uint64(std::uint64_t) { return scalar(Kind::number); }
    bool Double(double) { return scalar(Kind::number); }
};

// Says why the document ended early, where it did.
void fault(Reader& r, const rapidjson::ParseResult& result) {
    Stream& s = r.stream;
    if (s.tooLong) {
        note(r, "a string, number or run of blanks longer than " + sizeText(maxLineSize) +
                    "; the rest of the file is skipped");
        return;
    }
    const std::int64_t line = s.lineAt(result.Offset());
    const std::size_t column = s.columnAt(result.Offset());
    std::string reason = rapidjson::GetParseError_En(result.Code());
    if (reason.ends_with('.'))
        reason.pop_back();
    r.events.note(line,
                  "JSON error (column " + std::to_string(column) + "): " + reason +
                      "; the rest of the file is skipped",
                  true);
}

// One warning for all that was dropped, after the chapters.
void sayDropped(const Reader& r) {
    std::string dropped;
    if (!r.chapterFields.named.empty() || r.chapterFields.others)
        dropped += "the chapters' " + listed(r.chapterFields);
    if (!r.fileFields.named.empty() || r.fileFields.others)
        dropped += (dropped.empty() ? "" : "; ") + ("the file's " + listed(r.fileFields));
    if (r.silent != 0)
        dropped += (dropped.empty() ? "" : "; ") + std::to_string(r.silent) +
                   (r.silent == 1 ? " chapter" : " chapters") + " with toc false";
    if (!dropped.empty())
        r.events.note(0, "dropped what a joined list cannot keep: " + dropped, false);
}

PartRead read(Input& input, Events& events) {
    Stream stream{input};
    Reader r{events, stream};
    Handler handler{r};
    rapidjson::Reader parser;
    const rapidjson::ParseResult result =
        parser.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseNanAndInfFlag>(
            stream, handler);
    if (stream.failed)
        return readFailed(input, events);
    if (!result && !r.stopped)
        fault(r, result);
    if (result && !r.sawChapters)
        events.note(0, "no chapters array", true);
    sayDropped(r);
    return {};
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether a line of text may be one that the simple format reads: CHAPTER at its start, carriage
// returns aside, as its line reader drops them. Undecided where the last line may become one.
Claim simpleLineIn(std::string_view text) {
    for (std::size_t start = 0; start < text.size();) {
        std::size_t at = start;
        std::size_t matched = 0;
        for (; at < text.size() && matched < chapterKeyword.size(); ++at) {
            if (text[at] == '\r')
                continue;
            if (text[at] != chapterKeyword[matched])
                break;
            ++matched;
        }
        if (matched == chapterKeyword.size())
            return Claim::yes;
        if (at == text.size())
            return Claim::undecided;
        const std::size_t newline = text.find('\n', at);
        start = newline == std::string_view::npos ? text.size() : newline + 1;
    }
    return Claim::no;
}

// An object whose first key is one of the format's, in UTF-8, and no line the simple format
// reads: a simple-format file that begins with '{' stays the simple format's.
Claim claims(std::string_view head) {
    if (mayStartByteOrderMark(head))
        return Claim::undecided;
    const ByteOrderMark mark = byteOrderMarkOf(head);
    if (mark.encoding != Encoding::utf8)
        return Claim::no;
    std::string_view text = head.substr(mark.size);
    const auto skipBlanks = [&text] {
        while (!text.empty() && isBlank(text.front()))
            text.remove_prefix(1);
    };
    skipBlanks();
    if (text.empty() || text.front() != '{')
        return text.empty() ? Claim::undecided : Claim::no;
    text.remove_prefix(1);
    skipBlanks();
    if (text.empty() || text.front() != '"')
        return text.empty() ? Claim::undecided : Claim::no;
    const std::size_t close = text.find('"', 1);
    if (close == std::string_view::npos)
        return text.find('\\') == std::string_view::npos ? Claim::undecided : Claim::no;
    if (std::find(std::begin(topKeys), std::end(topKeys), text.substr(1, close - 1)) ==
        std::end(topKeys))
        return Claim::no;
    const Claim simple = simpleLineIn(head.substr(mark.size));
    return simple == Claim::yes ? Claim::no : simple == Claim::no ? Claim::yes : Claim::undecided;
}

} // namespace

// A title is a JSON string, which may hold line breaks.
const Source podcastJsonSource{"podcast-json", claims, read, "has no title", true, ""};
