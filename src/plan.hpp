#pragma once

#include "join.hpp"
#include "ranges.hpp"
#include "writers/writer.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A list of files to read the names of parts from, open.
struct ListOfFiles {
    int fd;
    char separator;
};

enum class PartChapters {
    none,
    byFile,  // titled with the part's file name
    byTitle, // with its media title tag, else its file name
};

// One input to read, or a list of them, with the options in force for it (for a list: the delay
// and length for its first name).
struct Step {
    std::string_view name; // "standard input" for '-'
    bool standardInput;
    bool pal2Film;
    bool threeTwoPulldown;
    std::int64_t delay;                 // the delays given since the input before
    std::optional<std::int64_t> length; // of this part in the joined video, if given
    std::optional<ListOfFiles> list{};  // the step names a list of files, not a part
    std::vector<TimeRange> kept{};      // of the part, where it is cut: sorted and apart
};

struct Plan {
    std::vector<Step> steps;
    const Writer* writer = writers().front();
    PartChapters partChapters = PartChapters::none; // a part without chapters gets one
    bool verbose = false;                           // say where each part goes
    std::optional<Join> join;                       // as given; else the writer's
    std::string cueFile{};                          // the joined file a CUE sheet names
    std::vector<std::string> warnings;              // about arguments that were ignored
};

// A run that ends before reading anything: help, version or a usage error.
struct Answer {
    int status;
    std::string out;
    std::string message; // for standard error
};

// "a, b or c": the names of the output formats.
std::string formatNames();

// The whole command line (without the program name), checked once; standardInput is read for
// a list of files named '-'.
std::variant<Answer, Plan> planRun(std::span<const char* const> args, int standardInput = -1);
