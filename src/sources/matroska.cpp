// Matroska chapters XML, as mkvextract writes it, read with expat: the chapters of the edition a
// player shows.
#include "bounds.hpp"
#include "source.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

// Bounds that keep expat's memory flat whatever the document: it holds an unfinished piece of
// markup whole, keeps every element and attribute name it meets, and a tag per open element.
constexpr std::size_t maxMarkupSize = maxLineSize;
constexpr std::size_t maxDepth = 1000;
constexpr std::size_t maxNames = 256;
constexpr std::size_t maxNameSize = 256;
constexpr std::size_t maxFlagSize = 64;
// A pipe's document is held, up to this, so that it can be read twice like a file.
constexpr std::size_t maxHeldSize = 16 * 1024 * 1024;

// What an element means here, known from its name and its parent's meaning.
enum class Element : unsigned char {
    other,
    chapters,
    edition,
    editionDefault,
    editionOrdered,
    atom,
    timeStart,
    hidden,
    enabled,
    segment,
    display,
    string,
};

struct Child {
    Element parent;
    std::string_view name;
    Element element;
};

constexpr Child children[] = {
    {Element::chapters, "EditionEntry", Element::edition},
    {Element::edition, "EditionFlagDefault", Element::editionDefault},
    {Element::edition, "EditionFlagOrdered", Element::editionOrdered},
    {Element::edition, "ChapterAtom", Element::atom},
    {Element::atom, "ChapterTimeStart", Element::timeStart},
    {Element::atom, "ChapterFlagHidden", Element::hidden},
    {Element::atom, "ChapterFlagEnabled", Element::enabled},
    {Element::atom, "ChapterSegmentUID", Element::segment},
    {Element::atom, "ChapterDisplay", Element::display},
    {Element::atom, "ChapterAtom", Element::atom},
    {Element::display, "ChapterString", Element::string},
};

Element classify(Element parent, std::string_view name) {
    for (const Child& child : children)
        if (child.parent == parent && child.name == name)
            return child.element;
    return Element::other;
}

// Which edition to read. A regular file is read twice, first to find the edition a player shows
// (the first with EditionFlagDefault 1, else the first); a pipe is held and read twice too, or
// past a bound read once, taking the first.
struct Choice {
    bool known = false;
    long edition = 0;
    bool ordered = false; // that edition has ordered chapters
};

// The ChapterAtom being read, held until it ends: a flag or a ChapterSegmentUID may come last.
struct Atom {
    std::int64_t line = 0;
    std::int64_t timeLine = 0; // of its ChapterTimeStart; 0 without one
    TimeStatus timeStatus = TimeStatus::ok;
    std::int64_t time = 0;
    bool hidden = false;
    bool disabled = false;
    long displays = 0;
    bool titled = false;
    bool titleTooLong = false;
    std::string title;
};

struct Reader {
    XML_Parser parser = nullptr;
    Events* events = nullptr; // none on the first reading of a file, which only chooses
    Choice choice;
    std::vector<Element> open;                // the open elements, the root first
    std::set<std::string, std::less<>> names; // element and attribute names not read here
    // The text of the element being read, while textLimit is not 0.
    std::string text;
    std::size_t textLimit = 0;
    std::size_t textDepth = 0;
    bool textTooLong = false;
    std::int64_t textLine = 0;
    long edition = -1;    // the last edition begun, from 0
    bool taken = false;   // its chapters are the ones read
    bool ordered = false; // it has ordered chapters
    long atoms = 0;       // open ChapterAtom elements
    Atom atom;
    // What the first reading learns.
    long firstDefault = -1;
    bool firstOrdered = false;
    bool defaultOrdered = false;
    // What the second reading tells.
    std::int64_t number = 0;
    long droppedChapters = 0;
    long droppedTitles = 0;
    bool refused = false;
    XML_Index doctypeStart = -1; // of a document type declaration with an internal subset
    std::int64_t doctypeLine = 0;
    bool stopped = false;
    std::exception_ptr failure;
};

Reader& readerOf(void* data) {
    return *static_cast<Reader*>(data);
}

std::int64_t currentLine(const Reader& r) {
    return static_cast<std::int64_t>(XML_GetCurrentLineNumber(r.parser));
}

void note(const Reader& r, std::int64_t line, std::string_view message, bool fails = true) {
    if (r.events)
        r.events->note(line, message, fails);
}

// Ends the reading here; the chapters passed on so far stay.
void stopAt(Reader& r, std::int64_t line, std::string_view why) {
    note(r, line, std::string(why) + "; the rest of the file is skipped");
    r.stopped = true;
    XML_StopParser(r.parser, XML_FALSE);
}

void stop(Reader& r, std::string_view why) {
    stopAt(r, currentLine(r), why);
}

// Runs a handler, carrying an exception past expat's C frames.
template <typename Handle>
void guarded(void* data, Handle handle) {
    Reader& r = readerOf(data);
    if (r.stopped)
        return;
    try {
        handle(r);
    } catch (...) {
        r.failure = std::current_exception();
        r.stopped = true;
        XML_StopParser(r.parser, XML_FALSE);
    }
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Reads H:MM:SS with up to nine decimals into milliseconds, rounded to the nearest.
TimeStatus chapterTime(std::string_view text, std::int64_t& milliseconds) {
    constexpr std::int64_t maxHours = INT64_MAX / 3600000 + 1;
    text = trimmed(text);
    std::size_t at = 0;
    std::int64_t hours = 0;
    for (; at < text.size() && isDigit(text[at]); ++at)
        hours = std::min(hours * 10 + (text[at] - '0'), maxHours);
    const auto twoDigits = [&](std::size_t from) {
        return text[from] == ':' && isDigit(text[from + 1]) && text[from + 1] < '6' &&
               isDigit(text[from + 2]);
    };
    if (at == 0 || text.size() < at + 6 || !twoDigits(at) || !twoDigits(at + 3))
        return TimeStatus::malformed;
    const int minutes = (text[at + 1] - '0') * 10 + (text[at + 2] - '0');
    const int seconds = (text[at + 4] - '0') * 10 + (text[at + 5] - '0');
    std::string_view fraction = text.substr(at + 6);
    if (!fraction.empty() && (fraction.size() < 2 || fraction.size() > 10 || fraction[0] != '.' ||
                              !std::all_of(fraction.begin() + 1, fraction.end(), isDigit)))
        return TimeStatus::malformed;
    Int128 nanoseconds = ((Int128{hours} * 60 + minutes) * 60 + seconds) * 1000000000;
    for (std::size_t i = 1, scale = 100000000; i < fraction.size(); ++i, scale /= 10)
        nanoseconds += static_cast<Int128>(fraction[i] - '0') * scale;
    const Int128 rounded = (nanoseconds + 500000) / 1000000;
    if (rounded > INT64_MAX)
        return TimeStatus::outOfRange;
    milliseconds = static_cast<std::int64_t>(rounded);
    return TimeStatus::ok;
}

// A flag's value; what is neither 0 nor 1 is noted and read as the flag's default.
bool flag(const Reader& r, std::string_view name, bool fallback) {
    const std::string_view value = trimmed(r.text);
    if (!r.textTooLong && (value == "0" || value == "1"))
        return value == "1";
    note(r, r.textLine,
         std::string(name) + " is neither 0 nor 1; read as " + (fallback ? "1" : "0"));
    return fallback;
}

void collect(Reader& r, std::size_t limit) {
    r.text.clear();
    r.textLimit = limit;
    r.textDepth = r.open.size();
    r.textTooLong = false;
    r.textLine = currentLine(r);
}

void refuse(Reader& r, std::int64_t line, std::string_view why) {
    if (r.refused)
        return;
    r.refused = true;
    std::string message = "ordered chapters (" + std::string(why) +
                          ") play in an order of their own and cannot be joined by time; ";
    message += r.number == 0 ? "this file's chapters are left out"
                             : "the chapters before them were passed on already, the rest are "
                               "left out (a pipe cannot be read twice past " +
                                   sizeText(maxHeldSize) + ")";
    note(r, line, message);
}

void orderedMark(Reader& r, std::string_view why) {
    r.ordered = true;
    r.firstOrdered = r.firstOrdered || r.edition == 0;
    r.defaultOrdered = r.defaultOrdered || r.edition == r.firstDefault;
    if (r.taken)
        refuse(r, currentLine(r), why);
}

void defaultMark(Reader& r) {
    if (r.firstDefault >= 0)
        return;
    r.firstDefault = r.edition;
    r.defaultOrdered = r.ordered;
    if (!r.choice.known && r.edition != 0)
        note(r, r.textLine,
             "edition " + std::to_string(r.edition + 1) +
                 " is the default one, but a pipe cannot be read twice past " +
                 sizeText(maxHeldSize) + ": the first edition's chapters were read instead");
}

void beginEdition(Reader& r) {
    ++r.edition;
    r.ordered = false;
    r.taken = r.edition == r.choice.edition;
}

void beginAtom(Reader& r) {
    if (++r.atoms != 1)
        return;
    std::string title = std::move(r.atom.title); // keeps its room for the next title
    title.clear();
    r.atom = Atom{};
    r.atom.title = std::move(title);
    r.atom.line = currentLine(r);
}

// Passes on a chapter of the edition read, or says why not.
void keep(Reader& r) {
    const Atom& atom = r.atom;
    if (atom.hidden || atom.disabled) {
        ++r.droppedChapters;
        return;
    }
    const std::int64_t line = atom.timeLine != 0 ? atom.timeLine : atom.line;
    const std::string problem =
        atom.timeLine == 0                          ? "no ChapterTimeStart"
        : atom.timeStatus == TimeStatus::malformed  ? "malformed chapter time"
        : atom.timeStatus == TimeStatus::outOfRange ? "chapter time out of range"
        : atom.titleTooLong                         ? titleTooLong()
                                                    : "";
    if (!problem.empty()) {
        note(r, line, problem + "; chapter skipped");
        return;
    }
    if (!r.events)
        return;
    ++r.number;
    r.events->chapter({LineKind::time, r.number, atom.time, {}}, line);
    if (atom.titled)
        r.events->chapter({LineKind::name, r.number, 0, atom.title}, line);
    r.droppedTitles += std::max(atom.displays - 1, 0L);
}

void endAtom(Reader& r) {
    const bool direct = r.atoms-- == 1;
    if (r.taken && (r.ordered || r.choice.ordered))
        return;
    if (direct && r.taken)
        keep(r);
    else
        ++r.droppedChapters; // nested, or of another edition
}

void endText(Reader& r, Element element) {
    Atom& atom = r.atom;
    switch (element) {
    case Element::editionDefault:
        if (flag(r, "EditionFlagDefault", false))
            defaultMark(r);
        break;
    case Element::editionOrdered:
        if (flag(r, "EditionFlagOrdered", false))
            orderedMark(r, "EditionFlagOrdered");
        break;
    case Element::timeStart:
        if (atom.timeLine == 0) {
            atom.timeLine = r.textLine;
            atom.timeStatus =
                r.textTooLong ? TimeStatus::malformed : chapterTime(r.text, atom.time);
        }
        break;
    case Element::hidden:
        atom.hidden = flag(r, "ChapterFlagHidden", false);
        break;
    case Element::enabled:
        atom.disabled = !flag(r, "ChapterFlagEnabled", true);
        break;
    case Element::string:
        atom.titled = true;
        atom.titleTooLong = r.textTooLong;
        atom.title.swap(r.text);
        break;
    default:
        break;
    }
}

void begin(Reader& r, Element element) {
    const bool direct = r.atoms == 1; // the element belongs to a chapter of an edition
    switch (element) {
    case Element::edition:
        beginEdition(r);
        break;
    case Element::atom:
        beginAtom(r);
        break;
    case Element::segment:
        orderedMark(r, "ChapterSegmentUID");
        break;
    case Element::editionDefault:
    case Element::editionOrdered:
        collect(r, maxFlagSize);
        break;
    case Element::timeStart:
    case Element::hidden:
    case Element::enabled:
        if (direct)
            collect(r, maxFlagSize);
        break;
    case Element::display:
        r.atom.displays += direct ? 1 : 0;
        break;
    case Element::string:
        if (direct && r.atom.displays == 1 && !r.atom.titled)
            collect(r, maxLineSize);
        break;
    default:
        break;
    }
}

// Expat keeps every name it meets; a document with many is no chapter list.
bool knownName(Reader& r, std::string_view name) {
    if (name.size() > maxNameSize) {
        stop(r, "an element or attribute name longer than " + sizeText(maxNameSize));
        return false;
    }
    if (r.names.contains(name))
        return true;
    if (r.names.size() == maxNames) {
        stop(r, "more than " + std::to_string(maxNames) + " different element and attribute names");
        return false;
    }
    r.names.emplace(name);
    return true;
}

void opened(Reader& r, std::string_view name, const XML_Char** attributes) {
    if (r.open.size() == maxDepth) {
        stop(r, "elements nested more than " + std::to_string(maxDepth) + " deep");
        return;
    }
    const bool root = r.open.empty();
    const Element element = root ? (name == "Chapters" ? Element::chapters : Element::other)
                                 : classify(r.open.back(), name);
    if (root && element != Element::chapters) {
        stop(r, "the root element is not <Chapters>: not a Matroska chapters document");
        return;
    }
    if (element == Element::other && !knownName(r, name))
        return;
    for (const XML_Char** attribute = attributes; *attribute; attribute += 2)
        if (!knownName(r, *attribute))
            return;
    r.open.push_back(element);
    begin(r, element);
}

void closed(Reader& r) {
    const Element element = r.open.back();
    const bool hasText = r.textLimit != 0 && r.textDepth == r.open.size();
    r.open.pop_back();
    if (element == Element::edition)
        r.taken = false;
    else if (element == Element::atom)
        endAtom(r);
    else if (hasText)
        endText(r, element);
    if (hasText)
        r.textLimit = 0;
}

void characters(Reader& r, std::string_view text) {
    if (r.textLimit == 0)
        return;
    if (text.size() > r.textLimit - r.text.size())
        r.textTooLong = true;
    else
        r.text += text;
}

void setHandlers(Reader& r) {
    XML_SetUserData(r.parser, &r);
    // External entities are never loaded; a document that declares entities is refused below,
    // so that no expansion can grow (expat's limit on amplification stays on besides).
    XML_SetParamEntityParsing(r.parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetElementHandler(
        r.parser,
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            guarded(data, [&](Reader& reader) { opened(reader, name, attributes); });
        },
        [](void* data, const XML_Char*) { guarded(data, closed); });
    XML_SetCharacterDataHandler(r.parser, [](void* data, const XML_Char* text, int size) {
        guarded(data, [&](Reader& reader) {
            characters(reader, {text, static_cast<std::size_t>(size)});
        });
    });
    XML_SetDoctypeDeclHandler(
        r.parser,
        [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int internalSubset) {
            Reader& reader = readerOf(data);
            if (!internalSubset)
                return;
            reader.doctypeStart = XML_GetCurrentByteIndex(reader.parser);
            reader.doctypeLine = currentLine(reader);
        },
        [](void* data) { readerOf(data).doctypeStart = -1; });
    XML_SetEntityDeclHandler(r.parser, [](void* data, const XML_Char*, int, const XML_Char*, int,
                                          const XML_Char*, const XML_Char*, const XML_Char*,
                                          const XML_Char*) {
        guarded(data, [](Reader& reader) { stop(reader, "entity declarations are not read"); });
    });
}

// After each read: expat must not hold more than a bounded piece of the document.
void checkHeld(Reader& r, XML_Index fed) {
    if (r.doctypeStart >= 0 && fed - r.doctypeStart > static_cast<XML_Index>(maxMarkupSize))
        stopAt(r, r.doctypeLine,
               "a document type declaration longer than " + sizeText(maxMarkupSize));
    else if (fed - XML_GetCurrentByteIndex(r.parser) > static_cast<XML_Index>(maxMarkupSize))
        stop(r, "markup (a tag, comment or declaration) longer than " + sizeText(maxMarkupSize));
}

// Feeds the whole input to the parser. Returns false when a read failed.
bool parse(Reader& r, Input& input) {
    XML_Index fed = 0;
    for (;;) {
        std::string_view bytes;
        const Bytes got = nextBytes(input, bytes);
        if (got == Bytes::failed)
            return false;
        const bool last = got == Bytes::end;
        const XML_Status status =
            XML_Parse(r.parser, bytes.data(), static_cast<int>(bytes.size()), last);
        if (r.failure)
            std::rethrow_exception(r.failure);
        if (r.stopped)
            return true;
        if (status != XML_STATUS_OK) {
            const XML_Error error = XML_GetErrorCode(r.parser);
            if (error == XML_ERROR_NO_MEMORY)
                throw std::bad_alloc();
            note(r, currentLine(r),
                 std::string("XML error: ") + XML_ErrorString(error) +
                     "; the rest of the file is skipped");
            return true;
        }
        if (last)
            return true;
        fed += static_cast<XML_Index>(bytes.size());
        checkHeld(r, fed);
        if (r.stopped)
            return true;
    }
}

std::string counted(long count, std::string_view what) {
    return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

void finish(const Reader& r) {
    if (r.refused || (r.droppedChapters == 0 && r.droppedTitles == 0))
        return;
    std::string message = "dropped ";
    if (r.droppedChapters != 0)
        message += counted(r.droppedChapters, "chapter") +
                   " (of other editions, nested, hidden or disabled)";
    if (r.droppedChapters != 0 && r.droppedTitles != 0)
        message += " and ";
    if (r.droppedTitles != 0)
        message += counted(r.droppedTitles, "title") + " (of a ChapterDisplay after the first)";
    note(r, 0, message + ", which a joined list cannot keep", false);
}

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

struct Reading {
    bool readOk;
    Choice learned; // what a first reading found
};

Reading readDocument(Input& input, Events* events, const Choice& choice) {
    const std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser(
        XML_ParserCreate(nullptr)); // the encoding is the document's own
    if (!parser)
        throw std::bad_alloc();
    Reader r;
    r.parser = parser.get();
    r.events = events;
    r.choice = choice;
    setHandlers(r);
    const bool readOk = parse(r, input);
    if (readOk && choice.ordered && !r.refused) // the file changed between the readings
        refuse(r, 0, "EditionFlagOrdered or ChapterSegmentUID");
    if (readOk)
        finish(r);
    const bool hasDefault = r.firstDefault >= 0;
    return {
        readOk,
        {true, hasDefault ? r.firstDefault : 0, hasDefault ? r.defaultOrdered : r.firstOrdered}};
}

// Where the input can be read again from: a regular file from where it began, a pipe from what
// was held of it.
struct Replay {
    off_t start = -1; // in a regular file
    std::string held; // all of a pipe's document
    bool possible = false;
};

// Holds a pipe's document, up to the bound. False on a read error. Where the document is longer,
// the input goes on with what was held and then the pipe, to be read once.
bool hold(Input& input, Replay& replay) {
    replay.held.assign(input.head);
    input.head = {};
    while (replay.held.size() <= maxHeldSize) {
        std::string_view bytes;
        const Bytes got = nextBytes(input, bytes);
        if (got == Bytes::failed)
            return false;
        replay.possible = got == Bytes::end;
        if (replay.possible)
            break;
        replay.held.append(bytes);
    }
    input.head = replay.held;
    return true;
}

bool replayable(Input& input, Replay& replay) {
    struct stat status;
    if (fstat(input.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return hold(input, replay);
    const off_t at = lseek(input.fd, 0, SEEK_CUR);
    replay.start = at < 0 ? -1 : at - static_cast<off_t>(input.head.size());
    replay.possible = replay.start >= 0;
    return true;
}

// Reads the input again from its start.
bool rewind(Input& input, const Replay& replay) {
    if (replay.start < 0) {
        input.head = replay.held;
        input.ended = true;
        return true;
    }
    if (lseek(input.fd, replay.start, SEEK_SET) != replay.start) {
        input.error = errno;
        return false;
    }
    input.head = {};
    input.ended = false;
    return true;
}

// Whether text may set EditionFlagOrdered to anything but 0, as mkvextract writes it.
bool orderedIn(std::string_view text) {
    constexpr std::string_view tag = "<EditionFlagOrdered>";
    for (auto at = text.find(tag); at != std::string_view::npos; at = text.find(tag, at + 1)) {
        std::size_t next = at + tag.size();
        const auto skipSpace = [&] {
            while (next < text.size() && isXmlSpace(text[next]))
                ++next;
        };
        skipSpace();
        const bool zero = next < text.size() && text[next] == '0';
        ++next;
        skipSpace();
        if (!zero || next >= text.size() || text[next] != '<')
            return true; // or cut off here: the full reading decides
    }
    return false;
}

// Whether the document may hold more than one edition or ordered chapters, by a look at its
// bytes many times faster than parsing it: only then must it be parsed twice. Reads it to its
// end; UTF-16 is not looked into.
bool mayNeedChoosing(Input& input) {
    if (byteOrderMarkOf(input.head).encoding != Encoding::utf8)
        return true;
    constexpr std::string_view edition = "<EditionEntry";
    constexpr std::size_t seam = 32; // longer than any of them, so a mark split between reads
    std::string text;                // is found in the end of one read and the next
    int editions = 0;
    for (std::string_view bytes;;) {
        const Bytes got = nextBytes(input, bytes);
        if (got != Bytes::some)
            return got == Bytes::failed || editions > 1;
        const std::size_t kept = text.size(); // a match within these was counted before
        text.append(bytes);
        for (auto at = text.find(edition); at != std::string::npos; at = text.find(edition, at + 1))
            editions += at + edition.size() > kept ? 1 : 0;
        if (text.find("ChapterSegmentUID") != std::string::npos || orderedIn(text))
            return true;
        if (editions > 1)
            return true;
        text.erase(0, text.size() - std::min(text.size(), seam));
    }
}

PartRead read(Input& input, Events& events) {
    Choice choice;
    Replay replay;
    if (!replayable(input, replay))
        return readFailed(input, events);
    if (replay.possible) {
        const bool choosing = mayNeedChoosing(input);
        if (!rewind(input, replay))
            return readFailed(input, events);
        if (choosing) {
            const Reading first = readDocument(input, nullptr, choice);
            if (!first.readOk || !rewind(input, replay))
                return readFailed(input, events);
            choice = first.learned;
        } else {
            choice = {true, 0, false}; // one edition, and nothing ordered
        }
    }
    return readDocument(input, &events, choice).readOk ? PartRead{} : readFailed(input, events);
}

// Whether the first character that is not XML white space is '<'; undecided while all is space.
Claim startsWithMarkup(std::string_view text, Encoding encoding) {
    const std::size_t width = encoding == Encoding::utf8 ? 1 : 2;
    const std::size_t low = encoding == Encoding::utf16BigEndian ? 1 : 0; // where ASCII is
    for (std::size_t at = 0; at + width <= text.size(); at += width) {
        if (width == 2 && text[at + 1 - low] != 0)
            return Claim::no;
        const char c = text[at + low];
        if (c == '<')
            return Claim::yes;
        if (!isXmlSpace(c))
            return Claim::no;
    }
    return Claim::undecided;
}

Claim claims(std::string_view head) {
    if (mayStartByteOrderMark(head))
        return Claim::undecided;
    const ByteOrderMark mark = byteOrderMarkOf(head);
    return startsWithMarkup(head.substr(mark.size), mark.encoding);
}

} // namespace

const Source matroskaSource{"matroska", claims, read, "has no ChapterString", true, ""};
