#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Standard output, gathered in one buffer and sent on before each read of input, before each
// message and at the end, so that interactive input still gets its answer at once. The first
// failed write is reported once; later output is dropped.
struct Output {
    int fd;
    int errorFd;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool failed = false;     // a write failed
    bool anyFailure = false; // a failure was reported: the exit status is 1
};

Output makeOutput(int fd, int errorFd);

// Room for size bytes at the end of the buffer; commit() takes what was written there.
char* reserve(Output& output, std::size_t size);
inline void commit(Output& output, const char* end) {
    output.used = static_cast<std::size_t>(end - output.buffer.data());
}
void append(Output& output, std::string_view text);

// Sends what is gathered. Returns false once a write has failed.
bool flush(Output& output);

// The one path for messages: flushes the output first, so that messages and output keep their
// order, then writes "chapcat: " (unless bare), the message and a newline to standard error.
// A failure makes the run's exit status 1; a warning leaves it.
enum class Severity { warning, failure };
enum class Prefix { tool, bare };
void report(Output& output, std::string_view message, Severity severity = Severity::warning,
            Prefix prefix = Prefix::tool);

// Where a message is about: "FILE:LINE: ", or "FILE: " where line is 0 (the file as a whole).
std::string where(std::string_view file, std::int64_t line);

// 0, or 1 once a failure was reported or a write failed.
inline int exitStatus(const Output& output) {
    return output.failed || output.anyFailure ? 1 : 0;
}

// Writes all of data, retrying short and interrupted writes.
bool writeAll(int fd, std::string_view data);
