// chapcat: joins the chapter lists of a video's parts into one list for the whole video.
#include "main.hpp"

#include "chapter_line.hpp"
#include "timestamp.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t readSize = 128 * 1024;
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// Writes all of data, retrying short and interrupted writes.
bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void report(int errFd, std::string_view message) {
    std::string text = "chapcat: ";
    text += message;
    text += '\n';
    writeAll(errFd, text);
}

std::string_view delayValue(std::string_view arg) {
    return arg.starts_with("-d=") ? arg.substr(3) : std::string_view{};
}

constexpr std::string_view usage =
    "Usage: chapcat [OPTION | FILE]...\n"
    "Join the chapter lists of a video's parts into one list on standard output.\n"
    "Chapter numbers continue from file to file, and each file's times start at the\n"
    "last chapter time of the file before it, plus any delay.\n"
    "\n"
    "Options apply to the files named after them:\n"
    "  -d=TIME    add TIME (HH:MM:SS.mmm, may be negative) to the next file's times\n"
    "  -p         PAL to film: stretch times by 1001/960 (25 fps to 23.976 fps)\n"
    "  -t         3:2 pulldown: stretch times by 1.001\n"
    "  -n         switch -p and -t off again\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Example:\n"
    "  chapcat part1.txt -d=00:02:32.900 part2.txt part3.txt > whole.txt\n"
    "\n"
    "Exit status: 0 success; 1 a file could not be opened or read, a malformed\n"
    "chapter line was skipped, or output failed; 2 a bad command line.\n";

// Answers --help and --version, whatever else is there, and rejects what would go wrong later,
// before any file is read: a delay that is not a timestamp, or delays that could add up past the
// range of a time. Returns the exit status when the run ends here.
std::optional<int> checkArguments(std::span<const char* const> args, int outFd, int errFd) {
    for (const std::string_view arg : args) {
        if (arg == "--help" || arg == "--version") {
            const std::string text =
                arg == "--help" ? std::string(usage) : "chapcat " CHAPCAT_VERSION "\n";
            if (writeAll(outFd, text))
                return 0;
            report(errFd, std::string("write error: ") + std::strerror(errno));
            return 1;
        }
    }
    std::uint64_t totalDelay = 0;
    for (const std::string_view arg : args) {
        if (!arg.starts_with("-d="))
            continue;
        const auto delay = timestampToInt(delayValue(arg));
        if (!delay) {
            report(errFd, "invalid delay '" + std::string(arg) +
                              "': expected a time such as -d=00:05:00.000\n"
                              "Try 'chapcat --help' for more information.");
            return 2;
        }
        const std::uint64_t magnitude = *delay < 0 ? 0 - static_cast<std::uint64_t>(*delay)
                                                   : static_cast<std::uint64_t>(*delay);
        if (__builtin_add_overflow(totalDelay, magnitude, &totalDelay) || totalDelay > INT64_MAX) {
            report(errFd, "delays out of range at '" + std::string(arg) + "'");
            return 2;
        }
    }
    return std::nullopt;
}

// Calls onLine(line, lineNumber) for each line of fd, with the newline, every carriage return
// and a leading byte-order mark removed; a last line without a newline counts too. Calls
// beforeRead() before each read, which stops the reading by returning false. Returns 0, or the
// errno of a failed read.
template <typename OnLine, typename BeforeRead>
int readLines(int fd, std::vector<char>& buffer, std::string& pending, std::string& scratch,
              OnLine onLine, BeforeRead beforeRead) {
    std::int64_t lineNumber = 0;
    // mayHaveCR is false for lines of a chunk known to have none, which saves a search a line.
    auto deliver = [&](std::string_view line, bool mayHaveCR) {
        if (++lineNumber == 1 && line.starts_with(byteOrderMark))
            line.remove_prefix(byteOrderMark.size());
        onLine(mayHaveCR ? stripCR(line, scratch) : line, lineNumber);
    };
    pending.clear();
    while (beforeRead()) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0) {
            if (!pending.empty())
                deliver(pending, true);
            break;
        }
        const char* p = buffer.data();
        const char* const end = p + n;
        const bool chunkHasCR = std::memchr(p, '\r', static_cast<std::size_t>(n)) != nullptr;
        while (const char* newline = static_cast<const char*>(
                   std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) {
            if (pending.empty()) {
                deliver({p, newline}, chunkHasCR);
            } else {
                pending.append(p, newline);
                deliver(pending, true);
                pending.clear();
            }
            p = newline + 1;
        }
        pending.append(p, end);
    }
    return 0;
}

} // namespace

std::string_view stripCR(std::string_view line, std::string& scratch) {
    if (line.ends_with('\r')) // the usual case, a Windows line end, needs no copy
        line.remove_suffix(1);
    auto carriageReturn = line.find('\r');
    if (carriageReturn == std::string_view::npos)
        return line;
    scratch.clear();
    while (carriageReturn != std::string_view::npos) {
        scratch.append(line.substr(0, carriageReturn));
        line.remove_prefix(carriageReturn + 1);
        carriageReturn = line.find('\r');
    }
    scratch.append(line);
    return scratch;
}

int runChapcat(std::span<const char* const> args, int outFd, int errFd) {
    if (const auto status = checkArguments(args, outFd, errFd))
        return *status;

    std::int64_t chapterOffset = 0;
    std::int64_t timeOffset = 0; // the last time written
    std::int64_t timeDelay = 0;  // delays given since then
    bool pal2Film = false;
    bool threeTwoPulldown = false;
    int status = 0;

    std::vector<char> buffer(readSize);
    std::string pending;
    std::string scratch;
    // Output is gathered here, and sent on before each read, before each message and at the
    // end, so that interactive input still gets its answer at once.
    std::vector<char> output(readSize);
    std::size_t outputUsed = 0;
    bool writeFailed = false;
    auto flushOut = [&] {
        if (!writeFailed && outputUsed != 0 && !writeAll(outFd, {output.data(), outputUsed})) {
            writeFailed = true;
            report(errFd, std::string("write error: ") + std::strerror(errno));
        }
        outputUsed = 0;
        return !writeFailed;
    };

    for (const std::string_view arg : args) {
        if (arg.starts_with('-')) {
            const char option = arg.size() > 1 ? arg[1] : '\0';
            if (option == 't')
                threeTwoPulldown = true;
            else if (option == 'p')
                pal2Film = true;
            else if (option == 'n')
                pal2Film = threeTwoPulldown = false;
            else if (arg.starts_with("-d="))
                timeDelay += *timestampToInt(delayValue(arg)); // checked in checkArguments
            continue;
        }

        const std::string name(arg);
        const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (!flushOut())
                return 1;
            writeAll(errFd, "Failed to open \"" + name + "\".\n");
            return 1;
        }
        std::int64_t nextChapterOffset = chapterOffset;
        std::optional<std::int64_t> nextTimeOffset;
        auto onLine = [&](std::string_view line, std::int64_t lineNumber) {
            const std::size_t room = line.size() + maxLineGrowth;
            if (output.size() - outputUsed < room) {
                flushOut();
                if (output.size() < room)
                    output.resize(room);
            }
            char* end = output.data() + outputUsed;
            const LineResult result =
                parseLine(line, chapterOffset, timeOffset, timeDelay, nextChapterOffset,
                          nextTimeOffset, pal2Film, threeTwoPulldown, end);
            outputUsed = static_cast<std::size_t>(end - output.data());
            if (result == LineResult::ignored || result == LineResult::written)
                return;
            status = 1;
            if (!flushOut())
                return;
            const char* problem = result == LineResult::badTime ? "malformed chapter time"
                                  : result == LineResult::timeOutOfRange
                                      ? "chapter time out of range"
                                      : "chapter number out of range";
            report(errFd,
                   name + ":" + std::to_string(lineNumber) + ": " + problem + "; line skipped");
        };
        const int readError = readLines(fd, buffer, pending, scratch, onLine, flushOut);
        close(fd);
        if (!flushOut())
            return 1;
        if (readError) {
            report(errFd, name + ": " + std::strerror(readError));
            return 1;
        }
        chapterOffset = nextChapterOffset;
        if (nextTimeOffset) {
            timeOffset = *nextTimeOffset;
            timeDelay = 0;
        }
    }
    return flushOut() ? status : 1;
}

#ifndef CHAPCAT_NO_ENTRY_POINT
int main(int argc, char** argv) {
    return runChapcat({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)}, STDOUT_FILENO,
                      STDERR_FILENO);
}
#endif
