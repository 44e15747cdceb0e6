// CUE sheets, as CD rips and audiobook tools write them: a chapter a TRACK, starting at its
// INDEX 01 (mm:ss:ff, 75 frames a second) and titled with its TITLE. Where a sheet names several
// FILEs, each follows the one before in the joined timeline, by that file's length where it can
// be read as media.
#include "bounds.hpp"
#include "line_reader.hpp"
#include "source.hpp"
#include "timeline.hpp"
#include "utf.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int64_t framesPerSecond = 75;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next word of text, blanks before it skipped; text keeps what follows it.
std::string_view word(std::string_view& text) {
    text = trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !isBlank(text[end]))
        ++end;
    const std::string_view found = text.substr(0, end);
    text.remove_prefix(end);
    return found;
}

// Commands are read in any case, as players read them. begun: found may be the start of one.
bool isCommand(std::string_view found, std::string_view command, bool begun = false) {
    if (begun ? found.size() > command.size() : found.size() != command.size())
        return false;
    for (std::size_t i = 0; i < found.size(); ++i)
        if ((found[i] >= 'a' && found[i] <= 'z' ? found[i] - 32 : found[i]) != command[i])
            return false;
    return true;
}

// The commands that may stand before a sheet's first FILE or TRACK.
constexpr std::string_view sheetCommands[] = {"REM",     "PERFORMER",  "TITLE",     "FILE",
                                              "CATALOG", "SONGWRITER", "CDTEXTFILE"};

bool isSheetCommand(std::string_view found, bool begun = false) {
    for (const std::string_view command : sheetCommands)
        if (isCommand(found, command, begun))
            return true;
    return false;
}

// Between one and most digits, as a number.
bool number(std::string_view text, std::size_t most, std::int64_t& value) {
    value = 0;
    if (text.empty() || text.size() > most)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// A quoted value runs to the line's last quote, so that a title keeps the quotes its writer
// could not escape; an unquoted one is the rest of the line.
std::string_view value(std::string_view text) {
    text = trimmed(text);
    if (!text.starts_with('"'))
        return text;
    text.remove_prefix(1);
    const std::size_t close = text.rfind('"');
    return close == std::string_view::npos ? text : text.substr(0, close);
}

// FILE's name, before its type: 'FILE "a b.wav" WAVE' or 'FILE a.wav WAVE'.
std::string_view fileName(std::string_view text) {
    text = trimmed(text);
    if (text.starts_with('"'))
        return value(text);
    const std::size_t blank = text.find_last_of(" \t");
    return blank == std::string_view::npos ? text : trimmed(text.substr(0, blank));
}

// 'FILE name TYPE' and 'TRACK nn TYPE': the lines that make a sheet of the commands before them.
bool startsSheet(std::string_view command, std::string_view rest) {
    std::int64_t track = 0;
    if (isCommand(command, "TRACK"))
        return number(word(rest), 9, track) && !word(rest).empty() && word(rest).empty();
    if (!isCommand(command, "FILE"))
        return false;
    rest = trimmed(rest);
    if (rest.starts_with('"')) {
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos || close + 1 == rest.size() ||
            !isBlank(rest[close + 1]))
            return false;
        rest.remove_prefix(close + 1);
    } else if (word(rest).empty()) {
        return false;
    }
    return !word(rest).empty();
}

// What a line that more bytes may go on tells.
Claim unfinished(std::string_view line, bool first, bool found) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    if (chapterKeyword.starts_with(line) || line.starts_with(chapterKeyword))
        return Claim::undecided; // it may become a line that the simple format reads
    if (found)
        return Claim::yes;
    std::string_view rest = line;
    const std::string_view command = word(rest);
    const bool begun = rest.empty() && !line.ends_with(' ') && !line.ends_with('\t');
    return command.empty() || isSheetCommand(command, begun) ||
                   (!first && isCommand(command, "TRACK", begun))
               ? Claim::undecided
               : Claim::no;
}

// Claimed where the first command is one that begins a sheet, every line up to its first FILE or
// TRACK is a command, and no line of the head is one that the simple format reads.
Claim claimsText(std::string_view head) {
    bool first = true;
    bool found = false;
    while (!head.empty()) {
        const std::size_t newline = head.find('\n');
        std::string_view line = head.substr(0, newline);
        if (newline == std::string_view::npos)
            return unfinished(line, first, found);
        head.remove_prefix(newline + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (parseLine(line).kind != LineKind::other)
            return Claim::no;
        std::string_view rest = line;
        const std::string_view command = word(rest);
        if (found || command.empty())
            continue;
        const bool track = !first && isCommand(command, "TRACK");
        if (!track && !isSheetCommand(command))
            return Claim::no;
        first = false;
        found = startsSheet(command, rest);
        if (track && !found)
            return Claim::no;
    }
    return found ? Claim::yes : Claim::undecided;
}

Claim claims(std::string_view head) {
    return claimsDecoded(head, claimsText);
}

struct Track {
    std::int64_t line = 0;            // of its TRACK
    std::int64_t number = 0;          // as the sheet numbers it
    std::optional<ExactTime> start{}; // its INDEX 01, in the sheet's time
    std::int64_t startLine = 0;
    bool skipped = false; // a note has said why
    bool titled = false;
    bool titleTooLong = false;
    std::int64_t titleLine = 0;
    std::string title{};
};

struct Sheet {
    Input& input;
    Events& events;
    bool inTrack = false;
    Track track{};
    std::int64_t chapters = 0;  // handed on
    std::int64_t lastTrack = 0; // as the sheet numbers them
    // The FILE being read: its name, where it starts in the sheet's time, and the last chapter
    // in it.
    std::string file{};
    std::int64_t fileLine = 0; // 0: none yet
    ExactTime fileStart{};
    std::optional<ExactTime> lastStart{};
    bool albumTitled = false;
    std::string album{}; // the TITLE before the first TRACK
};

// What reading a media file for its length tells: where the joining tool starts and ends it, or
// why it cannot.
struct LengthEvents final : Events {
    std::optional<ExactTime> start;
    std::optional<ExactTime> end;
    std::string why;
    void chapter(const ChapterLine&, std::int64_t) override {} // the sheet's tracks are the list
    void note(std::int64_t, std::string_view message, bool fails) override {
        if (fails && why.empty())
            why = message;
    }
    void ownExtent(ExactTime startsAt, ExactTime endsAt) override {
        start = startsAt;
        end = endsAt;
    }
};

// The file a FILE names: from the sheet's folder, or as it stands where absolute. Empty for a
// relative name in a sheet on standard input, whose folder is not known.
std::string pathOf(const Input& sheet, std::string_view name) {
    if (name.starts_with('/'))
        return std::string(name);
    if (sheet.path.empty())
        return {};
    const std::size_t slash = sheet.path.rfind('/');
    return std::string(sheet.path.substr(0, slash == std::string_view::npos ? 0 : slash + 1)) +
           std::string(name);
}

// The file at path, open for reading where it is a regular file; -1 with why where not.
int openRegular(const std::string& path, std::string& why) {
    struct stat file;
    if (stat(path.c_str(), &file) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    // A FIFO or a device is never opened: opening may block or act on it.
    const int fd = S_ISREG(file.st_mode)
                       ? open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)
                       : -1;
    if (fd >= 0 && fstat(fd, &file) == 0 && S_ISREG(file.st_mode))
        return fd;
    why = fd < 0 && S_ISREG(file.st_mode) ? std::strerror(errno) : "not a regular file";
    if (fd >= 0)
        close(fd);
    return -1;
}

// The length of the file a FILE names, as the run's joining tool places it, read through the
// media source; none with why where it cannot be read.
std::optional<ExactTime> mediaLength(const Input& sheet, std::string_view name, std::string& why) {
    const std::string path = pathOf(sheet, name);
    if (path.empty() || name.find('\0') != std::string_view::npos) {
        why = path.empty() ? "a sheet on standard input names it from a folder that is not known"
                           : "the name holds a NUL byte, which no file name can";
        return std::nullopt;
    }
    const int fd = openRegular(path, why);
    if (fd < 0)
        return std::nullopt;
    LengthEvents events;
    std::vector<char> buffer;
    Input input{fd, name, path, buffer, sheet.output};
    input.join = sheet.join;
    try {
        mediaSource.read(input, events);
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    const auto length = events.end ? subtract(*events.end, *events.start) : std::nullopt;
    if (!length)
        why = events.why.empty() ? "no length in it" : events.why;
    return length;
}

void note(Sheet& s, std::int64_t lineNumber, const std::string& message, bool fails) {
    s.events.note(lineNumber, message, fails);
}

// Where the FILE being read ends in the sheet's time: after its length where that can be read,
// else none, said with what follows from it.
std::optional<ExactTime> fileEnd(Sheet& s, std::string_view consequence) {
    std::string why;
    const std::optional<ExactTime> length = mediaLength(s.input, s.file, why);
    const std::optional<ExactTime> end = length ? add(s.fileStart, *length) : std::nullopt;
    // A name past what a file name can be is not opened, and not shown whole.
    const std::string_view name = std::string_view(s.file).substr(0, PATH_MAX);
    if (!end)
        note(s, s.fileLine,
             "cannot read the length of \"" + std::string(name) +
                 (name.size() < s.file.size() ? "...\" (" : "\" (") +
                 (length ? "out of range" : why) + "); " + std::string(consequence),
             false);
    return end;
}

void nextFile(Sheet& s, std::string_view name, std::int64_t lineNumber) {
    // A FILE whose length is not known ends, as a part does, at its last chapter.
    if (s.fileLine != 0)
        s.fileStart = fileEnd(s, "the next FILE starts at its last chapter")
                          .value_or(s.lastStart.value_or(s.fileStart));
    s.file.assign(name);
    s.fileLine = lineNumber;
    s.lastStart.reset();
}

// Hands on the track being read as a chapter, where it has a start.
void endTrack(Sheet& s) {
    if (!s.inTrack)
        return;
    s.inTrack = false;
    const Track& track = s.track;
    if (track.skipped)
        return;
    if (!track.start) {
        note(s, track.line,
             "TRACK " + chapterNumber(track.number) +
                 " has no INDEX 01, where its sound starts; chapter skipped",
             true);
        return;
    }
    if (track.titleTooLong) {
        note(s, track.titleLine, titleTooLong() + "; chapter skipped", true);
        return;
    }
    ++s.chapters;
    s.events.chapter(
        {LineKind::time, s.chapters, track.start->milliseconds, {}, track.start->nanoseconds},
        track.startLine);
    if (track.titled)
        s.events.chapter({LineKind::name, s.chapters, 0, track.title}, track.titleLine);
}

void beginTrack(Sheet& s, std::string_view rest, std::int64_t lineNumber) {
    endTrack(s);
    std::int64_t trackNumber = 0;
    if (!number(word(rest), 9, trackNumber)) {
        note(s, lineNumber, "TRACK without a number (TRACK nn AUDIO); read as the next", false);
        trackNumber = s.lastTrack + 1;
    } else if (trackNumber <= s.lastTrack) {
        note(s, lineNumber,
             "TRACK " + chapterNumber(trackNumber) + " after TRACK " + chapterNumber(s.lastTrack) +
                 "; read in the sheet's order",
             false);
    }
    s.lastTrack = trackNumber;
    s.inTrack = true;
    std::string title = std::move(s.track.title); // keeps its room for the next title
    title.clear();
    s.track = Track{lineNumber, trackNumber};
    s.track.title = std::move(title);
}

// mm:ss:ff, in frames; the minutes may pass 99.
bool frames(std::string_view text, std::int64_t& count) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    std::int64_t minutes = 0;
    std::int64_t seconds = 0;
    std::int64_t frame = 0;
    if (second == std::string_view::npos || !number(text.substr(0, first), 12, minutes) ||
        !number(text.substr(first + 1, second - first - 1), 2, seconds) ||
        !number(text.substr(second + 1), 2, frame) || seconds >= 60 || frame >= framesPerSecond)
        return false;
    count = (minutes * 60 + seconds) * framesPerSecond + frame;
    return true;
}

// 'INDEX nn mm:ss:ff': INDEX 01 starts the track's sound, and its chapter; INDEX 00 starts the
// pause before it, and others mark points within it.
void index(Sheet& s, std::string_view rest, std::int64_t lineNumber) {
    if (!s.inTrack) {
        note(s, lineNumber, "INDEX before the first TRACK; line passed over", false);
        return;
    }
    std::int64_t which = -1;
    std::int64_t count = 0;
    const bool numbered = number(word(rest), 2, which);
    if (!numbered || !frames(word(rest), count) || !word(rest).empty()) {
        const bool lost = which == 1 && !s.track.start && !s.track.skipped;
        s.track.skipped = s.track.skipped || lost;
        note(s, lineNumber,
             "malformed INDEX (INDEX nn mm:ss:ff: seconds below 60, frames below 75)" +
                 std::string(lost ? "; chapter skipped" : "; line passed over"),
             lost);
        return;
    }
    if (which != 1 || s.track.skipped)
        return;
    if (s.track.start) {
        note(s, lineNumber, "a second INDEX 01 in this TRACK; the first is kept", false);
        return;
    }
    const std::optional<ExactTime> within = ticksToTime(count, 1, framesPerSecond);
    s.track.start = within ? add(s.fileStart, *within) : std::nullopt;
    s.track.startLine = lineNumber;
    s.lastStart = s.track.start;
    if (!s.track.start) {
        s.track.skipped = true;
        note(s, lineNumber, "chapter time out of range; chapter skipped", true);
    }
}

void title(Sheet& s, std::string_view text, const Line& line) {
    if (!s.inTrack) {
        if (!s.albumTitled && s.lastTrack == 0)
            s.album.assign(text);
        s.albumTitled = true;
        return;
    }
    Track& track = s.track;
    track.titled = true;
    track.titleLine = line.number;
    track.titleTooLong = line.tooLong;
    track.title.assign(text);
}

void takeLine(Sheet& s, const Line& line) {
    std::string_view rest = line.text;
    const std::string_view command = word(rest);
    if (isCommand(command, "FILE")) { // a track's INDEX 00 may stand in the FILE before
        nextFile(s, fileName(rest), line.number);
    } else if (isCommand(command, "TRACK")) {
        beginTrack(s, rest, line.number);
    } else if (isCommand(command, "INDEX")) {
        index(s, rest, line.number);
    } else if (isCommand(command, "TITLE")) {
        title(s, value(rest), line);
    }
}

PartRead read(Input& input, Events& events) {
    Sheet s{input, events};
    if (!readLines(
            input, [&s](const Line& line) { takeLine(s, line); },
            [](std::string_view bytes) { return bytes; }))
        return readFailed(input, events);
    endTrack(s);
    // The last FILE's end is the sheet's, which places the part after it.
    const std::optional<ExactTime> length =
        s.fileLine != 0 ? fileEnd(s, "the sheet's length is not known") : std::nullopt;
    return {false, length, s.album};
}

} // namespace

// A title is the rest of one line.
const Source cueSource{"cue", claims, read, "has no TITLE", false, "CUE sheet"};
