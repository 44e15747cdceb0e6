#pragma once
// Runs the built chapcat binary in a scratch directory and captures what it printed.

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct ToolRun {
    std::string out;
    std::string err;
    int status;       // exit status, or 128 + signal
    long peakKiB = 0; // with Child::measurePeak, the most memory the run held at once (in KiB)
};

// merged sends stdout to the stderr capture, as 2>&1 would; append adds to what is there, as >>.
enum class StdoutTo { capture, devFull, closed, merged, append };

inline std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeWhole(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// A fresh directory, removed again when the test ends.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "chapcat-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void write(const std::string& name, const std::string& content) const {
        writeWhole(path_ / name, content);
    }

  private:
    std::filesystem::path path_;
};

// How the tool's process is set up: asNobody runs it as user nobody when the tests run as root,
// so that file permissions still bite; addressSpaceKiB limits its memory; measurePeak runs it
// under peak_memory, which fills ToolRun::peakKiB.
struct Child {
    bool asNobody = false;
    rlim_t addressSpaceKiB = 0;
    bool measurePeak = false;
};

// The command line that runs the tool, under peak_memory where it writes to peakPath.
inline std::vector<char*> toolCommand(const std::vector<std::string>& args,
                                      const std::filesystem::path* peakPath) {
    std::vector<char*> argv;
    if (peakPath != nullptr)
        argv = {const_cast<char*>(PEAK_MEMORY_BINARY), const_cast<char*>(peakPath->c_str())};
    argv.push_back(const_cast<char*>(CHAPCAT_BINARY));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

inline ToolRun runTool(const ScratchDir& dir, const std::vector<std::string>& args,
                       StdoutTo stdoutTo = StdoutTo::capture, Child child = {}) {
    const auto outPath = dir.path() / ".stdout";
    const auto errPath = dir.path() / ".stderr";
    const auto peakPath = dir.path() / ".peak";
    const std::vector<char*> argv = toolCommand(args, child.measurePeak ? &peakPath : nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0)
            _exit(125);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = stdoutTo == StdoutTo::devFull  ? open("/dev/full", O_WRONLY)
                        : stdoutTo == StdoutTo::merged ? dup(err)
                        : stdoutTo == StdoutTo::append
                            ? open(outPath.c_str(), O_WRONLY | O_APPEND)
                            : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Standard input is the file .stdin where a case has one.
        const int in = open(".stdin", O_RDONLY);
        dup2(in >= 0 ? in : open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(out);
        close(err);
        if (stdoutTo == StdoutTo::closed)
            close(STDOUT_FILENO);
        if (child.asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(124);
        const rlimit limit{child.addressSpaceKiB * 1024, child.addressSpaceKiB * 1024};
        if (child.addressSpaceKiB != 0 && setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(123);
        execv(argv[0], argv.data());
        _exit(126);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    ToolRun run{readWhole(outPath), readWhole(errPath), status};
    if (child.measurePeak) {
        std::ifstream(peakPath) >> run.peakKiB;
        std::filesystem::remove(peakPath);
    }
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}

// One end-to-end run: files to create, arguments, and what the run must print and return.
// Time lines, each followed by a name line "x" of its number, as a muxer wants them.
inline std::string named(std::string_view timeLines) {
    std::string text;
    while (!timeLines.empty()) {
        const std::string_view line = timeLines.substr(0, timeLines.find('\n') + 1);
        timeLines.remove_prefix(line.size());
        text += line;
        text += std::string(line.substr(0, line.find('='))) + "NAME=x\n";
    }
    return text;
}

struct CliCase {
    const char* what;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

inline void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.what;
}

class Cli : public testing::TestWithParam<CliCase> {};
