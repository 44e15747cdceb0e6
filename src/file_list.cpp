#include "file_list.hpp"

#include "bounds.hpp"

namespace {

void keep(FileList& list, std::string_view bytes) {
    const std::size_t room = maxLineSize - list.pending.size();
    list.pendingTooLong = list.pendingTooLong || bytes.size() > room;
    list.pending.append(bytes.substr(0, room));
}

// What a whole name says about itself.
NextName checked(const FileList& list, std::string_view name, bool tooLong) {
    if (tooLong)
        return NextName::tooLong;
    if (list.separator != '\0' && name.find('\0') != std::string_view::npos)
        return NextName::holdsNul;
    return NextName::name;
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
            keep(list, list.rest);
            if (list.pendingTooLong) { // said at once: the rest of it may never end
                ++list.lineNumber;
                return NextName::tooLong;
            }
            std::string_view bytes;
            const Bytes got = nextBytes(list.input, bytes);
            if (got == Bytes::failed)
                return NextName::failed;
            list.rest = got == Bytes::end ? std::string_view{} : bytes;
            if (got == Bytes::some)
                continue;
            if (list.pending.empty() && !list.pendingTooLong)
                return NextName::end;
            ++list.lineNumber; // the last name, without a separator
        } else {
            const std::string_view piece = list.rest.substr(0, separator);
            list.rest.remove_prefix(separator + 1);
            ++list.lineNumber;
            if (list.pending.empty() && !list.pendingTooLong) {
                if (piece.empty())
                    continue;
                name = piece; // the usual case: a name within one read, not copied
                return checked(list, name, false);
            }
            keep(list, piece);
        }
        list.delivered = true;
        name = list.pending;
        return checked(list, name, list.pendingTooLong);
    }
}
