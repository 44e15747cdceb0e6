// The command line, read once into a plan or an answer.
#include "plan.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// A plan in one line: the format, then each step as NAME[:FLAGS] with its delay and length,
// then the warnings.
std::string describe(const std::variant<Answer, Plan>& planned) {
    if (const auto* answer = std::get_if<Answer>(&planned))
        return std::to_string(answer->status) + " " + answer->message;
    const Plan& plan = std::get<Plan>(planned);
    std::string text(plan.writer->name);
    for (const Step& step : plan.steps) {
        text += " " + std::string(step.standardInput ? "<stdin>" : step.name);
        text += step.pal2Film ? "p" : "";
        text += step.threeTwoPulldown ? "t" : "";
        text += step.delay != 0 ? " d" + std::to_string(step.delay) : "";
        text += step.length ? " l" + std::to_string(*step.length) : "";
    }
    text += plan.partChapters ? " +part-chapters" : "";
    text += plan.verbose ? " +verbose" : "";
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
        {{"--format=xml"},
         "2 unknown format 'xml': expected simple, ffmetadata or matroska" + tryHelp},
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

// Names listed in a file stand where the option does, with the options then in force.
TEST(PlanRun, ReadsListsOfFiles) {
    const std::string list = "/tmp/chapcat-plan-list-" + std::to_string(getpid());
    const std::string files0From = "--files0-from=" + list;
    const struct {
        std::string content;
        std::vector<const char*> args;
        std::string plan;
    } cases[] = {
        {"b\n\nc d\n-p\n",
         {"a", "-p", "--files-from", list.c_str(), "e"},
         "simple a bp c dp -pp ep"},
        {std::string("x\ny\0z", 5) + '\0', {files0From.c_str(), "-"}, "simple x\ny z <stdin>"},
        {"",
         {"--files-from", "/nonexistent/list"},
         "2 cannot read the list of files '/nonexistent/list': No such file or directory" +
             tryHelp},
    };
    for (const auto& c : cases) {
        std::ofstream(list, std::ios::binary) << c.content;
        EXPECT_EQ(describe(planRun(c.args)), c.plan) << c.content;
    }
    std::ofstream(list, std::ios::binary) << "from-standard-input\n";
    const int fd = open(list.c_str(), O_RDONLY);
    EXPECT_EQ(describe(planRun(std::vector<const char*>{"--files-from=-"}, fd)),
              "simple from-standard-input");
    close(fd);
    std::remove(list.c_str());
}

} // namespace
