#include "writer.hpp"

#include "timestamp.hpp"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view keyword = "CHAPTER";

char* put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// 'CHAPTERnn=HH:MM:SS.mmm' and 'CHAPTERnnNAME=title', as read.
void simpleLine(Output& output, const ChapterLine& line) {
    constexpr std::size_t timeLineSize = keyword.size() + maxNumberSize + 1 + maxTimestampSize + 1;
    constexpr std::size_t nameLineSize = keyword.size() + maxNumberSize + 5 + 1;
    const bool isTime = line.kind == LineKind::time;
    char* out = reserve(output, isTime ? timeLineSize : nameLineSize + line.title.size());
    out = put(out, keyword);
    out = writeTwoDigitsAtLeast(out, line.number);
    if (isTime) {
        *out++ = '=';
        out = intToTimestamp(out, line.time);
    } else {
        out = put(out, "NAME=");
        out = put(out, line.title);
    }
    *out++ = '\n';
    commit(output, out);
}

// What a title escapes with a backslash.
constexpr auto ffmetadataSpecial = [] {
    std::array<bool, 256> special{};
    for (const char c : std::string_view("=;#\\\n"))
        special[static_cast<unsigned char>(c)] = true;
    return special;
}();

struct Chapter {
    std::string_view start; // the times as the format writes them
    std::string_view end;
    bool titled; // it has a name line
    std::string_view title;
};

void ffmetadataChapter(Output& output, const Chapter& chapter) {
    constexpr std::string_view head = "[CHAPTER]\nTIMEBASE=1/1000\nSTART=";
    constexpr std::size_t size = head.size() + maxTimeTextSize + 5 + maxTimeTextSize + 7 + 1;
    const std::size_t titleSize = 2 * chapter.title.size();
    char* out = reserve(output, size + titleSize);
    out = put(out, head);
    out = put(out, chapter.start);
    out = put(out, "\nEND=");
    out = put(out, chapter.end);
    *out++ = '\n';
    if (chapter.titled) {
        out = put(out, "title=");
        // Runs without a character to escape are copied whole.
        const std::string_view title = chapter.title;
        std::size_t copied = 0;
        for (std::size_t i = 0; i < title.size(); ++i) {
            const char c = title[i];
            if (ffmetadataSpecial[static_cast<unsigned char>(c)]) {
                out = put(out, title.substr(copied, i - copied));
                *out++ = '\\';
                copied = i;
            }
        }
        out = put(out, title.substr(copied));
        *out++ = '\n';
    }
    commit(output, out);
}

// The next character of text: how many bytes it takes, and whether it is valid UTF-8 and a
// character XML 1.0 allows. An invalid sequence takes its longest valid beginning, at least a
// byte, as Unicode recommends for replacing it.
struct Decoded {
    std::size_t size;
    bool allowed;
};

Decoded decodeXmlCharacter(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {1, lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r'};
    // The second byte's range depends on the lead: no overlong forms, surrogates or values
    // past U+10FFFF.
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
        return {1, false};
    }
    for (std::size_t i = 1; i < size; ++i)
        if (i >= text.size() || byte(i) < (i == 1 ? low : 0x80) || byte(i) > (i == 1 ? high : 0xBF))
            return {i, false};
    // U+FFFE and U+FFFF are not XML characters.
    return {size, !(lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE)};
}

// Printable ASCII other than markup: copied as it is, which most titles are throughout.
constexpr auto plainXml = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[static_cast<std::size_t>(c)] = c != '&' && c != '<' && c != '>';
    return plain;
}();

// Title text for XML: escaped, with U+FFFD for what is not valid UTF-8 or not an XML character,
// so the document is always well-formed.
char* putXmlText(char* out, std::string_view text) {
    while (!text.empty()) {
        std::size_t plain = 0;
        while (plain < text.size() && plainXml[static_cast<unsigned char>(text[plain])])
            ++plain;
        out = put(out, text.substr(0, plain));
        text.remove_prefix(plain);
        if (text.empty())
            break;
        const char c = text[0];
        std::size_t size = 1;
        if (c == '&') {
            out = put(out, "&amp;");
        } else if (c == '<') {
            out = put(out, "&lt;");
        } else if (c == '>') {
            out = put(out, "&gt;");
        } else {
            const Decoded next = decodeXmlCharacter(text);
            size = next.size;
            out = put(out, next.allowed ? text.substr(0, size) : "\xEF\xBF\xBD");
        }
        text.remove_prefix(size);
    }
    return out;
}

char* putXmlTime(char* out, std::int64_t milliseconds) {
    return put(intToTimestamp(out, milliseconds), "000000"); // to nanoseconds
}

void matroskaChapter(Output& output, const Chapter& chapter) {
    constexpr std::string_view start = "    <ChapterAtom>\n      <ChapterTimeStart>";
    constexpr std::string_view end = "</ChapterTimeStart>\n      <ChapterTimeEnd>";
    constexpr std::string_view display = "</ChapterTimeEnd>\n"
                                         "      <ChapterDisplay>\n"
                                         "        <ChapterString>";
    constexpr std::string_view language = "</ChapterString>\n"
                                          "        <ChapterLanguage>und</ChapterLanguage>\n"
                                          "      </ChapterDisplay>\n";
    constexpr std::string_view noDisplay = "</ChapterTimeEnd>\n";
    constexpr std::string_view atomEnd = "    </ChapterAtom>\n";
    constexpr std::size_t size = start.size() + end.size() + display.size() + language.size() +
                                 atomEnd.size() + 2 * maxTimeTextSize;
    const std::size_t titleSize = 5 * chapter.title.size();
    char* out = reserve(output, size + titleSize);
    out = put(put(out, start), chapter.start);
    out = put(put(out, end), chapter.end);
    if (chapter.titled)
        out = put(putXmlText(put(out, display), chapter.title), language);
    else
        out = put(out, noDisplay);
    commit(output, put(out, atomEnd));
}

void writeChapter(Writer& writer, Output& output, std::int64_t end) {
    const auto render = [&](char* out, std::int64_t time) {
        return writer.format == Format::ffmetadata ? writeInteger(out, time)
                                                   : putXmlTime(out, time);
    };
    // A chapter usually starts where the one before ended: that time is rendered already.
    char startText[maxTimeTextSize];
    const std::string_view start =
        writer.lastEndSize != 0 && writer.lastEnd == writer.start
            ? std::string_view(writer.lastEndText, writer.lastEndSize)
            : std::string_view(startText, render(startText, writer.start) - startText);
    char endText[maxTimeTextSize];
    end = std::max(end, writer.start);
    const std::size_t endSize = render(endText, end) - endText;
    const Chapter chapter{
        start, {endText, endSize}, writer.titled, {writer.title.data(), writer.title.size()}};
    if (writer.format == Format::ffmetadata) {
        ffmetadataChapter(output, chapter);
    } else {
        // An edition without chapters is an error to mkvmerge; no edition is not.
        if (!writer.wroteChapter)
            append(output, "  <EditionEntry>\n");
        matroskaChapter(output, chapter);
    }
    writer.wroteChapter = true;
    // Only now: start may be a view of the text kept.
    std::copy_n(endText, endSize, writer.lastEndText);
    writer.lastEnd = end;
    writer.lastEndSize = endSize;
}

} // namespace

void beginOutput(Writer& writer, Output& output) {
    if (writer.format == Format::ffmetadata)
        append(output, ";FFMETADATA1\n");
    else if (writer.format == Format::matroska)
        append(output, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chapters>\n");
}

void writeLine(Writer& writer, Output& output, const ChapterLine& line, bool pairsWithPrevious) {
    if (writer.format == Format::simple) {
        simpleLine(output, line);
        return;
    }
    const bool nameWaits = writer.named && pairsWithPrevious;
    writer.named = false; // a name line that pairs with nothing is no chapter
    if (line.kind == LineKind::name) {
        if (pairsWithPrevious) { // the held chapter's own name
            writer.title.assign(line.title.begin(), line.title.end());
            writer.titled = true;
        } else {
            writer.name.assign(line.title.begin(), line.title.end());
            writer.named = true;
        }
        return;
    }
    if (writer.holding)
        writeChapter(writer, output, line.time);
    writer.holding = true;
    writer.start = line.time;
    writer.titled = nameWaits;
    if (nameWaits)
        writer.title.swap(writer.name);
}

void endOutput(Writer& writer, Output& output, std::optional<std::int64_t> videoEnd) {
    if (writer.holding)
        writeChapter(writer, output, videoEnd.value_or(writer.start));
    writer.holding = false;
    if (writer.format == Format::matroska)
        append(output, writer.wroteChapter ? "  </EditionEntry>\n</Chapters>\n" : "</Chapters>\n");
}
