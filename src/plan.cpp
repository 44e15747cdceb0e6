#include "plan.hpp"

#include "timestamp.hpp"

#include <cstdint>
#include <optional>

namespace {

constexpr std::string_view usage =
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
    "  --format=FORMAT  write the whole list as simple (the default), ffmetadata\n"
    "             (FFmpeg metadata) or matroska (Matroska chapters XML)\n"
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

std::optional<Format> formatNamed(std::string_view name) {
    if (name == "simple")
        return Format::simple;
    if (name == "ffmetadata")
        return Format::ffmetadata;
    if (name == "matroska")
        return Format::matroska;
    return std::nullopt;
}

constexpr std::string_view tryHelp = "\nTry 'chapcat --help' for more information.";

// A usage error: the message, and the hint that goes with every one.
Answer usageError(const std::string& message) {
    return {2, {}, message + std::string(tryHelp)};
}

} // namespace

std::variant<Answer, Plan> planRun(std::span<const char* const> args) {
    Plan plan;
    std::optional<Answer> error; // the first usage error; --help and --version still win
    bool pal2Film = false;
    bool threeTwoPulldown = false;
    bool optionsEnded = false;
    std::int64_t delay = 0;
    std::optional<std::int64_t> length; // for the next input
    std::string_view lengthArg;
    std::uint64_t delayMagnitudes = 0; // bounds every sum of delays the run can form
    std::string_view formatArg;
    for (const std::string_view arg : args) {
        const bool isOption = !optionsEnded && arg.starts_with('-') && arg != "-";
        if (isOption && arg == "--help")
            return Answer{0, std::string(usage), {}};
        if (isOption && arg == "--version")
            return Answer{0, "chapcat " CHAPCAT_VERSION "\n", {}};
        if (error)
            continue;
        if (!isOption) {
            const bool standardInput = arg == "-";
            plan.steps.push_back({standardInput ? "standard input" : arg, standardInput, pal2Film,
                                  threeTwoPulldown, delay, length});
            delay = 0;
            length.reset();
            continue;
        }
        const char option = arg[1];
        if (arg == "--") {
            optionsEnded = true;
        } else if (option == 't') {
            threeTwoPulldown = true;
        } else if (option == 'p') {
            pal2Film = true;
        } else if (option == 'n') {
            pal2Film = threeTwoPulldown = false;
        } else if (arg.starts_with("-d=")) {
            std::int64_t value = 0;
            const TimeStatus status = timeArgumentToInt(arg.substr(3), value);
            const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                                      : static_cast<std::uint64_t>(value);
            if (status == TimeStatus::malformed)
                error = usageError("invalid delay '" + std::string(arg) +
                                   "': expected a time such as -d=00:05:00.000, -d=1:05.5 or "
                                   "-d=20.039");
            else if (status == TimeStatus::outOfRange ||
                     __builtin_add_overflow(delayMagnitudes, magnitude, &delayMagnitudes) ||
                     delayMagnitudes > INT64_MAX)
                error = Answer{2, {}, "delays out of range at '" + std::string(arg) + "'"};
            else
                delay += value;
        } else if (arg.starts_with("--length=")) {
            std::int64_t value = 0;
            if (length)
                error = usageError("two lengths, '" + std::string(lengthArg) + "' and '" +
                                   std::string(arg) + "', for one file");
            else if (timeArgumentToInt(arg.substr(9), value) != TimeStatus::ok)
                error = usageError("invalid length '" + std::string(arg) +
                                   "': expected a time such as --length=00:42:17.480 or "
                                   "--length=2537.48");
            else if (value < 0)
                error = usageError("negative length '" + std::string(arg) + "'");
            length = value;
            lengthArg = arg;
        } else if (arg.starts_with("--format=")) {
            const std::string_view value = arg.substr(9);
            const auto format = formatNamed(value);
            if (!format)
                error = usageError("unknown format '" + std::string(value) +
                                   "': expected simple, ffmetadata or matroska");
            else if (!formatArg.empty() && *format != plan.format)
                error = usageError("two formats, '" + std::string(formatArg) + "' and '" +
                                   std::string(arg) + "'");
            plan.format = format.value_or(plan.format);
            formatArg = arg;
        } else {
            plan.warnings.push_back("ignoring unknown option '" + std::string(arg) +
                                    "'; see 'chapcat --help'");
        }
    }
    if (!error && length)
        error = usageError("length '" + std::string(lengthArg) + "' with no file after it");
    if (error)
        return *error;
    return plan;
}
