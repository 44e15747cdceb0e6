// Podcasting 2.0 JSON chapters, for a podcast feed's <podcast:chapters>: startTime in seconds,
// and the title. endTime is left out: a player takes a chapter's end from the next one's start
// and the last one's from the episode's length.
#include "escaped.hpp"
#include "utf.hpp"
#include "writer.hpp"

#include <algorithm>
#include <array>

namespace {

constexpr PlainBytes plain = plainBytes("\"\\");
constexpr std::size_t slice = titleSlice;
constexpr std::size_t mostPerByte = 6; // a control character becomes "\u001f"

char* putEscape(char* out, char c) {
    constexpr std::string_view hex = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(c);
    const std::string_view shorts = "\"\\\b\f\n\r\t";
    const std::string_view letters = "\"\\bfnrt";
    *out++ = '\\';
    if (const std::size_t at = shorts.find(c); at != std::string_view::npos) {
        *out++ = letters[at];
        return out;
    }
    out = put(out, "u00");
    *out++ = hex[byte >> 4];
    *out++ = hex[byte & 0xF];
    return out;
}

// Writes at out the characters of text that start within its first slice bytes, escaped, with
// U+FFFD for what is not valid UTF-8. Takes them off text.
char* putText(char* out, std::string_view& text) {
    return putEscaped(out, text, plain, [](char* to, std::string_view rest, std::size_t& size) {
        if (static_cast<unsigned char>(rest.front()) < 0x80)
            return putEscape(to, rest.front());
        const Utf8Character next = decodeUtf8(rest);
        size = next.size;
        return put(to, next.valid ? rest.substr(0, size) : replacementUtf8);
    });
}

// Seconds, with the milliseconds as up to three decimals: 0, 94, 252.48, -0.5.
char* putSeconds(char* out, std::int64_t milliseconds) {
    auto magnitude = static_cast<std::uint64_t>(milliseconds);
    if (milliseconds < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    const std::uint64_t seconds = magnitude / 1000;
    std::uint64_t fraction = magnitude % 1000;
    // The seconds of the largest magnitude do not fit in an int64_t's writer.
    char digits[maxNumberSize];
    char* end = digits + sizeof digits;
    char* first = end;
    std::uint64_t rest = seconds;
    do {
        *--first = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    out = std::copy(first, end, out);
    if (fraction == 0)
        return out;
    *out++ = '.';
    for (std::uint64_t place = 100; fraction != 0; place /= 10) {
        *out++ = static_cast<char>('0' + fraction / place);
        fraction %= place;
    }
    return out;
}

void begin(Output& output) {
    append(output, "{\"version\": \"1.2.0\", \"chapters\": [");
}

void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    constexpr std::string_view first = "\n  {\"startTime\": ";
    constexpr std::string_view next = ",\n  {\"startTime\": ";
    constexpr std::string_view title = ", \"title\": \"";
    constexpr std::size_t size = next.size() + maxTimeTextSize + title.size() + 2;
    // Room for a slice of the title; its last character may run three bytes past it.
    const auto textSize = [](std::string_view text) {
        return mostPerByte * (std::min(text.size(), slice) + 3);
    };
    std::string_view text = chapter.title;
    char* out = reserve(output, size + textSize(text));
    out = putSeconds(put(out, state.wroteChapter ? next : first), chapter.start);
    state.wroteChapter = true;
    if (!chapter.titled) {
        commit(output, put(out, "}"));
        return;
    }
    out = putText(put(out, title), text);
    while (!text.empty()) {
        commit(output, out);
        out = putText(reserve(output, textSize(text)), text);
    }
    commit(output, put(out, "\"}"));
}

void end(WriterState& state, Output& output) {
    append(output, state.wroteChapter ? "\n]}\n" : "]}\n");
}

// JSON strings are Unicode: bytes that are not UTF-8 cannot be written as they are.
std::string_view lost(const Chapter& chapter) {
    for (std::string_view text = chapter.title; !text.empty();) {
        if (static_cast<unsigned char>(text.front()) < 0x80) {
            text.remove_prefix(1);
            continue;
        }
        const Utf8Character next = decodeUtf8(text);
        if (!next.valid)
            return "title is not valid UTF-8, which JSON strings must be; written with U+FFFD "
                   "for each invalid sequence";
        text.remove_prefix(next.size);
    }
    return {};
}

} // namespace

const Writer podcastJsonWriter{"podcast-json", "Podcasting 2.0 JSON chapters, for a podcast feed",
                               begin,          nullptr,
                               chapter,        end,
                               lost,           Join::ffmpeg,
                               false};
