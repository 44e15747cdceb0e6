// chapcat: joins the chapter lists of a video's parts into one list for the whole video.
#include "run.hpp"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Fills closed descriptors 0 to 2 with /dev/null, so that no input opened later lands on one of
// them. A closed standard input or output stays unusable (-1: reading or writing it fails with
// EBADF); messages to a closed standard error are dropped.
Streams openStandardStreams() {
    Streams streams{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        open("/dev/null", O_RDWR); // takes the lowest free descriptor, which is fd
        if (fd == STDIN_FILENO)
            streams.in = -1;
        if (fd == STDOUT_FILENO)
            streams.out = -1;
    }
    return streams;
}

} // namespace

int main(int argc, char** argv) {
    const Streams streams = openStandardStreams();
    return runChapcat({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)}, streams);
}
