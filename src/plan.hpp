#pragma once

#include "writers/writer.hpp"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One input to read, with the options in force for it.
struct Step {
    std::string_view name; // "standard input" for '-'
    bool standardInput;
    bool pal2Film;
    bool threeTwoPulldown;
    std::int64_t delay;                 // the delays given since the input before
    std::optional<std::int64_t> length; // of this part in the joined video, if given
};

struct Plan {
    std::vector<Step> steps;
    const Writer* writer = writers().front();
    bool partChapters = false; // a part without chapters gets one, titled with its file name
    bool verbose = false;      // say where each part goes
    std::vector<std::string> warnings;   // about arguments that were ignored
    std::deque<std::string> listedNames; // the names read with --files-from, which steps view
};

// A run that ends before reading anything: help, version or a usage error.
struct Answer {
    int status;
    std::string out;
    std::string message; // for standard error
};

// The whole command line (without the program name), checked once; standardInput is read for
// a list of files named '-'.
std::variant<Answer, Plan> planRun(std::span<const char* const> args, int standardInput = -1);
