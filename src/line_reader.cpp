#include "line_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr std::size_t readSize = 128 * 1024;
static_assert(readSize < maxLineSize, "a line within one read is never too long");
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view keyword = "CHAPTER";
constexpr std::size_t prefixSize = 64; // what is kept of a line that is not a chapter line

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

// Adds bytes of a spanning line, keeping only what can still matter.
void keep(LineReader& reader, std::string_view bytes) {
    using Kept = LineReader::Kept;
    if (reader.kept == Kept::nothing)
        return;
    for (auto cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r')) {
        reader.pending.append(bytes.substr(0, cr));
        bytes.remove_prefix(cr + 1);
    }
    reader.pending.append(bytes);
    std::string& text = reader.pending;
    if (reader.kept == Kept::whole &&
        !keyword.starts_with(std::string_view(text).substr(0, keyword.size())))
        reader.kept = Kept::prefix;
    if (reader.kept == Kept::prefix && text.size() > prefixSize)
        text.resize(prefixSize);
    if (reader.kept == Kept::whole && text.size() > maxLineSize) {
        reader.kept = Kept::nothing;
        text.clear();
    }
}

NextLine deliverPending(LineReader& reader, Line& line) {
    using Kept = LineReader::Kept;
    reader.delivered = true;
    line = {reader.pending, ++reader.lineNumber,
            reader.kept == Kept::whole    ? LineState::whole
            : reader.kept == Kept::prefix ? LineState::notChapter
                                          : LineState::tooLong};
    return NextLine::line;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr std::uint32_t replacement = 0xFFFD;

void decodeUnit(LineReader& reader, std::uint32_t unit) {
    const bool isHigh = unit >= 0xD800 && unit < 0xDC00;
    const bool isLow = unit >= 0xDC00 && unit < 0xE000;
    if (reader.highSurrogate != 0) {
        const std::uint32_t high = reader.highSurrogate;
        reader.highSurrogate = 0;
        if (isLow) {
            appendUtf8(reader.decoded, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            return;
        }
        appendUtf8(reader.decoded, replacement);
    }
    if (isHigh)
        reader.highSurrogate = unit;
    else
        appendUtf8(reader.decoded, isLow ? replacement : unit);
}

// Decodes bytes of UTF-16 into reader.decoded; an unpaired surrogate becomes U+FFFD, and so do an
// odd last byte and a high surrogate left at the end of the input (bytes empty).
void decodeUtf16(LineReader& reader, std::string_view bytes) {
    const bool little = reader.encoding == LineReader::Encoding::utf16LittleEndian;
    const auto unitOf = [little](unsigned char first, unsigned char second) {
        return little ? std::uint32_t{first} | std::uint32_t{second} << 8
                      : std::uint32_t{first} << 8 | std::uint32_t{second};
    };
    reader.decoded.clear();
    if (bytes.empty()) {
        if (reader.oddByte >= 0 || reader.highSurrogate != 0)
            appendUtf8(reader.decoded, replacement);
        if (reader.oddByte >= 0 && reader.highSurrogate != 0)
            appendUtf8(reader.decoded, replacement);
        reader.oddByte = -1;
        reader.highSurrogate = 0;
        return;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    if (reader.oddByte >= 0) {
        decodeUnit(reader, unitOf(static_cast<unsigned char>(reader.oddByte), *p++));
        reader.oddByte = -1;
    }
    for (; end - p >= 2; p += 2)
        decodeUnit(reader, unitOf(p[0], p[1]));
    if (p != end)
        reader.oddByte = *p;
}

// Reads until at least size bytes are in the chunk or the input ends.
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

} // namespace

void startReading(LineReader& reader, int fd) {
    reader.fd = fd;
    if (reader.chunk.empty())
        reader.chunk.resize(readSize);
    reader.next = reader.end = nullptr;
    reader.started = reader.atEnd = reader.spanning = reader.delivered = false;
    reader.encoding = LineReader::Encoding::utf8;
    reader.oddByte = -1;
    reader.highSurrogate = 0;
    reader.pending.clear();
    reader.kept = LineReader::Kept::whole;
    reader.lineNumber = 0;
}

NextLine nextLine(LineReader& reader, Line& line) {
    if (reader.delivered) {
        reader.pending.clear();
        reader.kept = LineReader::Kept::whole;
        reader.spanning = reader.delivered = false;
    }
    if (reader.next != reader.end) {
        const auto size = static_cast<std::size_t>(reader.end - reader.next);
        const char* start = reader.next;
        if (const auto* newline = static_cast<const char*>(std::memchr(start, '\n', size))) {
            reader.next = newline + 1;
            if (reader.spanning) {
                keep(reader, {start, newline});
                return deliverPending(reader, line);
            }
            // mayHaveCR is false for lines of a chunk known to have none: no search a line.
            const std::string_view text{start, newline};
            line = {reader.chunkHasCR ? stripCR(text, reader.scratch) : text, ++reader.lineNumber,
                    LineState::whole};
            return NextLine::line;
        }
        reader.spanning = true;
        keep(reader, {start, size});
        reader.next = reader.end;
    }
    if (!reader.atEnd)
        return NextLine::needInput;
    if (!reader.spanning)
        return NextLine::end;
    return deliverPending(reader, line);
}

int fill(LineReader& reader) {
    using Encoding = LineReader::Encoding;
    char* const buffer = reader.chunk.data();
    // The first read takes enough to see a byte-order mark, even from a pipe.
    const ssize_t n = readAtLeast(reader.fd, buffer, reader.chunk.size(),
                                  reader.started ? 1 : byteOrderMark.size());
    if (n < 0)
        return errno;
    std::string_view bytes(buffer, static_cast<std::size_t>(n));
    if (!reader.started) {
        reader.started = true;
        if (bytes.starts_with(byteOrderMark))
            bytes.remove_prefix(byteOrderMark.size());
        else if (bytes.starts_with("\xFF\xFE"))
            reader.encoding = Encoding::utf16LittleEndian;
        else if (bytes.starts_with("\xFE\xFF"))
            reader.encoding = Encoding::utf16BigEndian;
        if (reader.encoding != Encoding::utf8)
            bytes.remove_prefix(2);
    }
    reader.atEnd = n == 0;
    if (reader.encoding != Encoding::utf8) {
        const bool leftOver = reader.oddByte >= 0 || reader.highSurrogate != 0;
        decodeUtf16(reader, n == 0 ? std::string_view{} : bytes);
        bytes = reader.decoded;
        reader.atEnd = n == 0 && !leftOver; // what was left over is read first
    }
    reader.next = bytes.data();
    reader.end = bytes.data() + bytes.size();
    reader.chunkHasCR = std::memchr(bytes.data(), '\r', bytes.size()) != nullptr;
    return 0;
}
