#include "plan.hpp"

#include "edit.hpp"
#include "sources/source.hpp"
#include "timestamp.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

constexpr std::string_view helpOption = "--help";
constexpr std::string_view versionOption = "--version";
constexpr std::string_view endOfOptions = "--";
constexpr std::string_view delayOption = "-d=";
constexpr std::string_view lengthOption = "--length";
constexpr std::string_view formatOption = "--format";
constexpr std::string_view filesFromOption = "--files-from";
constexpr std::string_view files0FromOption = "--files0-from";
constexpr std::string_view partChaptersOption = "--part-chapters";
constexpr std::string_view verboseOption = "--verbose";
constexpr std::string_view joinOption = "--join";
constexpr std::string_view keepOption = "--keep";
constexpr std::string_view cutOption = "--cut";
constexpr std::string_view standardInputName = "-";

constexpr std::string_view usageHead =
    "Usage: chapcat [OPTION | FILE]... [-- FILE...]\n"
    "Join the chapter lists of a video's parts into one list on standard output.\n"
    "Chapter numbers continue from part to part, and each part's times start where\n"
    "the part before it ends in the joined video.\n"
    "\n"
    "Each FILE is a part: a media file (MP4, Matroska, MPEG-TS, ... read with\n"
    "FFmpeg's libavformat, which gives its chapters and its length), Matroska\n"
    "chapters XML, FFmpeg metadata, timestamp lines (0:00 Intro), WebVTT,\n"
    "Podcasting 2.0 JSON chapters, a CUE sheet, or CHAPTERnn= lines; each is known\n"
    "by its content. A FILE of - is standard input; after --, every argument is\n"
    "a FILE.\n"
    "\n"
    "Options apply to the files named after them:\n"
    "  -d=TIME    add TIME to the next file's times; TIME is SS, MM:SS or HH:MM:SS,\n"
    "             with an optional fraction (.5 or ,5) and sign: -d=20.039, -d=-1:05.5\n"
    "  --length=TIME  the next file's part lasts TIME in the joined video (as a\n"
    "             probe reports it; never stretched): the file after it starts\n"
    "             where that part ends, whatever its chapters\n"
    "  -p         PAL to film: stretch times by 1001/960 (25 fps to 23.976 fps)\n"
    "  -t         3:2 pulldown: stretch times by 1.001\n"
    "  -n         switch -p and -t off again\n"
    "  --keep=FROM-TO  keep only this range of the next file, in its own time (TO\n"
    "             left out: to its end); several are kept back to back, and the\n"
    "             chapters follow: --keep=0:05-0:20 --keep=0:30-0:50\n"
    "  --cut=FROM-TO  remove this range of the next file; with --keep, what is kept\n"
    "             is what a keep covers and no cut removes\n"
    "  --files-from=FILE  read part names from FILE, one a line, as if they stood\n"
    "             here ('-': standard input)\n"
    "  --files0-from=FILE  the same, names separated by NUL bytes\n"
    "Options for the whole run:\n"
    "  --format=FORMAT  write the list in FORMAT, one of:\n";

constexpr std::string_view usageTail =
    "  --cue-file=NAME  the joined file that a CUE sheet names (else joined.wav)\n"
    "  --join=TOOL  place each part where TOOL starts it when it joins them: mkvmerge\n"
    "             (its append: the default for simple and matroska), ffmpeg (its\n"
    "             concat demuxer: the default for the other formats but cue) or\n"
    "             ffmpeg-filter (its concat filter, which decodes: for audiobooks,\n"
    "             and the default for cue)\n"
    "  --part-chapters[=title]  give a part without chapters one at its start,\n"
    "             titled with its file name, or with its media title tag (=title)\n"
    "  --verbose  say on standard error where each part starts, how long it is and\n"
    "             how many chapters it gave\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "Options with a value also take it as the next argument: --length 1450.\n"
    "\n"
    "Examples:\n"
    "  MP4 parts joined with ffmpeg's concat demuxer:\n"
    "    chapcat --format=ffmetadata part1.mp4 part2.mp4 part3.mp4 > chapters.txt\n"
    "    ffmpeg -f concat -safe 0 -i parts.txt -i chapters.txt -map 0 \\\n"
    "        -map_chapters 1 -c copy whole.mp4\n"
    "  The same, the stream's first 90 s and an advert from 20:00 to 21:30 cut:\n"
    "    chapcat --format=ffconcat --cut=0-90 --cut=20:00-21:30 stream.mp4 >parts.txt\n"
    "    chapcat --format=ffmetadata --cut=0-90 --cut=20:00-21:30 stream.mp4 \\\n"
    "        > chapters.txt\n"
    "  Matroska clips, each without chapters, one chapter a clip:\n"
    "    chapcat --format=matroska --part-chapters part1.mkv part2.mkv > chapters.xml\n"
    "    mkvmerge -o whole.mkv --chapters chapters.xml --no-chapters part1.mkv \\\n"
    "        + --no-chapters part2.mkv\n"
    "  Chapter files, the second part starting 2:32.9 after the first's last chapter:\n"
    "    chapcat part1.txt -d=00:02:32.900 part2.txt part3.txt > whole.txt\n"
    "  Chapter files with the parts' lengths:\n"
    "    chapcat --length=1450 part1.txt --length=1280 part2.txt part3.txt\n"
    "\n"
    "Warnings (skipped lines, files without chapters, and what a muxer would\n"
    "object to or lose in the merged list) go to standard error, prefixed\n"
    "'chapcat: ' and naming the file and line.\n"
    "Exit status: 0 success; 1 a file could not be opened or read, a chapter was\n"
    "skipped or refused, a file had no chapters, a chapter starts before zero or\n"
    "past what muxers hold, a name was dropped (ffmetadata, matroska), or output\n"
    "failed; 2 a bad command line.\n";

std::string usage() {
    std::size_t width = 0; // of the longest name, so that the summaries line up
    for (const Writer* writer : writers())
        width = std::max(width, writer->name.size());
    std::string text(usageHead);
    for (const Writer* writer : writers())
        text += "             " + std::string(writer->name) +
                std::string(width + 2 - writer->name.size(), ' ') + std::string(writer->summary) +
                "\n";
    return text + std::string(usageTail);
}

const Writer* writerNamed(std::string_view name) {
    for (const Writer* writer : writers())
        if (writer->name == name)
            return writer;
    return nullptr;
}

// A usage error: the message, and the hint that goes with every one.
Answer usageError(const std::string& message) {
    return {2, {}, message + "\nTry 'chapcat --help' for more information."};
}

// A --keep or --cut range, and the option as given, for messages.
struct GivenRange {
    TimeRange range;
    std::string arg;
};

// The command line as read so far.
struct Planning {
    Plan plan;
    std::optional<Answer> error; // the first usage error; --help and --version still win
    bool pal2Film = false;
    bool threeTwoPulldown = false;
    bool optionsEnded = false;
    std::int64_t delay = 0;
    std::uint64_t delayMagnitudes = 0;  // bounds every sum of delays the run can form
    std::optional<std::int64_t> length; // for the next input
    std::string delayArg;               // the last delay for the next input, as given
    std::string lengthArg;              // the options as given, for messages
    std::string formatArg;
    std::vector<GivenRange> keeps; // for the next input
    std::vector<GivenRange> cuts;
    int standardInput;
};

// Sorts the ranges of one kind; a usage error where two overlap.
std::optional<Answer> sortRanges(std::vector<GivenRange>& ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const GivenRange& a, const GivenRange& b) {
        return earlier(a.range.from, b.range.from);
    });
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        const TimeRange& before = ranges[i - 1].range;
        if (!before.to || earlier(ranges[i].range.from, *before.to))
            return usageError("ranges '" + ranges[i - 1].arg + "' and '" + ranges[i].arg +
                              "' overlap");
    }
    return std::nullopt;
}

// What the next input keeps of itself, from the ranges given for it.
std::vector<TimeRange> takeRanges(Planning& state, std::string_view file) {
    if (state.keeps.empty() && state.cuts.empty())
        return {};
    std::vector<TimeRange> keeps;
    std::vector<TimeRange> cuts;
    for (auto* given : {&state.keeps, &state.cuts})
        if (auto error = sortRanges(*given); error && !state.error)
            state.error = std::move(error);
    for (const GivenRange& keep : state.keeps)
        keeps.push_back(keep.range);
    for (const GivenRange& cut : state.cuts)
        cuts.push_back(cut.range);
    std::vector<TimeRange> kept = keptRanges(keeps, cuts);
    if (kept.empty() && !state.error)
        state.error = usageError("the ranges given keep nothing of '" + std::string(file) + "'");
    state.keeps.clear();
    state.cuts.clear();
    return kept;
}

void takeFile(Planning& state, std::string_view arg) {
    const bool standardInput = arg == standardInputName;
    state.plan.steps.push_back({standardInput ? "standard input" : arg, standardInput,
                                state.pal2Film, state.threeTwoPulldown, state.delay, state.length});
    state.plan.steps.back().kept = takeRanges(state, arg);
    state.delay = 0;
    state.delayArg.clear();
    state.length.reset();
}

void takeDelay(Planning& state, std::string_view arg) {
    std::int64_t value = 0;
    const TimeStatus status = timeArgumentToInt(arg.substr(delayOption.size()), value);
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (status == TimeStatus::malformed)
        state.error = usageError("invalid delay '" + std::string(arg) +
                                 "': expected a time such as -d=00:05:00.000, -d=1:05.5 or "
                                 "-d=20.039");
    else if (status == TimeStatus::outOfRange ||
             __builtin_add_overflow(state.delayMagnitudes, magnitude, &state.delayMagnitudes) ||
             state.delayMagnitudes > INT64_MAX)
        state.error = usageError("delays out of range at '" + std::string(arg) + "'");
    else
        state.delay += value;
    state.delayArg = arg;
}

// A long option and its value: ARG is '--name=value' as given, or as it would have been.
struct Valued {
    std::string arg;
    std::string_view value;
};

void takeLength(Planning& state, const Valued& option) {
    std::int64_t value = 0;
    if (state.length)
        state.error = usageError("two lengths, '" + state.lengthArg + "' and '" + option.arg +
                                 "', for one file");
    else if (timeArgumentToInt(option.value, value) != TimeStatus::ok)
        state.error = usageError("invalid length '" + option.arg +
                                 "': expected a time such as --length=00:42:17.480 or "
                                 "--length=2537.48");
    else if (value < 0)
        state.error = usageError("negative length '" + option.arg + "'");
    state.length = value;
    state.lengthArg = option.arg;
}

void takeFormat(Planning& state, const Valued& option) {
    const Writer* writer = writerNamed(option.value);
    if (!writer)
        state.error = usageError("unknown format '" + std::string(option.value) + "': expected " +
                                 formatNames());
    else if (!state.formatArg.empty() && writer != state.plan.writer)
        state.error = usageError("two formats, '" + state.formatArg + "' and '" + option.arg + "'");
    state.plan.writer = writer ? writer : state.plan.writer;
    state.formatArg = option.arg;
}

// A list of names, one a line or separated by NUL, which stand here as if on the command line.
// It is opened now, so that a list that cannot be read is a usage error; the run reads it.
void takeList(Planning& state, const Valued& option, char separator) {
    const bool standardInput = option.value == standardInputName;
    const int fd = standardInput ? state.standardInput
                                 : open(std::string(option.value).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.error = usageError("cannot read the list of files '" + std::string(option.value) +
                                 "': " + std::strerror(standardInput ? EBADF : errno));
        return;
    }
    takeFile(state, standardInput ? standardInputName : option.value);
    state.plan.steps.back().list = ListOfFiles{fd, separator};
}

void takeFilesFrom(Planning& state, const Valued& option) {
    takeList(state, option, '\n');
}

void takeFiles0From(Planning& state, const Valued& option) {
    takeList(state, option, '\0');
}

void takeJoin(Planning& state, const Valued& option) {
    for (const JoinName& known : joinNames)
        if (known.name == option.value) {
            state.plan.join = known.join;
            return;
        }
    state.error = usageError("unknown joining tool '" + std::string(option.value) +
                             "': expected ffmpeg, ffmpeg-filter or mkvmerge");
}

void takePartChapters(Planning& state, const Valued& option) {
    if (option.value.empty() || option.value == "file")
        state.plan.partChapters = PartChapters::byFile;
    else if (option.value == "title")
        state.plan.partChapters = PartChapters::byTitle;
    else
        state.error = usageError("unknown way of naming part chapters '" +
                                 std::string(option.value) + "': expected title or file");
}

// FROM-TO, either left out: from the start, to the end.
std::optional<TimeRange> rangeOf(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos || text.size() == 1)
        return std::nullopt;
    std::int64_t from = 0;
    std::int64_t to = 0;
    const std::string_view toText = text.substr(dash + 1);
    if ((dash > 0 && timeArgumentToInt(text.substr(0, dash), from) != TimeStatus::ok) ||
        (!toText.empty() && timeArgumentToInt(toText, to) != TimeStatus::ok) || from < 0)
        return std::nullopt;
    return TimeRange{from, toText.empty() ? std::nullopt : std::optional<ExactTime>(to)};
}

void takeRange(Planning& state, const Valued& option, std::vector<GivenRange>& ranges) {
    const std::optional<TimeRange> range = rangeOf(option.value);
    if (!range)
        state.error = usageError("invalid range '" + option.arg +
                                 "': expected FROM-TO, times as for -d=, as 0:05-0:20.5 or "
                                 "1:30- (to the end)");
    else if (range->to && !earlier(range->from, *range->to))
        state.error = usageError("range '" + option.arg + "' is empty: TO must come after FROM");
    else
        ranges.push_back({*range, option.arg});
}

void takeKeep(Planning& state, const Valued& option) {
    takeRange(state, option, state.keeps);
}

void takeCut(Planning& state, const Valued& option) {
    takeRange(state, option, state.cuts);
}

void takeCueFile(Planning& state, const Valued& option) {
    state.plan.cueFile = option.value;
}

void takeVerbose(Planning& state, const Valued&) {
    state.plan.verbose = true;
}

// Whether an option takes a value; an optional one only after '='.
enum class Value { none, required, optional };

struct LongOption {
    std::string_view name;
    Value value;
    void (*take)(Planning& state, const Valued& option);
};

constexpr LongOption longOptions[] = {
    {lengthOption, Value::required, takeLength},
    {formatOption, Value::required, takeFormat},
    {filesFromOption, Value::required, takeFilesFrom},
    {files0FromOption, Value::required, takeFiles0From},
    {partChaptersOption, Value::optional, takePartChapters},
    {verboseOption, Value::none, takeVerbose},
    {joinOption, Value::required, takeJoin},
    {keepOption, Value::required, takeKeep},
    {cutOption, Value::required, takeCut},
    {"--cue-file", Value::required, takeCueFile},
};

// How many single-character edits turn a into b.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The known option nearest to an unknown one, as a hint.
std::string nearestOption(std::string_view name) {
    constexpr std::string_view others[] = {helpOption, versionOption, "-d=", "-p", "-t", "-n"};
    std::string_view nearest;
    std::size_t distance = SIZE_MAX;
    const auto consider = [&](std::string_view known) {
        // Compared without the dashes, so that '--d' comes near '-d='.
        const auto undashed = [](std::string_view option) {
            return option.substr(std::min(option.find_first_not_of('-'), option.size()));
        };
        const std::size_t d = editDistance(undashed(name), undashed(known));
        if (d < distance)
            nearest = known, distance = d;
    };
    for (const LongOption& option : longOptions)
        consider(option.name);
    for (const std::string_view known : others)
        consider(known);
    const bool named = name.find_first_not_of('-') != std::string_view::npos;
    return named && distance <= std::max<std::size_t>(2, name.size() / 3)
               ? "; did you mean '" + std::string(nearest) + "'?"
               : "";
}

// How many arguments an option takes, its value included, where it is not acted on.
std::size_t argumentsTaken(std::string_view arg, const char* next) {
    for (const LongOption& option : longOptions)
        if (option.value == Value::required && arg == option.name && next != nullptr)
            return 2;
    return 1;
}

// A long option, with its value from the argument itself or the one after it (next), which it
// then takes. Returns how many arguments it took.
std::size_t takeLongOption(Planning& state, std::string_view arg, const char* next) {
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    for (const LongOption& option : longOptions) {
        if (option.name != name)
            continue;
        const bool hasEquals = equals != std::string_view::npos;
        if (option.value == Value::none && hasEquals)
            state.error = usageError("option '" + std::string(name) + "' takes no value");
        else if (option.value == Value::required && !hasEquals && next == nullptr)
            state.error = usageError("option '" + std::string(name) + "' needs a value");
        if (state.error)
            return 1;
        const bool valueNext = option.value == Value::required && !hasEquals;
        const std::string_view value = valueNext   ? std::string_view(next)
                                       : hasEquals ? arg.substr(equals + 1)
                                                   : std::string_view{};
        const bool valued = valueNext || hasEquals;
        option.take(state, {std::string(name) + (valued ? "=" : "") + std::string(value), value});
        return valueNext ? 2 : 1;
    }
    state.error = usageError("unknown option '" + std::string(arg) + "'" + nearestOption(name));
    return 1;
}

// An option other than --help, --version and --: long ones by name, single-dash ones by their
// second character.
std::size_t takeOption(Planning& state, std::string_view arg, const char* next) {
    const char option = arg[1];
    if (option == '-')
        return takeLongOption(state, arg, next);
    if (option == 't')
        state.threeTwoPulldown = true;
    else if (option == 'p')
        state.pal2Film = true;
    else if (option == 'n')
        state.pal2Film = state.threeTwoPulldown = false;
    else if (arg.starts_with(delayOption))
        takeDelay(state, arg);
    else if (option == 'd')
        state.plan.warnings.push_back("ignoring '" + std::string(arg) +
                                      "': a delay is written -d=TIME, as -d=20.039");
    else
        state.plan.warnings.push_back("ignoring unknown option '" + std::string(arg) +
                                      "'; see 'chapcat --help'");
    return 1;
}

// Options for a next file that never came.
void checkWhatIsLeft(Planning& state) {
    if (!state.error && state.length)
        state.error = usageError("length '" + state.lengthArg + "' with no file after it");
    for (const auto* given : {&state.keeps, &state.cuts})
        if (!state.error && !given->empty())
            state.error = usageError("range '" + given->front().arg + "' with no file after it");
    if (!state.delayArg.empty())
        state.plan.warnings.push_back("ignoring delay '" + state.delayArg +
                                      "' with no file after it");
}

} // namespace

std::string formatNames() {
    std::string names;
    const auto all = writers();
    for (std::size_t i = 0; i < all.size(); ++i)
        names += (i == 0 ? "" : i + 1 == all.size() ? " or " : ", ") + std::string(all[i]->name);
    return names;
}

std::variant<Answer, Plan> planRun(std::span<const char* const> args, int standardInput) {
    Planning state;
    state.standardInput = standardInput;
    for (std::size_t i = 0; i < args.size();) {
        const std::string_view arg = args[i];
        const char* next = i + 1 < args.size() ? args[i + 1] : nullptr;
        const bool isOption = !state.optionsEnded && arg.starts_with('-') && arg != "-";
        if (isOption && arg == helpOption)
            return Answer{0, usage(), {}};
        if (isOption && arg == versionOption)
            return Answer{0, "chapcat " CHAPCAT_VERSION "\n", {}};
        std::size_t taken = 1;
        // After --, every argument is a file, even after a usage error.
        if (isOption && arg == endOfOptions)
            state.optionsEnded = true;
        else if (!state.error && !isOption)
            takeFile(state, arg);
        else if (!state.error)
            taken = takeOption(state, arg, next);
        else if (isOption)
            taken = argumentsTaken(arg, next); // a value is no option, even after an error
        i += taken;
    }
    checkWhatIsLeft(state);
    if (!state.error)
        return std::move(state.plan);
    for (const Step& step : state.plan.steps) // opened for a run that will not be
        if (step.list && !step.standardInput)
            close(step.list->fd);
    return *state.error;
}
