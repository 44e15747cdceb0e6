// Prints what the media source hands on for each file named, so that a test can run it where the
// libraries cannot be loaded, and a benchmark can time it alone.
#include "media_events.hpp"

#include <fcntl.h>
#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    Output output = makeOutput(STDOUT_FILENO, STDERR_FILENO);
    std::vector<char> buffer;
    for (int i = 1; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
        Input input{fd, argv[i], argv[i], buffer, output, {}};
        for (const std::string& line :
             fd < 0 ? std::vector<std::string>{"cannot open"} : readAsMedia(input))
            std::cout << argv[i] << ": " << line << '\n';
        if (fd >= 0)
            close(fd);
    }
}
