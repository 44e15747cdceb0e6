// The run: the plan, then for each input: open, detect, read, place, check, write; then the status.
#include "run.hpp"

#include "bounds.hpp"
#include "chapters.hpp"
#include "edit.hpp"
#include "file_list.hpp"
#include "output.hpp"
#include "placement.hpp"
#include "plan.hpp"
#include "sources/source.hpp"

#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the run carries from input to input.
struct Run {
    Output& output;
    Chapters chapters;
    PartChapters partChapters;
    bool verbose;
    Join join;
    bool hinted = false; // --part-chapters was suggested
    Carried carried{};
    std::optional<std::int64_t> videoEnd{}; // where the last part ends, when its length is known
    std::vector<char> buffer{};             // input, reused from one input to the next
};

// A time as it is written, rounded to the millisecond.
std::optional<std::int64_t> writtenTime(std::optional<ExactTime> time) {
    return time ? rounded(*time) : std::nullopt;
}

// One part's events from its source: placed, then checked and written.
struct PartEvents final : Events {
    Run& run;
    Part& part;
    std::string_view file;
    std::int64_t given = 0;          // chapters placed
    std::int64_t handed = 0;         // chapter lines from the source, taken or not
    std::optional<std::int64_t> end; // where the part ends, as written, when that is known
    bool endIsOwn = false;           // that end is the input's own length
    PartEdit edit{};                 // what is kept of the part, where it is cut

    PartEvents(Run& run, Part& part, std::string_view file)
        : run(run), part(part), file(file), end(writtenTime(part.end)) {}

    void handOn(const ChapterLine& line, std::int64_t lineNumber) {
        const ChapterLine placed = place(part, line);
        const Place where{file, lineNumber, end, endIsOwn};
        ++handed;
        given += placed.kind == LineKind::time ? 1 : 0;
        if (placed.kind == LineKind::time || placed.kind == LineKind::name)
            take(run.chapters, placed, where);
        else if (placed.kind != LineKind::other)
            skip(run.chapters, placed.kind, where);
    }

    void handOn(const EditedLines& lines) {
        for (std::size_t i = 0; i < lines.count; ++i)
            handOn(lines.lines[i].line, lines.lines[i].lineNumber);
    }

    // Out of the way of the lines of parts that are not cut.
    [[gnu::noinline]] void editAndHandOn(const ChapterLine& line, std::int64_t lineNumber) {
        handOn(editLine(edit, line, lineNumber));
    }

    // Called for every chapter line: flattened, the stages below cost no calls (measured).
    [[gnu::flatten]] void chapter(const ChapterLine& line, std::int64_t lineNumber) override {
        if (!edit.kept.empty()) [[unlikely]]
            return editAndHandOn(line, lineNumber);
        handOn(line, lineNumber);
    }

    void note(std::int64_t lineNumber, std::string_view message, bool fails) override {
        report(run.output, where(file, lineNumber) + std::string(message),
               fails ? Severity::failure : Severity::warning);
    }

    // The part's own length once it is cut, where it is.
    std::optional<ExactTime> keptOf(std::optional<ExactTime> length) const {
        return edit.kept.empty() ? length : keptLength(edit.kept, length);
    }

    void ownExtent(ExactTime start, ExactTime length) override {
        // The first part is where the joined file starts: it is not moved. A part cut after its
        // start starts where the cut is.
        const bool cutAtStart = !edit.kept.empty() && edit.kept.front().from != ExactTime{};
        if (run.chapters.part != 1 && start != ExactTime{} && !cutAtStart)
            part.start = start;
        if (part.end)
            return; // a --length= given wins
        end = writtenTime(partEnd(part, keptOf(length)));
        endIsOwn = end.has_value();
    }

    void cutAt(std::span<const TimeRange> actual) override {
        if (actual.size() == edit.kept.size())
            edit.kept.assign(actual.begin(), actual.end());
    }
};

// Reading a regular file while appending to it would never end.
bool isOutputFile(int fd, const Output& output) {
    struct stat input;
    struct stat written;
    return output.fd >= 0 && fstat(fd, &input) == 0 && S_ISREG(input.st_mode) &&
           fstat(output.fd, &written) == 0 && input.st_dev == written.st_dev &&
           input.st_ino == written.st_ino;
}

// The step's input, open; none where it cannot be read (said).
std::optional<int> openInput(const Step& step, Streams streams, Output& output) {
    if (step.standardInput)
        return streams.in; // -1 where it was closed: reading it fails and says so
    const std::string name(step.name);
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        report(output, "Failed to open \"" + name + "\".", Severity::failure, Prefix::bare);
        return std::nullopt;
    }
    if (isOutputFile(fd, output)) {
        close(fd);
        report(output, where(name, 0) + "input file is output file", Severity::failure);
        return std::nullopt;
    }
    return fd;
}

// A part that gave no chapter of its own gets one at its start, titled with its media title
// (where that is asked for and it has one), else its file name.
void addPartChapter(PartEvents& events, std::string_view file, std::string_view mediaTitle) {
    // Its name without folder and extension; a leading dot starts a name, not an extension.
    std::string_view title = file.substr(file.find_last_of('/') + 1);
    if (const auto dot = title.find_last_of('.'); dot != 0 && dot != std::string_view::npos)
        title = title.substr(0, dot);
    if (!mediaTitle.empty())
        title = mediaTitle;
    events.handOn({LineKind::time, 1, 0, {}}, 1); // at the start of what is kept
    events.handOn({LineKind::name, 1, 0, title}, 1);
}

// A time to the microsecond, for --verbose: HH:MM:SS.mmmuuu, truncated toward zero.
std::string preciseTimestamp(ExactTime time) {
    const Int128 nanoseconds = nanosecondsOf(time);
    const Int128 magnitude = nanoseconds < 0 ? -nanoseconds : nanoseconds;
    const auto milliseconds = static_cast<std::int64_t>(magnitude / nanosecondsPerMillisecond);
    const auto microseconds = static_cast<int>(magnitude % nanosecondsPerMillisecond / 1000);
    std::string text = timestamp(milliseconds);
    text += static_cast<char>('0' + microseconds / 100);
    text += static_cast<char>('0' + microseconds / 10 % 10);
    text += static_cast<char>('0' + microseconds % 10);
    return (nanoseconds < 0 ? "-" : "") + text;
}

// What the cut kept of the part and did to its chapters, for --verbose.
std::string keptText(const PartEdit& edit) {
    if (edit.kept.empty())
        return {};
    std::string text = ", keeps";
    for (std::size_t i = 0; i < edit.kept.size(); ++i) {
        const TimeRange& range = edit.kept[i];
        text += (i == 0                      ? " "
                 : i + 1 == edit.kept.size() ? " and "
                                             : ", ") +
                preciseTimestamp(range.from) + "-" +
                (range.to ? preciseTimestamp(*range.to) : "its end");
    }
    return text + " of its own time (" + std::to_string(edit.moved) + " moved, " +
           std::to_string(edit.leftOut) + " left out)";
}

// Where the part went in the joined video, for --verbose.
// ownLength: the part's own length, or what is kept of it.
void sayWhere(Run& run, const PartEvents& events, const PartRead& read,
              std::optional<ExactTime> ownLength) {
    const std::string_view rule =
        read.lengthFrom.empty() ? joinNames[static_cast<int>(run.join)].rule : read.lengthFrom;
    const Part& part = events.part;
    const auto start = partStart(part);
    const auto end = partEnd(part, ownLength);
    const auto length = start && end ? subtract(*end, *start) : std::nullopt;
    std::string text = std::string(events.file) + ": starts at " +
                       (start ? preciseTimestamp(*start) : "(out of range)");
    if (length)
        text += ", lasts " + preciseTimestamp(*length) +
                (part.end                   ? " (--length=)"
                 : events.edit.kept.empty() ? " (" + std::string(rule) + ")"
                                            : " (the ranges kept)");
    else
        text += ", length unknown (the next part starts at its last chapter)";
    text += keptText(events.edit) + ", " + std::to_string(events.given) +
            (events.given == 1 ? " chapter" : " chapters");
    report(run.output, text);
}

std::string timeText(ExactTime time) {
    return timestamp(rounded(time).value_or(time.milliseconds));
}

// A range that reaches past the part's own end keeps less than was asked.
void sayRangesPastEnd(PartEvents& events, std::optional<ExactTime> ownLength) {
    if (!ownLength)
        return;
    const std::string end = " the part's end (" + timeText(*ownLength) + ")";
    for (const TimeRange& range : events.edit.kept) {
        if (!earlier(range.from, *ownLength))
            events.note(0,
                        "the range from " + timeText(range.from) + " starts at or after" + end +
                            ": it keeps nothing",
                        true);
        else if (range.to && earlier(*ownLength, *range.to))
            events.note(0,
                        "the range to " + timeText(*range.to) + " runs past" + end +
                            ": it keeps what there is",
                        false);
    }
}

// A part that gave nothing must not pass unsaid, whatever its format: a text part without
// chapter lines is not. kind: what the format calls such a part.
void sayWhatPartLacks(Run& run, PartEvents& events, const PartRead& read, std::string_view kind) {
    if (events.handed > 0 || run.partChapters != PartChapters::none)
        return;
    if (!read.length && !events.part.end) {
        events.note(0,
                    "no chapters and no length in this " + std::string(kind) +
                        "; give its --length=, or --part-chapters",
                    true);
    } else if (!run.hinted) {
        run.hinted = true;
        events.note(0,
                    "no chapters in this " + std::string(kind) +
                        "; --part-chapters gives each such part one, titled with its file name",
                    false);
    }
}

// The part has been read: what it lacks is said, and the next part placed after it. Returns
// false when the run must stop.
bool finishPart(Run& run, PartEvents& events, const PartRead& read, const Source& source) {
    Part& part = events.part;
    if (!events.edit.kept.empty()) {
        events.handOn(endEdit(events.edit, read.length));
        sayRangesPastEnd(events, read.length);
    }
    if (!source.emptyPart.empty() && run.chapters.writer.part == nullptr)
        sayWhatPartLacks(run, events, read, source.emptyPart);
    if (run.partChapters != PartChapters::none && !part.placedAny)
        addPartChapter(events, events.file,
                       run.partChapters == PartChapters::byTitle ? read.title : "");
    const std::optional<ExactTime> length = events.keptOf(read.length);
    endChapters(run.chapters, events.file, part.end || length);
    if (run.verbose)
        sayWhere(run, events, read, length);
    if (!flush(run.output))
        return false;
    run.videoEnd = writtenTime(partEnd(part, length));
    run.carried = endPart(run.carried, part, length);
    return true;
}

// For a format that lists the parts, the part; false where it cannot be listed (said).
bool listPart(Run& run, const Step& step, const Source& source) {
    const auto list = run.chapters.writer.part;
    if (list == nullptr)
        return true;
    const std::string why =
        source.media ? std::string(list(run.output, {step.name, step.kept}))
                     : "not a media file; --format=" + std::string(run.chapters.writer.name) +
                           " lists the media files that are joined";
    if (why.empty())
        return true;
    report(run.output, where(step.name, 0) + why, Severity::failure);
    return false;
}

// Reads one part to its end. Returns false when the run must stop.
bool readPart(Run& run, const Step& step, int fd) {
    Part part =
        startPart(run.carried, step.delay, step.length, {step.pal2Film, step.threeTwoPulldown});
    if (part.endOutOfRange)
        report(run.output,
               std::string(step.name) + ": end of part out of range; its length is "
                                        "ignored",
               Severity::failure);
    ++run.chapters.part;
    Input input{fd, step.name, step.standardInput ? "" : step.name, run.buffer, run.output};
    input.join = run.join;
    input.kept = step.kept;
    input.opensOutput = run.chapters.part == 1;
    PartEvents events(run, part, step.name);
    events.edit.kept = step.kept;
    const Source* source = startInput(input) ? detect(input) : nullptr;
    if (source == nullptr)
        return !readFailed(input, events).stop;
    if (!listPart(run, step, *source))
        return false;
    run.chapters.untitled = source->untitled;
    run.chapters.titlesMayBreak = source->titlesMayBreak;
    const PartRead read = source->read(input, events);
    return !read.stop && finishPart(run, events, read, *source);
}

// Frees what the reading held, so that what was written can still be closed, and says why the
// run stops without asking for more memory.
void sayOutOfMemory(Run& run) {
    std::vector<char>().swap(run.buffer);
    flush(run.output);
    writeAll(run.output.errorFd, "chapcat: out of memory\n");
}

// Opens, reads and closes one part. Returns false when the run must stop.
bool readStep(Run& run, const Step& step, Streams streams) {
    const std::optional<int> fd = openInput(step, streams, run.output);
    const bool goOn = fd && readPart(run, step, *fd);
    if (fd && !step.standardInput)
        close(*fd);
    return goOn;
}

std::string problemWith(NextName name) {
    return name == NextName::tooLong ? "file name longer than " + sizeText(maxLineSize)
                                     : "file name holds a NUL byte, which no file name can";
}

void closeList(const Step& step) {
    if (!step.standardInput)
        close(step.list->fd);
}

// Reads the parts a list names, one after another, as if they stood on the command line.
// Returns false when the run must stop.
bool readList(Run& run, const Step& step, Streams streams) {
    std::vector<char> buffer; // the list's own, kept while its parts are read
    FileList list{{step.list->fd, step.name, "", buffer, run.output}, step.list->separator};
    Step part = step;
    part.list.reset();
    bool named = false;
    bool goOn = true;
    std::string_view name;
    for (NextName next; goOn && (next = nextName(list, name)) != NextName::end;) {
        if (next == NextName::failed) {
            if (list.input.error != 0)
                report(run.output, where(step.name, 0) + std::strerror(list.input.error),
                       Severity::failure);
            goOn = false;
        } else if (next != NextName::name) {
            report(run.output, where(step.name, list.lineNumber) + problemWith(next),
                   Severity::failure);
            goOn = false;
        } else if (step.standardInput && name == "-") { // the rest of the list would be read
            report(run.output,
                   where(step.name, list.lineNumber) +
                       "the list is standard input, which cannot also be a part",
                   Severity::failure);
            goOn = false;
        } else {
            part.standardInput = name == "-";
            part.name = part.standardInput ? "standard input" : name;
            goOn = readStep(run, part, streams);
            part.delay = 0; // the delay, length and ranges were for the first
            part.length.reset();
            part.kept.clear();
            named = true;
        }
    }
    closeList(step);
    if (goOn && !named)
        report(run.output, where(step.name, 0) + "names no file", Severity::failure);
    return goOn;
}

int runPlan(const Plan& plan, Streams streams, Output& output) {
    for (const std::string& warning : plan.warnings)
        report(output, warning);
    Run run{output,
            {*plan.writer, output},
            plan.partChapters,
            plan.verbose,
            plan.join.value_or(plan.writer->join)};
    run.chapters.state.cueFile = plan.cueFile;
    beginChapters(run.chapters);
    bool stopped = false;
    std::size_t done = 0; // steps read
    try {
        for (; done < plan.steps.size() && !stopped; ++done) {
            const Step& step = plan.steps[done];
            stopped = step.list ? !readList(run, step, streams) : !readStep(run, step, streams);
        }
    } catch (const std::bad_alloc&) {
        stopped = true;
        sayOutOfMemory(run);
    }
    for (; done < plan.steps.size(); ++done) // lists the run did not reach
        if (plan.steps[done].list)
            closeList(plan.steps[done]);
    // A run that stops still ends what it wrote, so that a document stays well-formed.
    try {
        finishChapters(run.chapters, stopped ? std::nullopt : run.videoEnd, stopped);
    } catch (const std::bad_alloc&) {
        closeChapters(run.chapters); // without the chapter held, which needed more
    }
    flush(output);
    return stopped ? 1 : exitStatus(output);
}

} // namespace

int runChapcat(std::span<const char* const> args, Streams streams) {
    Output output = makeOutput(streams.out, streams.err);
    try {
        const auto planned = planRun(args, streams.in);
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
