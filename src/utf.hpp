#pragma once
// UTF-8 and UTF-16, for inputs in UTF-16 and for XML, which must be valid UTF-8 throughout.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr std::uint32_t replacementCharacter = 0xFFFD;
constexpr std::string_view replacementUtf8 = "\xEF\xBF\xBD";

// How a text input is encoded, by its byte-order mark; UTF-8 where it has none.
enum class Encoding { utf8, utf16LittleEndian, utf16BigEndian };
struct ByteOrderMark {
    Encoding encoding;
    std::size_t size; // 0 where there is none
};
constexpr ByteOrderMark byteOrderMarkOf(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        return {Encoding::utf8, 3};
    if (head.starts_with("\xFF\xFE"))
        return {Encoding::utf16LittleEndian, 2};
    if (head.starts_with("\xFE\xFF"))
        return {Encoding::utf16BigEndian, 2};
    return {Encoding::utf8, 0};
}
// Whether head may still become a byte-order mark with more bytes.
constexpr bool mayStartByteOrderMark(std::string_view head) {
    return head.empty() ||
           (head.size() < 3 && std::string_view("\xEF\xBB\xBF").starts_with(head)) ||
           head == "\xFF" || head == "\xFE";
}

void appendUtf8(std::string& out, std::uint32_t character);

// UTF-16 decoded piece by piece: a unit or a surrogate pair may be split between pieces.
struct Utf16Decoder {
    bool littleEndian;
    int oddByte = -1;                // the first byte of a unit split between pieces
    std::uint32_t highSurrogate = 0; // waiting for its low half
};

// Appends the UTF-8 of bytes to out; an unpaired surrogate becomes U+FFFD, and so do an odd last
// byte and a high surrogate left at the end of the input (bytes empty).
void decodeUtf16(Utf16Decoder& decoder, std::string_view bytes, std::string& out);

// The first character of text (not empty). An invalid sequence takes its longest valid beginning,
// at least a byte, as Unicode recommends for replacing it; no overlong forms, surrogates or values
// past U+10FFFF are valid.
struct Utf8Character {
    std::size_t size;
    bool valid;
    std::uint32_t value; // when valid
};
Utf8Character decodeUtf8(std::string_view text);

// A character that XML 1.0 allows in a document.
constexpr bool isXmlCharacter(std::uint32_t c) {
    return c >= 0x20 ? c < 0xD800 || (c >= 0xE000 && c < 0xFFFE) || (c >= 0x10000 && c <= 0x10FFFF)
                     : c == '\t' || c == '\n' || c == '\r';
}
