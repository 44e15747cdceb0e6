// CHAPTERnn=time and CHAPTERnnNAME=title lines, the format chapcat has always read.
#include "chapter_line.hpp"
#include "line_reader.hpp"
#include "source.hpp"

#include <string>

namespace {

Claim claims(std::string_view) {
    return Claim::yes;
}

PartRead read(Input& input, Events& events) {
    LineReader reader; // its buffers live as long as one input: a few allocations a file
    startReading(reader);
    bool sawChapterLine = false;
    bool sawText = false;
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
        // Of a line too long to keep, its start tells whether it is a chapter line.
        const ChapterLine chapter = !line.tooLong ? parseLine(line.text)
                                    : line.text.starts_with(chapterKeyword)
                                        ? lineOfKind(LineKind::tooLong)
                                        : lineOfKind(LineKind::other);
        if (chapter.kind == LineKind::other) {
            sawText = sawText || line.tooLong ||
                      line.text.find_first_not_of(" \t") != std::string_view::npos;
            continue;
        }
        sawChapterLine = true;
        events.chapter(chapter, line.number);
    }
    if (!sawChapterLine && sawText)
        events.note(0, "no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)", true);
    return {};
}

} // namespace

// Its lines hold no line break.
const Source simpleSource{"simple", claims, read, "has a time line but no name line", false, ""};
