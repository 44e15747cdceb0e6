// chapcat: joins the chapter lists of a video's parts into one list for the whole video.
#include "main.hpp"

#include "chapter_line.hpp"
#include "line_reader.hpp"
#include "output.hpp"
#include "placement.hpp"
#include "plan.hpp"
#include "timeline.hpp"
#include "writer.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* problemWith(LineKind kind) {
    return kind == LineKind::badTime          ? "malformed chapter time"
           : kind == LineKind::timeOutOfRange ? "chapter time out of range"
                                              : "chapter number out of range";
}

bool isBlank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

// What a file without chapter lines seems to be, for its warning.
std::string noChaptersIn(std::string_view firstLine) {
    const char* looksLike = firstLine.starts_with('<')              ? "Matroska XML chapters"
                            : firstLine.starts_with(";FFMETADATA1") ? "FFmpeg metadata"
                                                                    : nullptr;
    return looksLike ? std::string("no chapter lines; this looks like ") + looksLike +
                           ", but chapcat reads CHAPTERnn= lines"
                     : "no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)";
}

// What the run carries from input to input besides the placement.
struct Joining {
    Writer writer;
    Output& output;
    LineReader reader;
    Timeline timeline;
    int status = 0;
};

void warn(Joining& run, const std::optional<Report>& found, std::string_view name) {
    if (!found)
        return;
    // Only the simple format keeps a name line without a time line.
    const bool nameDropped =
        found->finding == Finding::nameWithoutTime && run.writer.format != Format::simple;
    if (found->finding == Finding::beforeZero || nameDropped)
        run.status = 1;
    report(run.output, describe(*found, name, nameDropped));
}

// Reads one input to its end, writing its chapters. Returns false when the run must stop.
bool readPart(const Step& step, int fd, Part& part, Joining& run) {
    Output& output = run.output;
    LineReader& reader = run.reader;
    startReading(reader, fd);
    const std::string name(step.name);
    bool sawChapterLine = false;
    // The start of the first line that is not blank, from its first character, while no
    // chapter line is seen.
    std::string firstLine;
    Line line;
    const auto skip = [&](const char* problem) {
        warn(run, breakPair(run.timeline), name); // a skipped line parts a pair
        run.status = 1;
        report(output,
               name + ":" + std::to_string(line.number) + ": " + problem + "; line skipped");
    };
    for (NextLine next; (next = nextLine(reader, line)) != NextLine::end;) {
        if (next == NextLine::needInput) {
            if (!flush(output))
                return false;
            if (const int error = fill(reader)) {
                report(output, name + ": " + std::strerror(error));
                return false;
            }
            continue;
        }
        if (line.state == LineState::tooLong) {
            sawChapterLine = true;
            skip("chapter line longer than 1 MiB");
            continue;
        }
        const ChapterLine placed = place(part, parseLine(line.text));
        if (placed.kind != LineKind::other)
            sawChapterLine = true;
        switch (placed.kind) {
        case LineKind::other:
            if (!sawChapterLine && firstLine.empty() && !isBlank(line.text))
                firstLine = line.text.substr(line.text.find_first_not_of(" \t"), 64);
            break;
        case LineKind::time:
        case LineKind::name: {
            Report reports[maxReports];
            const Checked checked = check(run.timeline, placed, line.number, part.end, reports);
            for (int i = 0; i < checked.count; ++i)
                warn(run, reports[i], name);
            writeLine(run.writer, output, placed, checked.pairsWithPrevious);
            break;
        }
        default:
            skip(problemWith(placed.kind));
        }
    }
    warn(run, endOfPart(run.timeline), name);
    if (!sawChapterLine && !firstLine.empty()) {
        run.status = 1;
        report(output, name + ": " + noChaptersIn(firstLine));
    }
    return flush(output);
}

// Reading a regular file while appending to it would never end.
bool isOutputFile(int fd, const Output& output) {
    struct stat input;
    struct stat written;
    return output.fd >= 0 && fstat(fd, &input) == 0 && S_ISREG(input.st_mode) &&
           fstat(output.fd, &written) == 0 && input.st_dev == written.st_dev &&
           input.st_ino == written.st_ino;
}

int runPlan(const Plan& plan, Streams streams, Output& output) {
    for (const std::string& warning : plan.warnings)
        report(output, warning);
    Joining run{{}, output, {}, {}};
    run.writer.format = plan.format;
    beginOutput(run.writer, output);
    Carried carried;
    std::optional<std::int64_t> videoEnd; // where the last part ends, when its length is known
    bool stopped = false;
    for (const Step& step : plan.steps) {
        const std::string name(step.name);
        const int fd = step.standardInput ? streams.in : open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && !step.standardInput) {
            report(output, "Failed to open \"" + name + "\".", Prefix::bare);
            stopped = true;
            break;
        }
        const auto closeInput = [&] {
            if (!step.standardInput)
                close(fd);
        };
        if (isOutputFile(fd, output)) {
            closeInput();
            report(output, name + ": input file is output file");
            stopped = true;
            break;
        }
        Part part =
            startPart(carried, step.delay, step.length, step.pal2Film, step.threeTwoPulldown);
        if (part.endOutOfRange) {
            run.status = 1;
            report(output, name + ": end of part out of range; its length is ignored");
        }
        const bool carryOn = readPart(step, fd, part, run);
        closeInput();
        if (!carryOn) {
            stopped = true;
            break;
        }
        carried = endPart(carried, part);
        videoEnd = part.end;
    }
    // A run that stops still ends what it wrote, so that a document stays well-formed.
    endOutput(run.writer, output, stopped ? std::nullopt : videoEnd);
    return flush(output) && !stopped ? run.status : 1;
}

} // namespace

int runChapcat(std::span<const char* const> args, Streams streams) {
    Output output = makeOutput(streams.out, streams.err);
    try {
        const auto planned = planRun(args);
        if (const auto* answer = std::get_if<Answer>(&planned)) {
            append(output, answer->out);
            if (!answer->message.empty())
                report(output, answer->message);
            return flush(output) ? answer->status : 1;
        }
        return runPlan(std::get<Plan>(planned), streams, output);
    } catch (const std::bad_alloc&) {
        flush(output);
        writeAll(streams.err, "chapcat: out of memory\n");
        return 1;
    }
}

#ifndef CHAPCAT_NO_ENTRY_POINT
namespace {

// Fills closed descriptors 0 to 2 with /dev/null, so that no input opened later lands on one of
// them. A closed standard input or output stays unusable (-1: reading or writing it fails with
// EBADF); messages to a closed standard error are dropped.
Streams openStandardStreams() {
    Streams streams{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        open("/dev/null", O_RDWR); // takes the lowest free descriptor, which is fd
        if (fd == STDIN_FILENO)
            streams.in = -1;
        if (fd == STDOUT_FILENO)
            streams.out = -1;
    }
    return streams;
}

} // namespace

int main(int argc, char** argv) {
    const Streams streams = openStandardStreams();
    return runChapcat({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)}, streams);
}
#endif
