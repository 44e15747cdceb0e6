#pragma once

#include <span>
#include <string>
#include <string_view>

// The line without its carriage returns: line itself when it has none, else a copy in scratch.
std::string_view stripCR(std::string_view line, std::string& scratch);

// Runs chapcat over its arguments (without the program name), writing the merged list to outFd
// and messages to errFd. Returns the exit status.
int runChapcat(std::span<const char* const> args, int outFd, int errFd);
