// FFmpeg metadata: a [CHAPTER] section a chapter, times in milliseconds.
#include "writer.hpp"

#include <algorithm>
#include <array>

namespace {

// What a title escapes with a backslash, and NUL, which would end it for ffmpeg.
constexpr auto special = [] {
    std::array<bool, 256> special{};
    for (const char c : std::string_view("=;#\\\n\0", 6))
        special[static_cast<unsigned char>(c)] = true;
    return special;
}();
constexpr std::size_t mostPerByte = 3; // NUL becomes U+FFFD

// Titles are escaped a slice at a time, so that the buffer stays small however long the title.
constexpr std::size_t slice = 16 * 1024;

// Writes text escaped at out, which has room for mostPerByte times its size.
char* escape(char* out, std::string_view text) {
    // Runs without a character to escape are copied whole.
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!special[static_cast<unsigned char>(text[i])])
            continue;
        out = put(out, text.substr(copied, i - copied));
        copied = i;
        if (text[i] == '\0') {
            out = put(out, "\xEF\xBF\xBD");
            ++copied;
        } else {
            *out++ = '\\';
        }
    }
    return put(out, text.substr(copied));
}

// What ffmpeg would lose of a title as written.
std::string_view lost(const Chapter& chapter) {
    if (chapter.title.find('\0') != std::string_view::npos)
        return "title holds a NUL byte, which would end it for ffmpeg; written as U+FFFD";
    if (chapter.title.ends_with('\\'))
        return "title ends in a backslash: ffmpeg reads the escaped backslash before the line "
               "end as a line continuation, loses the title and merges the next chapter into it";
    return {};
}

void begin(Output& output) {
    append(output, ";FFMETADATA1\n");
}

void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    constexpr std::string_view head = "[CHAPTER]\nTIMEBASE=1/1000\nSTART=";
    constexpr std::size_t size = head.size() + maxTimeTextSize + 5 + maxTimeTextSize + 7 + 1;
    const TimeTexts times = renderTimes(state, chapter, writeInteger);
    std::string_view title = chapter.title;
    std::string_view first = title.substr(0, slice);
    title.remove_prefix(first.size());
    char* out = reserve(output, size + mostPerByte * first.size());
    out = put(out, head);
    out = put(out, times.start);
    out = put(out, "\nEND=");
    out = put(out, times.end);
    *out++ = '\n';
    if (chapter.titled)
        out = escape(put(out, "title="), first);
    for (; !title.empty(); title.remove_prefix(first.size())) {
        commit(output, out);
        first = title.substr(0, slice);
        out = escape(reserve(output, mostPerByte * first.size() + 1), first);
    }
    if (chapter.titled)
        *out++ = '\n';
    commit(output, out);
}

void end(WriterState&, Output&) {}

} // namespace

const Writer ffmetadataWriter{"ffmetadata", "FFmpeg metadata (for ffmpeg's -map_chapters)",
                              begin,        nullptr,
                              chapter,      end,
                              lost,         Join::ffmpeg};
