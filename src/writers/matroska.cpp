// Matroska chapters XML, as mkvmerge --chapters reads it: one edition, a ChapterAtom a chapter.
#include "utf.hpp"
#include "writer.hpp"

#include <algorithm>
#include <array>

namespace {

// Printable ASCII other than markup: copied as it is, which most titles are throughout.
constexpr auto plain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[static_cast<std::size_t>(c)] = c != '&' && c != '<' && c != '>';
    return plain;
}();

// Titles are written a slice at a time, so that the buffer stays small however long the title.
constexpr std::size_t slice = 16 * 1024;
constexpr std::size_t mostPerByte = 6; // a space of a blank title becomes "&#x20;"

// A title of spaces and tabs alone, which mkvmerge would empty unless they are references.
bool isBlank(std::string_view text) {
    return !text.empty() && text.find_first_not_of(" \t") == std::string_view::npos;
}

// Writes at out the characters of text that start within its first slice bytes: escaped, with
// U+FFFD for what is not valid UTF-8 or not an XML character, so the document is always
// well-formed. Takes them off text.
char* putText(char* out, std::string_view& text, bool blank) {
    std::size_t at = 0;
    const std::size_t stop = std::min(text.size(), slice);
    if (blank) {
        for (; at < stop; ++at)
            out = put(out, text[at] == ' ' ? "&#x20;" : "&#x9;");
        text.remove_prefix(at);
        return out;
    }
    while (at < stop) {
        std::size_t run = at;
        while (run < stop && plain[static_cast<unsigned char>(text[run])])
            ++run;
        out = put(out, text.substr(at, run - at));
        at = run;
        if (at == stop)
            break;
        const char c = text[at];
        std::size_t size = 1;
        if (c == '&') {
            out = put(out, "&amp;");
        } else if (c == '<') {
            out = put(out, "&lt;");
        } else if (c == '>') {
            out = put(out, "&gt;");
        } else {
            const Utf8Character next = decodeUtf8(text.substr(at));
            size = next.size;
            const bool allowed = next.valid && isXmlCharacter(next.value);
            out = put(out, allowed ? text.substr(at, size) : replacementUtf8);
        }
        at += size;
    }
    text.remove_prefix(at);
    return out;
}

char* putTime(char* out, std::int64_t milliseconds) {
    return put(intToTimestamp(out, milliseconds), "000000"); // to nanoseconds
}

void begin(Output& output) {
    append(output, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chapters>\n");
}

void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    constexpr std::string_view edition = "  <EditionEntry>\n";
    constexpr std::string_view start = "    <ChapterAtom>\n      <ChapterTimeStart>";
    constexpr std::string_view startEnd = "</ChapterTimeStart>\n";
    constexpr std::string_view end = "      <ChapterTimeEnd>";
    constexpr std::string_view endEnd = "</ChapterTimeEnd>\n";
    constexpr std::string_view display = "      <ChapterDisplay>\n        <ChapterString>";
    constexpr std::string_view language = "</ChapterString>\n"
                                          "        <ChapterLanguage>und</ChapterLanguage>\n"
                                          "      </ChapterDisplay>\n";
    constexpr std::string_view atomEnd = "    </ChapterAtom>\n";
    constexpr std::size_t size = edition.size() + start.size() + startEnd.size() + end.size() +
                                 endEnd.size() + display.size() + language.size() + atomEnd.size() +
                                 2 * maxTimeTextSize;
    // Room for a slice of the title; its last character may run three bytes past it.
    const auto textSize = [](std::string_view text) {
        return mostPerByte * (std::min(text.size(), slice) + 3);
    };
    const TimeTexts times = renderTimes(state, chapter, putTime);
    std::string_view title = chapter.title;
    char* out = reserve(output, size + textSize(title));
    // An edition without chapters is an error to mkvmerge; no edition is not.
    if (!state.wroteChapter)
        out = put(out, edition);
    state.wroteChapter = true;
    out = put(put(put(out, start), times.start), startEnd);
    if (chapter.end) // optional, and better left out than made up
        out = put(put(put(out, end), times.end), endEnd);
    if (!chapter.titled) {
        commit(output, put(out, atomEnd));
        return;
    }
    const bool blank = isBlank(title);
    out = putText(put(out, display), title, blank);
    while (!title.empty()) {
        commit(output, out);
        out = putText(reserve(output, textSize(title)), title, blank);
    }
    commit(output, put(put(out, language), atomEnd));
}

void end(WriterState& state, Output& output) {
    append(output, state.wroteChapter ? "  </EditionEntry>\n</Chapters>\n" : "</Chapters>\n");
}

std::string_view lost(const Chapter&) {
    return {};
}

} // namespace

const Writer matroskaWriter{"matroska", "Matroska chapters XML (for mkvmerge --chapters)",
                            begin,      nullptr,
                            chapter,    end,
                            lost,       Join::mkvmerge};
