// CHAPTERnn=time and CHAPTERnnNAME=title lines, the format chapcat has always read.
#include "chapter_line.hpp"
#include "line_reader.hpp"
#include "source.hpp"

#include <string>

namespace {

bool claims(std::string_view) {
    return true;
}

// What a file without chapter lines seems to be, by its first text, for its warning.
std::string noChaptersIn(std::string_view firstText) {
    const char* looksLike = firstText.starts_with('<')              ? "Matroska XML chapters"
                            : firstText.starts_with(";FFMETADATA1") ? "FFmpeg metadata"
                                                                    : nullptr;
    return looksLike ? std::string("no chapter lines; this looks like ") + looksLike +
                           ", but chapcat reads CHAPTERnn= lines"
                     : "no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)";
}

PartRead read(Input& input, Events& events) {
    LineReader reader; // its buffers live as long as one input: a few allocations a file
    startReading(reader, chapterKeyword);
    bool sawChapterLine = false;
    std::string firstText; // the start of the first line that is not blank
    Line line;
    for (NextLine next; (next = nextLine(reader, line)) != NextLine::end;) {
        if (next == NextLine::needInput) {
            std::string_view bytes;
            const Bytes got = nextBytes(input, bytes);
            if (got == Bytes::failed)
                return readFailed(input, events);
            feed(reader, got == Bytes::end ? std::string_view{} : bytes);
            continue;
        }
        const ChapterLine chapter =
            line.tooLong ? lineOfKind(LineKind::tooLong) : parseLine(line.text);
        if (chapter.kind == LineKind::other) {
            const auto text = line.text.find_first_not_of(" \t");
            if (firstText.empty() && text != std::string_view::npos)
                firstText = line.text.substr(text, 64);
            continue;
        }
        sawChapterLine = true;
        events.chapter(chapter, line.number);
    }
    if (!sawChapterLine && !firstText.empty())
        events.note(0, noChaptersIn(firstText), true);
    return {};
}

} // namespace

const Source simpleSource{"simple", claims, read};
