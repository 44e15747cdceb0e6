#pragma once

#include <span>

struct Streams {
    int in; // standard input, for the file name "-"
    int out;
    int err;
};

// Runs chapcat over its arguments (without the program name). Returns the exit status.
int runChapcat(std::span<const char* const> args, Streams streams);
