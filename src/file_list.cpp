#include "file_list.hpp"

#include "bounds.hpp"

namespace {

void keep(FileList& list, std::string_view bytes) {
    const std::size_t room = maxLineSize - list.pending.size();
    list.pendingTooLong = list.pendingTooLong || bytes.size() > room;
    list.pending.append(bytes.substr(0, room));
}

// What a whole name says about itself. A list of lines written on Windows ends each in a
// carriage return, which no one means as part of a name.
NextName checked(const FileList& list, std::string_view& name, bool tooLong) {
    if (list.separator == '\n' && name.ends_with('\r'))
        name.remove_suffix(1);
    if (tooLong)
        return NextName::tooLong;
    if (list.separator != '\0' && name.find('\0') != std::string_view::npos)
        return NextName::holdsNul;
    return NextName::name;
}

// Reads on where the rest of the last read holds no separator. Returns name while there is more
// to split, end at the end of the list, or what stops it.
NextName readOn(FileList& list) {
    keep(list, list.rest);
    list.rest = {};
    if (list.pendingTooLong) { // said at once: the rest of it may never end
        ++list.lineNumber;
        return NextName::tooLong;
    }
    std::string_view bytes;
    const Bytes got = nextBytes(list.input, bytes);
    if (got == Bytes::failed)
        return NextName::failed;
    list.rest = got == Bytes::some ? bytes : std::string_view{};
    return got == Bytes::some ? NextName::name : NextName::end;
}

// Hands out what was kept of a name that spanned reads.
NextName handPending(FileList& list, std::string_view& name) {
    list.delivered = true;
    name = list.pending;
    return checked(list, name, list.pendingTooLong);
}

} // namespace

NextName nextName(FileList& list, std::string_view& name) {
    if (list.delivered) {
        list.pending.clear();
        list.pendingTooLong = list.delivered = false;
    }
    for (;;) {
        const auto separator = list.rest.find(list.separator);
        if (separator == std::string_view::npos) {
            const NextName read = readOn(list);
            if (read == NextName::name)
                continue;
            if (read != NextName::end)
                return read;
            if (list.pending.empty())
                return NextName::end;
            ++list.lineNumber; // the last name, without a separator
            return handPending(list, name);
        }
        const std::string_view piece = list.rest.substr(0, separator);
        list.rest.remove_prefix(separator + 1);
        ++list.lineNumber;
        if (!list.pending.empty()) {
            keep(list, piece);
            return handPending(list, name);
        }
        if (!piece.empty() && piece != "\r") {
            name = piece; // the usual case: a name within one read, not copied
            return checked(list, name, false);
        }
    }
}
