#include "line_reader.hpp"
#include "output.hpp"
#include "source.hpp"
#include "utf.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t readSize = 128 * 1024;
// Detection reads no further: a row still undecided there does not claim the input.
constexpr std::size_t maxHeadSize = 64 * 1024;

// Reads until at least size bytes are in the buffer or the input ends; -1 on an error.
ssize_t readAtLeast(int fd, char* buffer, std::size_t capacity, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, capacity - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return n;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

Bytes readInto(Input& input, std::string_view& bytes, std::size_t atLeast) {
    if (input.buffer.size() < readSize)
        input.buffer.resize(readSize);
    const ssize_t n = readAtLeast(input.fd, input.buffer.data(), input.buffer.size(), atLeast);
    if (n < 0) {
        input.error = errno;
        return Bytes::failed;
    }
    bytes = {input.buffer.data(), static_cast<std::size_t>(n)};
    input.ended = n == 0;
    return n == 0 ? Bytes::end : Bytes::some;
}

} // namespace

bool startInput(Input& input) {
    return readInto(input, input.head, 1) != Bytes::failed;
}

bool readMoreHead(Input& input) {
    const std::size_t size = input.head.size();
    if (input.ended || size >= maxHeadSize)
        return false;
    const ssize_t n =
        readAtLeast(input.fd, input.buffer.data() + size, input.buffer.size() - size, 1);
    if (n < 0)
        input.error = errno;
    input.ended = n == 0;
    if (n <= 0)
        return false;
    input.head = {input.buffer.data(), size + static_cast<std::size_t>(n)};
    return true;
}

Bytes nextBytes(Input& input, std::string_view& bytes) {
    if (!input.head.empty()) {
        bytes = input.head;
        input.head = {};
        return Bytes::some;
    }
    if (input.ended)
        return Bytes::end;
    if (!flush(input.output))
        return Bytes::failed;
    return readInto(input, bytes, 1);
}

PartRead readFailed(const Input& input, Events& events) {
    if (input.error != 0)
        events.note(0, std::strerror(input.error), true);
    return {true, std::nullopt};
}

Claim claimsDecoded(std::string_view head, Claim (*claimsText)(std::string_view text)) {
    if (mayStartByteOrderMark(head))
        return Claim::undecided;
    const ByteOrderMark mark = byteOrderMarkOf(head);
    head.remove_prefix(mark.size);
    if (mark.encoding == Encoding::utf8)
        return claimsText(head);
    std::string decoded;
    Utf16Decoder decoder{mark.encoding == Encoding::utf16LittleEndian};
    decodeUtf16(decoder, head.substr(0, head.size() & ~std::size_t{1}), decoded);
    return claimsText(decoded);
}
