// chapcat: joins the chapter lists of a video's parts into one list for the whole video.
#include "output.hpp"
#include "run.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <fcntl.h>
#include <new>
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

// Under a tight memory limit the runtime can be left without room to throw std::bad_alloc, and
// aborts instead of saying "out of memory". A reserve, freed at the first failed allocation,
// gives it that room. Returns false where there is not even room for the reserve.
bool keepRoomToThrow() {
    static void* reserve = std::malloc(64 * 1024); // the runtime's own, once; no other state
    if (reserve == nullptr)
        return false;
    std::set_new_handler([] {
        if (reserve == nullptr)
            throw std::bad_alloc();
        std::free(reserve); // and operator new tries again
        reserve = nullptr;
    });
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!keepRoomToThrow()) {
        writeAll(STDERR_FILENO, "chapcat: out of memory\n");
        return 1;
    }
    const Streams streams = openStandardStreams();
    return runChapcat({argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0)}, streams);
}
