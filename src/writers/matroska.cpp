// Matroska chapters XML, as mkvmerge --chapters reads it: one edition, a ChapterAtom a chapter.
#include "escaped.hpp"
#include "utf.hpp"
#include "writer.hpp"

#include <algorithm>
#include <array>

namespace {

constexpr PlainBytes plain = plainBytes("&<>");
constexpr std::size_t slice = titleSlice;
constexpr std::size_t mostPerByte = 6; // a space of a blank title becomes "&#x20;"

// A title of spaces and tabs alone, which mkvmerge would empty unless they are references.
bool isBlank(std::string_view text) {
    return !text.empty() && text.find_first_not_of(" \t") == std::string_view::npos;
}

// Writes at out the characters of text that start within its first slice bytes: escaped, with
// U+FFFD for what is not valid UTF-8 or not an XML character, so the document is always
// well-formed. Takes them off text.
char* putText(char* out, std::string_view& text, bool blank) {
    if (blank) {
        const std::size_t stop = std::min(text.size(), slice);
        for (std::size_t at = 0; at < stop; ++at)
            out = put(out, text[at] == ' ' ? "&#x20;" : "&#x9;");
        text.remove_prefix(stop);
        return out;
    }
    return putEscaped(out, text, plain, [](char* to, std::string_view rest, std::size_t& size) {
        const char c = rest.front();
        if (c == '&' || c == '<' || c == '>')
            return put(to, c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;");
        const Utf8Character next = decodeUtf8(rest);
        size = next.size;
        const bool allowed = next.valid && isXmlCharacter(next.value);
        return put(to, allowed ? rest.substr(0, size) : replacementUtf8);
    });
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
