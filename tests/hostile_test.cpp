// End-to-end runs on hostile files, arguments and surroundings.
#include "run_tool.hpp"
#include "sources/line_reader.hpp"
#include "writers/writer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

const std::string chapter = named("CHAPTER01=00:00:01.000\n");

constexpr Child measured{.measurePeak = true};
#ifdef __SANITIZE_ADDRESS__
// The address sanitizer holds freed blocks back for a while, so a run's peak grows with all it
// ever allocated, not with what it held at once.
constexpr bool peaksShowWhatIsHeld = false;
#else
constexpr bool peaksShowWhatIsHeld = true;
#endif

// The large run's peak exceeds the small one's by less than boundKiB.
void expectPeakGrowthUnder(const ToolRun& small, const ToolRun& large, long boundKiB,
                           const std::string& what) {
    EXPECT_GT(small.peakKiB, 0) << what; // measured at all
    if (peaksShowWhatIsHeld) {
        EXPECT_LT(large.peakKiB - small.peakKiB, boundKiB)
            << what << ", from " << small.peakKiB << " KiB";
    }
}

// Each case has one file, FILE.
const CliCase hostileCases[] = {
    {"EmptyFile", {{"FILE", ""}}, {"FILE", "FILE"}, "", "", 0},
    {"OnlyNewlines", {{"FILE", "\n\n\n\n"}}, {"FILE"}, "", "", 0},
    {"OnlyCarriageReturns", {{"FILE", "\r\r\r"}}, {"FILE"}, "", "", 0},
    {"NulAndInvalidUTF8InNames",
     {{"FILE", std::string("CHAPTER01NAME=a\0b\xff\xfe\xc3(\n", 22)}},
     {"FILE"},
     std::string("CHAPTER01NAME=a\0b\xff\xfe\xc3(\n", 22),
     "chapcat: FILE:1: chapter 01 has a name line but no time line\n",
     0},
    {"NulInTimeLineEndsTheTime",
     {{"FILE", std::string("CHAPTER01=00:00:01.5\0"
                           "99\nCHAPTER01NAME=x\n",
                           40)}},
     {"FILE"},
     named("CHAPTER01=00:00:01.500\n"),
     "",
     0},
    {"ThirtyDigitChapterNumber",
     {{"FILE", "CHAPTER123456789012345678901234567890NAME=x\n" + chapter}},
     {"FILE"},
     chapter,
     "chapcat: FILE:1: chapter number out of range; line skipped\n",
     1},
    {"ThirtyDigitTimeField",
     {{"FILE", "CHAPTER01=00:00:123456789012345678901234567890.000\n"}},
     {"FILE"},
     "",
     "chapcat: FILE:1: chapter time out of range; line skipped\n",
     1},
    {"ChapterLineOverTheBound",
     {{"FILE", "CHAPTER01NAME=" + std::string(1100000, 'x') + "\n" + chapter}},
     {"FILE"},
     chapter,
     "chapcat: FILE:1: chapter line longer than 1 MiB; line skipped\n",
     1},
    {"TextAfterLongIndent",
     {{"FILE", std::string(100, ' ') + "<Chapters>\n"}},
     {"FILE"},
     "",
     "chapcat: FILE:2: XML error: no element found; the rest of the file is skipped\n",
     1},
    {"LineBreakInATitleFromXml",
     {{"FILE", "<Chapters><EditionEntry><ChapterAtom><ChapterTimeStart>0:00:01</ChapterTimeStart>"
               "<ChapterDisplay><ChapterString>a\r\nb</ChapterString></ChapterDisplay>"
               "</ChapterAtom><ChapterAtom><ChapterTimeStart>0:00:02</ChapterTimeStart>"
               "</ChapterAtom></EditionEntry></Chapters>"}},
     {"FILE"},
     "CHAPTER01=00:00:01.000\nCHAPTER01NAME=a b\nCHAPTER02=00:00:02.000\n",
     "chapcat: FILE:1: chapter 01: title holds a line break, which CHAPTERnn= lines cannot; "
     "written as a space\n"
     "chapcat: FILE:2: chapter 02 has no ChapterString\n",
     0},
    {"LongOtherLineDropped",
     {{"FILE", "CHAPTE" + std::string(2000000, '\r') + "x\n" + chapter}},
     {"FILE"},
     chapter,
     "",
     0},
    {"HugeButValidHours",
     {{"FILE", named("CHAPTER01=99999999999:00:00.000\n")}},
     {"FILE"},
     named("CHAPTER01=99999999999:00:00.000\n"),
     "",
     0},
    {"SumPastTheRange",
     {{"FILE", named("CHAPTER01=2562047788014:00:00.000\n")}},
     {"FILE", "FILE"},
     named("CHAPTER01=2562047788014:00:00.000\n") + "CHAPTER02NAME=x\n",
     "chapcat: FILE:1: chapter time out of range; line skipped\n"
     "chapcat: FILE:2: chapter 02 has a name line but no time line\n",
     1},
    {"NonUTF8FileNameEchoed",
     {{"FILE", chapter}},
     {"FILE", "\xff\xfe"},
     chapter,
     "Failed to open \"\xff\xfe\".\n",
     1},
    {"VeryLongFileName",
     {{"FILE", chapter}},
     {std::string(100000, 'x')},
     "",
     "Failed to open \"" + std::string(100000, 'x') + "\".\n",
     1},
    {"DevNullIsEmpty",
     {{"FILE", chapter}},
     {"FILE", "/dev/null", "FILE"},
     chapter + named("CHAPTER02=00:00:02.000\n"),
     "",
     0},
};
INSTANTIATE_TEST_SUITE_P(Hostile, Cli, testing::ValuesIn(hostileCases),
                         [](const auto& info) { return std::string(info.param.what); });

// Lines that span several reads, and a last one without a newline.
TEST(HostileFiles, LongLineWithoutNewline) {
    ScratchDir dir;
    const std::string title(600 * 1000, 'x');
    dir.write("long", "CHAPTER01NAME=" + title);
    const ToolRun run = runTool(dir, {"long"});
    EXPECT_EQ(run.out.size(), 15 + title.size());
    EXPECT_TRUE(run.out == "CHAPTER01NAME=" + title + "\n");
    EXPECT_EQ(run.status, 0);
}

TEST(HostileFiles, WindowsLineEndAcrossReadsIsRemoved) {
    ScratchDir dir;
    const std::string title(300000, 'y'); // longer than one read
    dir.write("a", "CHAPTER01NAME=" + title + "\r\n" + chapter);
    const ToolRun run = runTool(dir, {"a"});
    EXPECT_TRUE(run.out == "CHAPTER01NAME=" + title + "\n" + chapter);
}

// Memory stays flat: reading megabytes of chapters raises the peak over reading one chapter by
// less than a quarter of what was read, which a reader that kept its input would pass.
TEST(HostileFiles, ManyChaptersAcrossReads) {
    ScratchDir dir;
    std::string content;
    for (int i = 1; i <= 40000; ++i)
        content += named("CHAPTER" + std::to_string(i) + "=0:0:" + std::to_string(i) + "\n");
    dir.write("many", content);
    dir.write("one", chapter);
    const ToolRun one = runTool(dir, {"one"}, StdoutTo::capture, measured);
    const ToolRun run = runTool(dir, {"many", "many"}, StdoutTo::capture, measured);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 160000);
    EXPECT_TRUE(run.out.ends_with("CHAPTER80000=22:13:20.000\nCHAPTER80000NAME=x\n"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    expectPeakGrowthUnder(one, run, static_cast<long>(2 * content.size() / 1024 / 4), "many");
}

// A title just under the bound on a line costs what holding it takes, whatever a writer makes of
// it: made of the characters each format expands most (to "&amp;", U+FFFD, "\\"), it raises
// the peak by less than three times its size (the line read, the chapter's copy, and slack), where
// a writer that built the expanded title first would add that title too.
TEST(HostileFiles, TitlesAtTheBoundKeepMemoryFlat) {
    if (!peaksShowWhatIsHeld)
        GTEST_SKIP() << "the address sanitizer's peaks count freed memory";
    const std::size_t size = maxLineSize - 100;
    const auto runTitled = [](const std::string& format, const std::string& title) {
        ScratchDir dir;
        dir.write("titled", "CHAPTER01=00:00:01.000\nCHAPTER01NAME=" + title + "\n");
        return runTool(dir, {format, "--length=2", "titled"}, StdoutTo::capture, measured);
    };
    for (const Writer* writer : writers()) {
        if (writer->part != nullptr)
            continue; // it lists parts, not titles
        for (const char c : {'&', '\xFF', '\\'}) {
            const std::string format = "--format=" + std::string(writer->name);
            const std::string what = format + ", title of " + std::to_string(c & 0xFF);
            const ToolRun small = runTitled(format, std::string(1, c));
            const ToolRun large = runTitled(format, std::string(size, c));
            EXPECT_GT(large.out.size(), size) << what; // the title was written
            EXPECT_EQ(large.status, small.status) << what;
            expectPeakGrowthUnder(small, large, static_cast<long>(3 * size / 1024), what);
        }
    }
}

TEST(HostileSurroundings, UnreadableFile) {
    ScratchDir dir;
    chmod(dir.path().c_str(), 0755);
    dir.write("a", chapter);
    dir.write("secret", chapter);
    chmod((dir.path() / "a").c_str(), 0644);
    chmod((dir.path() / "secret").c_str(), 0);
    const ToolRun run = runTool(dir, {"a", "secret", "a"}, StdoutTo::capture, {.asNobody = true});
    EXPECT_EQ(run.out, chapter);
    EXPECT_EQ(run.err, "Failed to open \"secret\".\n");
    EXPECT_EQ(run.status, 1);
}

TEST(HostileSurroundings, Fifo) {
    ScratchDir dir;
    const auto fifo = dir.path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        writeWhole(fifo, chapter + "CHAPTER01NAME=live\n");
        _exit(0);
    }
    const ToolRun run = runTool(dir, {"fifo"});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(run.out, chapter + "CHAPTER01NAME=live\n");
    EXPECT_EQ(run.status, 0);
}

TEST(HostileSurroundings, UnwritableStdout) {
    const struct {
        StdoutTo stdoutTo;
        const char* err;
    } cases[] = {
        {StdoutTo::devFull, "chapcat: write error: No space left on device\n"},
        {StdoutTo::closed, "chapcat: write error: Bad file descriptor\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("a", chapter);
        // Even with nothing to write, a closed standard output is an error.
        const ToolRun empty = runTool(dir, {"/dev/null"}, c.stdoutTo);
        EXPECT_EQ(empty.status, c.stdoutTo == StdoutTo::closed ? 1 : 0);
        const ToolRun run = runTool(dir, {"a"}, c.stdoutTo);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, 1);
    }
}

TEST(HostileSurroundings, InputIsOutput) {
    ScratchDir dir;
    dir.write(".stdout", chapter); // where runTool sends standard output
    const ToolRun run = runTool(dir, {".stdout"}, StdoutTo::append);
    EXPECT_EQ(run.out, chapter);
    EXPECT_EQ(run.err, "chapcat: .stdout: input file is output file\n");
    EXPECT_EQ(run.status, 1);
}

struct MemoryCase {
    std::string input;
    std::vector<std::string> args;
    std::string outEnd; // when the run stops
};

// One run under a limit of kib: the whole output, or "out of memory" after output that is still
// well-formed. True where it ran out with output to check, or where a stop leaves none to check.
bool expectWholeOrOutOfMemory(const ToolRun& run, const MemoryCase& c, const std::string& whole,
                              rlim_t kib) {
    if (run.status == 0) {
        EXPECT_TRUE(run.out == whole) << kib;
        return false;
    }
    EXPECT_EQ(run.err, "chapcat: out of memory\n") << kib;
    EXPECT_EQ(run.status, 1) << kib;
    EXPECT_TRUE(run.out.empty() || run.out.ends_with(c.outEnd)) << kib;
    return !run.out.empty() || c.outEnd.empty();
}

// However little memory there is, the run ends with its output or with a message, never a crash.
TEST(HostileSurroundings, OutOfMemory) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer needs more address space than this allows";
#endif
    const std::string title = "CHAPTER01NAME=" + std::string(1000000, 'x') + "\n";
    const std::string escaped =
        "CHAPTER01=0:0:1\nCHAPTER01NAME=" + std::string(1000000, '&') + "\n";
    const MemoryCase cases[] = {
        {title, {"big"}, ""},
        {escaped, {"--format=matroska", "--length=2", "big"}, "</Chapters>\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("big", c.input);
        const std::string whole = runTool(dir, c.args).out;
        bool ranOut = false;
        for (rlim_t kib = 2000; kib <= 12000; kib += 500) {
            const ToolRun run = runTool(dir, c.args, StdoutTo::capture, {.addressSpaceKiB = kib});
            if (run.status == 127) // too little for the loader: chapcat never ran
                continue;
            ranOut = expectWholeOrOutOfMemory(run, c, whole, kib) || ranOut;
        }
        EXPECT_TRUE(ranOut) << "no limit was tight enough to test " << c.args.front();
    }
}

TEST(HostileSurroundings, PipeClosedEarlyEndsQuietly) {
    ScratchDir dir;
    std::string content;
    for (int i = 1; i <= 200000; ++i)
        content += named("CHAPTER" + std::to_string(i) + "=0:0:" + std::to_string(i) + "\n");
    dir.write("big", content);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        const int err = open((dir.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, STDERR_FILENO);
        execl(CHAPCAT_BINARY, CHAPCAT_BINARY, (dir.path() / "big").c_str(), nullptr);
        _exit(126);
    }
    close(fds[1]);
    char first[64];
    EXPECT_GT(read(fds[0], first, sizeof first), 0);
    close(fds[0]); // as `head -1` does
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_EQ(readWhole(dir.path() / "err"), "");
}

TEST(HostileArguments, VeryLongDelayIsRejectedWhole) {
    ScratchDir dir;
    const std::string arg = "-d=" + std::string(100000, '9');
    const ToolRun run = runTool(dir, {arg});
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(arg), std::string::npos);
    EXPECT_EQ(run.status, 2);
}

} // namespace
