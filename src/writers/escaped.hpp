#pragma once
// Titles in formats that escape some characters, written a slice at a time so that the buffer
// stays small however long the title.

#include "writer.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

constexpr std::size_t titleSlice = 16 * 1024;

// Which bytes are copied as they are: printable ASCII but the format's special characters, which
// most titles are throughout.
using PlainBytes = std::array<bool, 256>;
constexpr PlainBytes plainBytes(std::string_view special) {
    PlainBytes plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[static_cast<std::size_t>(c)] = special.find(static_cast<char>(c)) == special.npos;
    return plain;
}

// Writes at out the characters of text that start within its first slice: runs of plain bytes
// as they are, and at each other byte what escape(out, rest, size) writes for the character
// that starts rest, setting size to its bytes (1 unless set). Takes them off text.
template <typename Escape>
char* putEscaped(char* out, std::string_view& text, const PlainBytes& plain, Escape escape) {
    std::size_t at = 0;
    const std::size_t stop = std::min(text.size(), titleSlice);
    while (at < stop) {
        std::size_t run = at;
        while (run < stop && plain[static_cast<unsigned char>(text[run])])
            ++run;
        out = put(out, text.substr(at, run - at));
        at = run;
        if (at == stop)
            break;
        std::size_t size = 1;
        out = escape(out, text.substr(at), size);
        at += size;
    }
    text.remove_prefix(at);
    return out;
}
