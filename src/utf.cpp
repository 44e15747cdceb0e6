#include "utf.hpp"

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

namespace {

void decodeUnit(Utf16Decoder& decoder, std::uint32_t unit, std::string& out) {
    const bool isHigh = unit >= 0xD800 && unit < 0xDC00;
    const bool isLow = unit >= 0xDC00 && unit < 0xE000;
    if (decoder.highSurrogate != 0) {
        const std::uint32_t high = decoder.highSurrogate;
        decoder.highSurrogate = 0;
        if (isLow) {
            appendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            return;
        }
        appendUtf8(out, replacementCharacter);
    }
    if (isHigh)
        decoder.highSurrogate = unit;
    else
        appendUtf8(out, isLow ? replacementCharacter : unit);
}

} // namespace

void decodeUtf16(Utf16Decoder& decoder, std::string_view bytes, std::string& out) {
    const bool little = decoder.littleEndian;
    const auto unitOf = [little](unsigned char first, unsigned char second) {
        return little ? std::uint32_t{first} | std::uint32_t{second} << 8
                      : std::uint32_t{first} << 8 | std::uint32_t{second};
    };
    if (bytes.empty()) {
        if (decoder.oddByte >= 0 || decoder.highSurrogate != 0)
            appendUtf8(out, replacementCharacter);
        if (decoder.oddByte >= 0 && decoder.highSurrogate != 0)
            appendUtf8(out, replacementCharacter);
        decoder.oddByte = -1;
        decoder.highSurrogate = 0;
        return;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    if (decoder.oddByte >= 0) {
        decodeUnit(decoder, unitOf(static_cast<unsigned char>(decoder.oddByte), *p++), out);
        decoder.oddByte = -1;
    }
    for (; end - p >= 2; p += 2)
        decodeUnit(decoder, unitOf(p[0], p[1]), out);
    if (p != end)
        decoder.oddByte = *p;
}

Utf8Character decodeUtf8(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {1, true, lead};
    // The second byte's range depends on the lead.
    std::size_t size;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {1, false, 0};
    }
    std::uint32_t value = lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        if (i >= text.size() || byte(i) < (i == 1 ? low : 0x80) || byte(i) > (i == 1 ? high : 0xBF))
            return {i, false, 0};
        value = value << 6 | (byte(i) & 0x3F);
    }
    return {size, true, value};
}
