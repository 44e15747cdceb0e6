#include "plan.hpp"

#include "timestamp.hpp"

#include <cstdint>
#include <optional>

namespace {

constexpr std::string_view helpOption = "--help";
constexpr std::string_view versionOption = "--version";
constexpr std::string_view endOfOptions = "--";
constexpr std::string_view delayOption = "-d=";
constexpr std::string_view lengthOption = "--length=";
constexpr std::string_view formatOption = "--format=";
constexpr std::string_view standardInputName = "-";

constexpr std::string_view usageHead =
    "Usage: chapcat [OPTION | FILE]... [-- FILE...]\n"
    "Join the chapter lists of a video's parts into one list on standard output.\n"
    "Chapter numbers continue from file to file, and each file's times start at the\n"
    "last chapter time of the file before it, plus any delay.\n"
    "\n"
    "A FILE of - is standard input; after --, every argument is a FILE.\n"
    "\n"
    "Options apply to the files named after them:\n"
    "  -d=TIME    add TIME to the next file's times; TIME is SS, MM:SS or HH:MM:SS,\n"
    "             with an optional fraction (.5 or ,5) and sign: -d=20.039, -d=-1:05.5\n"
    "  --length=TIME  the next file's part lasts TIME in the joined video (as a\n"
    "             probe reports it; never stretched): the file after it starts\n"
    "             where that part ends, whatever its chapters\n"
    "  --format=FORMAT  write the whole list in FORMAT, one of:\n";

constexpr std::string_view usageTail =
    "  -p         PAL to film: stretch times by 1001/960 (25 fps to 23.976 fps)\n"
    "  -t         3:2 pulldown: stretch times by 1.001\n"
    "  -n         switch -p and -t off again\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Examples:\n"
    "  chapcat part1.txt -d=00:02:32.900 part2.txt part3.txt > whole.txt\n"
    "  chapcat --format=ffmetadata --length=1450 part1.txt --length=1280 part2.txt \\\n"
    "      --length=1200 part3.txt > chapters.txt\n"
    "  ffmpeg -f concat -safe 0 -i parts.txt -i chapters.txt -map 0 -map_chapters 1 \\\n"
    "      -c copy whole.mp4\n"
    "  chapcat --format=matroska --length=1450 part1.txt --length=1280 part2.txt \\\n"
    "      --length=1200 part3.txt > chapters.xml\n"
    "  mkvmerge -o whole.mkv --chapters chapters.xml --no-chapters part1.mkv ...\n"
    "\n"
    "Warnings (unknown options, skipped lines, files without chapter lines, and\n"
    "what a muxer would object to in the merged list) go to standard error,\n"
    "prefixed 'chapcat: ' and naming the file and line.\n"
    "Exit status: 0 success; 1 a file could not be opened or read, a chapter line\n"
    "was skipped, a file had no chapter line, a chapter starts before zero, a\n"
    "name was dropped (ffmetadata, matroska), or output failed; 2 a bad command\n"
    "line.\n";

std::string usage() {
    std::string text(usageHead);
    for (const Writer* writer : writers())
        text += "               " + std::string(writer->name) +
                std::string(12 - std::min<std::size_t>(writer->name.size(), 11), ' ') +
                std::string(writer->summary) + "\n";
    return text + std::string(usageTail);
}

// "a, b or c": the names of the output formats.
std::string formatNames() {
    std::string names;
    const auto all = writers();
    for (std::size_t i = 0; i < all.size(); ++i)
        names += (i == 0 ? "" : i + 1 == all.size() ? " or " : ", ") + std::string(all[i]->name);
    return names;
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
    std::string_view lengthArg;
    std::string_view formatArg;
};

void takeFile(Planning& state, std::string_view arg) {
    const bool standardInput = arg == standardInputName;
    state.plan.steps.push_back({standardInput ? "standard input" : arg, standardInput,
                                state.pal2Film, state.threeTwoPulldown, state.delay, state.length});
    state.delay = 0;
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
        state.error = Answer{2, {}, "delays out of range at '" + std::string(arg) + "'"};
    else
        state.delay += value;
}

void takeLength(Planning& state, std::string_view arg) {
    std::int64_t value = 0;
    if (state.length)
        state.error = usageError("two lengths, '" + std::string(state.lengthArg) + "' and '" +
                                 std::string(arg) + "', for one file");
    else if (timeArgumentToInt(arg.substr(lengthOption.size()), value) != TimeStatus::ok)
        state.error = usageError("invalid length '" + std::string(arg) +
                                 "': expected a time such as --length=00:42:17.480 or "
                                 "--length=2537.48");
    else if (value < 0)
        state.error = usageError("negative length '" + std::string(arg) + "'");
    state.length = value;
    state.lengthArg = arg;
}

void takeFormat(Planning& state, std::string_view arg) {
    const std::string_view value = arg.substr(formatOption.size());
    const Writer* writer = writerNamed(value);
    if (!writer)
        state.error =
            usageError("unknown format '" + std::string(value) + "': expected " + formatNames());
    else if (!state.formatArg.empty() && writer != state.plan.writer)
        state.error = usageError("two formats, '" + std::string(state.formatArg) + "' and '" +
                                 std::string(arg) + "'");
    state.plan.writer = writer ? writer : state.plan.writer;
    state.formatArg = arg;
}

// An option other than --help, --version and --: the single-dash ones are known by their
// second character.
void takeOption(Planning& state, std::string_view arg) {
    const char option = arg[1];
    if (option == 't')
        state.threeTwoPulldown = true;
    else if (option == 'p')
        state.pal2Film = true;
    else if (option == 'n')
        state.pal2Film = state.threeTwoPulldown = false;
    else if (arg.starts_with(delayOption))
        takeDelay(state, arg);
    else if (arg.starts_with(lengthOption))
        takeLength(state, arg);
    else if (arg.starts_with(formatOption))
        takeFormat(state, arg);
    else
        state.plan.warnings.push_back("ignoring unknown option '" + std::string(arg) +
                                      "'; see 'chapcat --help'");
}

} // namespace

std::variant<Answer, Plan> planRun(std::span<const char* const> args) {
    Planning state;
    for (const std::string_view arg : args) {
        const bool isOption = !state.optionsEnded && arg.starts_with('-') && arg != "-";
        if (isOption && arg == helpOption)
            return Answer{0, usage(), {}};
        if (isOption && arg == versionOption)
            return Answer{0, "chapcat " CHAPCAT_VERSION "\n", {}};
        // After --, every argument is a file, even after a usage error.
        if (isOption && arg == endOfOptions)
            state.optionsEnded = true;
        else if (state.error)
            continue;
        else if (!isOption)
            takeFile(state, arg);
        else
            takeOption(state, arg);
    }
    if (!state.error && state.length)
        state.error =
            usageError("length '" + std::string(state.lengthArg) + "' with no file after it");
    if (state.error)
        return *state.error;
    return std::move(state.plan);
}
