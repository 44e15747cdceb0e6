// The command line, read once into a plan or an answer.
#include "bounds.hpp"
#include "file_list.hpp"
#include "output.hpp"
#include "plan.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// " kFROM-TO" for each range kept, in milliseconds.
std::string rangesOf(const Step& step) {
    std::string text;
    for (const TimeRange& range : step.kept)
        text += " k" + std::to_string(range.from.milliseconds) + "-" +
                (range.to ? std::to_string(range.to->milliseconds) : "");
    return text;
}

// A plan in one line: the format, then each step as NAME[:FLAGS] with its delay and length,
// then the warnings.
std::string describe(const std::variant<Answer, Plan>& planned) {
    if (const auto* answer = std::get_if<Answer>(&planned))
        return std::to_string(answer->status) + " " + answer->message;
    const Plan& plan = std::get<Plan>(planned);
    std::string text(plan.writer->name);
    for (const Step& step : plan.steps) {
        text += step.list ? (step.list->separator == '\0' ? " @0:" : " @:") : " ";
        text += std::string(step.standardInput ? "<stdin>" : step.name);
        text += step.pal2Film ? "p" : "";
        text += step.threeTwoPulldown ? "t" : "";
        text += step.delay != 0 ? " d" + std::to_string(step.delay) : "";
        text += step.length ? " l" + std::to_string(*step.length) : "";
        text += rangesOf(step);
    }
    text += plan.partChapters == PartChapters::byFile    ? " +part-chapters"
            : plan.partChapters == PartChapters::byTitle ? " +part-chapters=title"
                                                         : "";
    text += plan.join ? " +join=" + std::string(joinNames[static_cast<int>(*plan.join)].name) : "";
    text += plan.verbose ? " +verbose" : "";
    text += plan.cueFile.empty() ? "" : " +cue-file=" + plan.cueFile;
    for (const std::string& warning : plan.warnings)
        text += " [" + warning + "]";
    return text;
}

const std::string tryHelp = "\nTry 'chapcat --help' for more information.";

TEST(PlanRun, ReadsTheCommandLineOnce) {
    const struct {
        std::vector<const char*> args;
        std::string plan;
    } cases[] = {
        {{}, "simple"},
        {{"a", "-p", "b", "-n", "-t", "c"}, "simple a bp ct"},
        {{"-pal", "-tv", "-none", "a"}, "simple a"},
        {{"-d=1", "-d=-0.5", "a", "b"}, "simple a d500 b"},
        {{"--length=1:00", "a", "b"}, "simple a l60000 b"},
        {{"a", "--format=matroska", "--format=matroska"}, "matroska a"},
        {{"-", "--", "-p", "--help", "-"}, "simple <stdin> -p --help <stdin>"},
        {{"-d", "-x", "a"},
         "simple a [ignoring '-d': a delay is written -d=TIME, as -d=20.039] [ignoring unknown "
         "option '-x'; see 'chapcat --help']"},
        {{"a", "-d=5", "-d=1"}, "simple a [ignoring delay '-d=1' with no file after it]"},
        {{"missing", "-d=bad", "--help"}, "0 "},
        {{"-d=x", "--", "--help"},
         "2 invalid delay '-d=x': expected a time such as -d=00:05:00.000, "
         "-d=1:05.5 or -d=20.039" +
             tryHelp},
        {{"--format=xml"}, "2 unknown format 'xml': expected " + formatNames() + tryHelp},
        // Ranges kept of the next file: sorted, ranges that meet joined, cuts taken out.
        {{"--keep=30-50", "--keep=0:05-0:20", "a", "b"}, "simple a k5000-20000 k30000-50000 b"},
        {{"--keep=5-20", "--keep=20-30", "--cut=-6", "a"}, "simple a k6000-30000"},
        {{"--keep=5-20", "--cut=10-12.5", "a"}, "simple a k5000-10000 k12500-20000"},
        {{"--cut=10-", "--cut=0-1", "a"}, "simple a k1000-10000"},
        {{"--keep", "1:00-", "a"}, "simple a k60000-"},
        {{"--keep=5-20", "--keep=10-", "a"},
         "2 ranges '--keep=5-20' and '--keep=10-' overlap" + tryHelp},
        {{"--keep=5-20", "--cut=0-30", "a"}, "2 the ranges given keep nothing of 'a'" + tryHelp},
        {{"--cut=5-5", "a"}, "2 range '--cut=5-5' is empty: TO must come after FROM" + tryHelp},
        {{"a", "--keep=1-"}, "2 range '--keep=1-' with no file after it" + tryHelp},
        {{"--keep=-5-10", "a"},
         "2 invalid range '--keep=-5-10': expected FROM-TO, times as for -d=, as 0:05-0:20.5 or "
         "1:30- (to the end)" +
             tryHelp},
        {{"--format=simple", "--format=matroska"},
         "2 two formats, '--format=simple' and '--format=matroska'" + tryHelp},
        {{"--length=1", "--length=2", "a"},
         "2 two lengths, '--length=1' and '--length=2', for one file" + tryHelp},
        {{"a", "--length=5"}, "2 length '--length=5' with no file after it" + tryHelp},
        {{"--length=-1", "a"}, "2 negative length '--length=-1'" + tryHelp},
        {{"--length", "1:03.231", "a", "--format", "ffmetadata"}, "ffmetadata a l63231"},
        {{"--verbose", "a", "--part-chapters"}, "simple a +part-chapters +verbose"},
        {{"a", "--length"}, "2 option '--length' needs a value" + tryHelp},
        {{"--verbose=yes"}, "2 option '--verbose' takes no value" + tryHelp},
        {{"--part-chapters=title", "--join", "ffmpeg", "a"},
         "simple a +part-chapters=title +join=ffmpeg"},
        {{"--part-chapters=file", "--join=mkvmerge"}, "simple +part-chapters +join=mkvmerge"},
        {{"--cue-file", "Book.m4b", "a", "--format=cue"}, "cue a +cue-file=Book.m4b"},
        {{"--part-chapters", "title"}, "simple title +part-chapters"}, // a value only after =
        {{"--part-chapters=number"},
         "2 unknown way of naming part chapters 'number': expected title or file" + tryHelp},
        {{"--join=cat"},
         "2 unknown joining tool 'cat': expected ffmpeg, ffmpeg-filter or mkvmerge" + tryHelp},
        {{"--lenght=63.231", "a"},
         "2 unknown option '--lenght=63.231'; did you mean '--length'?" + tryHelp},
        {{"--d=5", "a"}, "2 unknown option '--d=5'; did you mean '-d='?" + tryHelp},
        {{"--helpme"}, "2 unknown option '--helpme'; did you mean '--help'?" + tryHelp},
        {{"--frobnicate-all"}, "2 unknown option '--frobnicate-all'" + tryHelp},
        {{"--=5"}, "2 unknown option '--=5'" + tryHelp},
        {{"-d=x", "--length", "--help"},
         "2 invalid delay '-d=x': expected a time such as -d=00:05:00.000, -d=1:05.5 or -d=20.039" +
             tryHelp},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(planRun(c.args)), c.plan) << c.args.size();
}

// A list stands where the option does, with the options then in force; the run reads it.
TEST(PlanRun, OpensListsOfFiles) {
    const std::string list = "/tmp/chapcat-plan-list-" + std::to_string(getpid());
    std::ofstream(list) << "a\n";
    const std::string files0From = "--files0-from=" + list;
    const struct {
        std::vector<const char*> args;
        std::string plan;
    } cases[] = {
        {{"a", "-p", "-d=1", "--files-from", list.c_str(), "e"},
         "simple a @:" + list + "p d1000 ep"},
        {{files0From.c_str(), "-"}, "simple @0:" + list + " <stdin>"},
        {{"--files-from=-"}, "simple @:<stdin>"},
        {{"--files-from", "/nonexistent/list"},
         "2 cannot read the list of files '/nonexistent/list': No such file or directory" +
             tryHelp},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(planRun(c.args, STDIN_FILENO)), c.plan) << c.plan;
    std::remove(list.c_str());
}

// Every name of a list, read one at a time: NAME|NAME|end, or LINE:problem; a long name by its
// size.
std::string namesRead(FileList& list) {
    std::string names;
    std::string_view name;
    for (NextName next = NextName::name; next == NextName::name;) {
        next = nextName(list, name);
        names += next == NextName::end        ? "end"
                 : next == NextName::tooLong  ? std::to_string(list.lineNumber) + ":tooLong"
                 : next == NextName::holdsNul ? std::to_string(list.lineNumber) + ":holdsNul"
                 : name.size() > 100          ? "<" + std::to_string(name.size()) + ">|"
                                              : std::string(name) + "|";
    }
    return names;
}

// The names of a list, one at a time, wherever the reads fall.
TEST(FileList, ReadsNamesOneAtATime) {
    const std::string spanning(200000, 'x'); // longer than one read
    const std::string overTheBound(maxLineSize + 1, 'x');
    const struct {
        std::string list;
        char separator;
        std::string names;
    } cases[] = {
        {"b\n\nc d\n-p\n", '\n', "b|c d|-p|end"},
        {std::string("x\ny\0\0z\0", 7), '\0', "x\ny|z|end"},
        {"a\r\n\r\nlast", '\n', "a|last|end"}, // as written on Windows
        {"", '\n', "end"},
        {std::string("a\nb\0c\n", 6), '\n', "a|2:holdsNul"},
        {"a\n" + spanning + "\nb", '\n', "a|<200000>|b|end"},
        {"a\n" + overTheBound + "\nb\n", '\n', "a|2:tooLong"},
    };
    for (const auto& c : cases) {
        const int fd = memfd_create("list", MFD_CLOEXEC);
        ASSERT_TRUE(writeAll(fd, c.list) && lseek(fd, 0, SEEK_SET) == 0);
        Output output = makeOutput(STDOUT_FILENO, STDERR_FILENO); // nothing is written
        std::vector<char> buffer;
        FileList list{{fd, "list", "", buffer, output}, c.separator};
        EXPECT_EQ(namesRead(list), c.names) << c.list.substr(0, 20);
        close(fd);
    }
}

} // namespace
