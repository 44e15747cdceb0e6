#include "line_reader.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr std::size_t readSize = 128 * 1024;
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// The line without its carriage returns: line itself when it has none, else a copy in scratch.
std::string_view stripCR(std::string_view line, std::string& scratch) {
    if (line.ends_with('\r')) // the usual case, a Windows line end, needs no copy
        line.remove_suffix(1);
    auto carriageReturn = line.find('\r');
    if (carriageReturn == std::string_view::npos)
        return line;
    scratch.clear();
    while (carriageReturn != std::string_view::npos) {
        scratch.append(line.substr(0, carriageReturn));
        line.remove_prefix(carriageReturn + 1);
        carriageReturn = line.find('\r');
    }
    scratch.append(line);
    return scratch;
}

// mayHaveCR is false for lines of a chunk known to have none, which saves a search a line.
NextLine deliver(LineReader& reader, std::string_view text, bool mayHaveCR, Line& line) {
    if (++reader.lineNumber == 1 && text.starts_with(byteOrderMark))
        text.remove_prefix(byteOrderMark.size());
    line = {mayHaveCR ? stripCR(text, reader.scratch) : text, reader.lineNumber};
    return NextLine::line;
}

} // namespace

void startReading(LineReader& reader, int fd) {
    reader.fd = fd;
    if (reader.chunk.empty())
        reader.chunk.resize(readSize);
    reader.next = reader.end = nullptr;
    reader.atEnd = false;
    reader.pending.clear();
    reader.pendingDelivered = false;
    reader.lineNumber = 0;
}

NextLine nextLine(LineReader& reader, Line& line) {
    if (reader.pendingDelivered) {
        reader.pending.clear();
        reader.pendingDelivered = false;
    }
    if (reader.next != reader.end) {
        const auto size = static_cast<std::size_t>(reader.end - reader.next);
        if (const auto* newline = static_cast<const char*>(std::memchr(reader.next, '\n', size))) {
            const char* start = reader.next;
            reader.next = newline + 1;
            if (reader.pending.empty())
                return deliver(reader, {start, newline}, reader.chunkHasCR, line);
            reader.pending.append(start, newline);
            reader.pendingDelivered = true;
            return deliver(reader, reader.pending, true, line);
        }
        reader.pending.append(reader.next, reader.end);
        reader.next = reader.end;
    }
    if (!reader.atEnd)
        return NextLine::needInput;
    if (reader.pending.empty())
        return NextLine::end;
    reader.pendingDelivered = true;
    return deliver(reader, reader.pending, true, line);
}

int fill(LineReader& reader) {
    ssize_t n;
    while ((n = read(reader.fd, reader.chunk.data(), reader.chunk.size())) < 0) {
        if (errno != EINTR)
            return errno;
    }
    reader.atEnd = n == 0;
    reader.next = reader.chunk.data();
    reader.end = reader.next + n;
    reader.chunkHasCR = std::memchr(reader.next, '\r', static_cast<std::size_t>(n)) != nullptr;
    return 0;
}
