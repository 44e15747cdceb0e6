#include "source.hpp"
#include "utf.hpp"

namespace {

// The first row that claims head; none while a row before it is undecided, unless final.
const Source* claimant(std::string_view head, bool final) {
    // Formats with a signature first; the simple format takes what is left.
    const Source* const formats[] = {&ffmetadataSource, &matroskaSource,   &webvttSource,
                                     &mediaSource,      &timestampsSource, &simpleSource};
    for (const Source* source : formats) {
        const Claim claim = source->claims(head);
        if (claim == Claim::yes)
            return source;
        if (claim == Claim::undecided && !final)
            return nullptr;
    }
    return &simpleSource;
}

} // namespace

const Source* detect(Input& input) {
    // A pipe gives what it has at a time: the rows decide on what they need, not on one read.
    for (;;) {
        if (const Source* source = claimant(input.head, false))
            return source;
        if (!readMoreHead(input))
            return input.error != 0 ? nullptr : claimant(input.head, true);
    }
}

Claim claimsSignature(std::string_view head, std::string_view signature, std::string_view& rest) {
    if (mayStartByteOrderMark(head))
        return Claim::undecided;
    const ByteOrderMark mark = byteOrderMarkOf(head);
    if (mark.encoding != Encoding::utf8)
        return Claim::no;
    head.remove_prefix(mark.size);
    if (head.size() < signature.size())
        return signature.starts_with(head) ? Claim::undecided : Claim::no;
    rest = head.substr(signature.size());
    return head.starts_with(signature) ? Claim::yes : Claim::no;
}
