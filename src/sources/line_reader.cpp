#include "line_reader.hpp"

#include <cstring>

namespace {

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

// Adds bytes without carriage returns to a spanning line, up to the bound.
void append(LineReader& reader, std::string_view bytes) {
    const std::size_t room = maxLineSize - reader.pending.size();
    reader.pendingTooLong = reader.pendingTooLong || bytes.size() > room;
    reader.pending.append(bytes.substr(0, room));
}

// Adds bytes of a spanning line.
void keep(LineReader& reader, std::string_view bytes) {
    for (auto cr = bytes.find('\r'); cr != std::string_view::npos; cr = bytes.find('\r')) {
        append(reader, bytes.substr(0, cr));
        bytes.remove_prefix(cr + 1);
    }
    append(reader, bytes);
}

NextLine deliverPending(LineReader& reader, Line& line) {
    reader.delivered = true;
    line = {reader.pending, ++reader.lineNumber, reader.pendingTooLong};
    return NextLine::line;
}

} // namespace

void startReading(LineReader& reader) {
    reader.next = reader.end = nullptr;
    reader.started = reader.atEnd = reader.spanning = reader.delivered = reader.utf16 = false;
    reader.pending.clear();
    reader.pendingTooLong = false;
    reader.lineNumber = 0;
}

NextLine nextLine(LineReader& reader, Line& line) {
    if (reader.delivered) {
        reader.pending.clear();
        reader.pendingTooLong = false;
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
            // Lines of a piece known to have no carriage return need no search each.
            const std::string_view text{start, newline};
            line = {reader.chunkHasCR ? stripCR(text, reader.scratch) : text, ++reader.lineNumber,
                    false};
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

void feed(LineReader& reader, std::string_view bytes) {
    reader.atEnd = bytes.empty();
    if (!reader.started) {
        reader.started = true;
        const ByteOrderMark mark = byteOrderMarkOf(bytes);
        reader.utf16 = mark.encoding != Encoding::utf8;
        reader.decoder = {mark.encoding == Encoding::utf16LittleEndian};
        bytes.remove_prefix(mark.size);
    }
    if (reader.utf16) {
        reader.decoded.clear();
        decodeUtf16(reader.decoder, bytes, reader.decoded);
        bytes = reader.decoded;
    }
    reader.next = bytes.data();
    reader.end = bytes.data() + bytes.size();
    reader.chunkHasCR = !bytes.empty() && std::memchr(bytes.data(), '\r', bytes.size()) != nullptr;
}
