#include "output.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t bufferSize = 128 * 1024;

} // namespace

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

Output makeOutput(int fd, int errorFd) {
    return {fd, errorFd, {}}; // the buffer comes with the first output, where allocation is checked
}

char* reserve(Output& output, std::size_t size) {
    if (output.buffer.size() - output.used < size) {
        flush(output);
        if (output.buffer.size() < size)
            output.buffer.resize(std::max(size, bufferSize));
    }
    return output.buffer.data() + output.used;
}

void append(Output& output, std::string_view text) {
    commit(output, std::copy(text.begin(), text.end(), reserve(output, text.size())));
}

bool flush(Output& output) {
    if (output.fd < 0) // closed before the run began: nothing can be written
        errno = EBADF;
    if (!output.failed &&
        (output.fd < 0 ||
         (output.used != 0 && !writeAll(output.fd, {output.buffer.data(), output.used})))) {
        output.failed = true;
        report(output, std::string("write error: ") + std::strerror(errno), Severity::failure);
    }
    output.used = 0;
    return !output.failed;
}

void report(Output& output, std::string_view message, Severity severity, Prefix prefix) {
    flush(output);
    output.anyFailure = output.anyFailure || severity == Severity::failure;
    std::string text = prefix == Prefix::tool ? "chapcat: " : "";
    text += message;
    text += '\n';
    writeAll(output.errorFd, text);
}

std::string where(std::string_view file, std::int64_t line) {
    std::string text(file);
    if (line != 0)
        text += ':' + std::to_string(line);
    return text + ": ";
}
