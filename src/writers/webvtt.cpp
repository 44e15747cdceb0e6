// WebVTT: a cue a chapter, its text the title, for a web player's chapters track.
#include "writer.hpp"

#include <array>

namespace {

// What a cue's text cannot hold as it is: markup and NUL always, line breaks where flattened.
constexpr auto special = [] {
    std::array<bool, 256> special{};
    for (const char c : std::string_view("&<>\0\r\n", 6))
        special[static_cast<unsigned char>(c)] = true;
    return special;
}();
constexpr std::size_t mostPerByte = 5; // '&' becomes "&amp;"

// Titles are written a slice at a time, so that the buffer stays small however long the title.
constexpr std::size_t slice = 16 * 1024;

// A blank line would end the cue's text, and readers end lines at a carriage return too.
bool breaksCueText(std::string_view title) {
    return title.find('\r') != std::string_view::npos || title.starts_with('\n') ||
           title.ends_with('\n') || title.find("\n\n") != std::string_view::npos;
}

// Writes text escaped at out, which has room for mostPerByte times its size; flat: line breaks
// become spaces.
char* escape(char* out, std::string_view text, bool flat) {
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!special[static_cast<unsigned char>(text[i])])
            continue;
        out = put(out, text.substr(copied, i - copied));
        copied = i + 1;
        switch (text[i]) {
        case '&':
            out = put(out, "&amp;");
            break;
        case '<':
            out = put(out, "&lt;");
            break;
        case '>': // so that a title's '-->' is no timing line
            out = put(out, "&gt;");
            break;
        case '\0':
            out = put(out, "\xEF\xBF\xBD");
            break;
        default:
            *out++ = flat ? ' ' : text[i];
        }
    }
    return put(out, text.substr(copied));
}

// What a WebVTT reader would not get back of a title as written.
std::string_view lost(const Chapter& chapter) {
    if (breaksCueText(chapter.title))
        return "title holds a blank line or a carriage return, which would end a cue's text or "
               "a line of it; its line breaks written as spaces";
    if (chapter.title.find('\0') != std::string_view::npos)
        return "title holds a NUL byte, which WebVTT readers take as U+FFFD; written as U+FFFD";
    return {};
}

void begin(Output& output) {
    append(output, "WEBVTT\n");
}

// A blank line, the cue's timing line, then its text, if any: no text is no title.
void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    constexpr std::string_view arrow = " --> ";
    constexpr std::size_t size = 1 + 2 * maxTimeTextSize + arrow.size() + 2;
    const TimeTexts times = renderTimes(state, chapter, intToTimestamp);
    const bool flat = breaksCueText(chapter.title);
    std::string_view title = chapter.title;
    std::string_view first = title.substr(0, slice);
    title.remove_prefix(first.size());
    char* out = reserve(output, size + mostPerByte * first.size());
    *out++ = '\n';
    out = put(put(put(out, times.start), arrow), times.end);
    *out++ = '\n';
    out = escape(out, first, flat);
    for (; !title.empty(); title.remove_prefix(first.size())) {
        commit(output, out);
        first = title.substr(0, slice);
        out = escape(reserve(output, mostPerByte * first.size() + 1), first, flat);
    }
    if (!chapter.title.empty())
        *out++ = '\n';
    commit(output, out);
}

void end(WriterState&, Output&) {}

} // namespace

const Writer webvttWriter{"webvtt", "WebVTT cues (for a web player's chapters track)",
                          begin,    nullptr,
                          chapter,  end,
                          lost,     Join::ffmpeg};
