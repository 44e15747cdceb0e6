// CUE sheets, as players and mkvmerge read them: one FILE, the joined file, then a TRACK a
// chapter, starting at its INDEX 01 to the nearest frame (75 a second). A sheet has no chapter
// ends.
#include "writer.hpp"

#include <algorithm>
#include <string>

namespace {

constexpr std::int64_t framesPerSecond = 75;
constexpr std::int64_t mostTracks = 99; // as CDs number them
// What the FILE line names where --cue-file does not: a name to replace.
constexpr std::string_view placeholder = "joined.wav";
// What a quoted CUE text cannot hold: a quote has no escape, and a line ends the command.
constexpr std::string_view unquotable = "\"\r\n";

// A quote becomes two apostrophes, which look like it, and a line break a space.
char* putQuotable(char* out, std::string_view text) {
    if (text.find_first_of(unquotable) == std::string_view::npos)
        return put(out, text);
    for (const char c : text) {
        if (c == '"')
            *out++ = '\'';
        *out++ = c == '"' ? '\'' : c == '\r' || c == '\n' ? ' ' : c;
    }
    return out;
}

// The room text takes as putQuotable writes it: a quote takes two.
std::size_t quotableSize(std::string_view text) {
    return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '"'));
}

// The file type players expect of the joined file: by its extension, WAVE for any they decode.
std::string_view typeOf(std::string_view name) {
    const std::size_t dot = name.find_last_of("./");
    std::string extension;
    for (const char c : name.substr(dot == std::string_view::npos ? name.size() : dot + 1))
        extension += c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    if (extension == "mp3")
        return "MP3";
    if (extension == "aif" || extension == "aiff" || extension == "aifc")
        return "AIFF";
    return "WAVE";
}

void writeFile(const WriterState& state, Output& output) {
    const std::string_view name = state.cueFile.empty() ? placeholder : state.cueFile;
    if (name.find_first_of(unquotable) != std::string_view::npos)
        report(output, "--cue-file: the name holds a \" or a line break, which a CUE sheet "
                       "cannot quote; written as '' or a space");
    char* out = reserve(output, quotableSize(name) + 32);
    out = put(out, "FILE \"");
    out = putQuotable(out, name);
    out = put(out, "\" ");
    out = put(out, typeOf(name));
    *out++ = '\n';
    commit(output, out);
}

// mm:ss:ff to the nearest frame, halves up; the minutes may pass 99. A sheet holds no time
// before its start.
char* renderFrames(char* out, std::int64_t milliseconds) {
    const Int128 frames =
        (Int128{std::max<std::int64_t>(milliseconds, 0)} * framesPerSecond + 500) / 1000;
    out = writeTwoDigitsAtLeast(out, static_cast<std::int64_t>(frames / (60 * framesPerSecond)));
    *out++ = ':';
    out = writeTwoDigitsAtLeast(out, static_cast<std::int64_t>(frames / framesPerSecond % 60));
    *out++ = ':';
    return writeTwoDigitsAtLeast(out, static_cast<std::int64_t>(frames % framesPerSecond));
}

void begin(Output&) {}

void chapter(WriterState& state, Output& output, const Chapter& chapter) {
    if (state.written == 0)
        writeFile(state, output);
    ++state.written;
    if (state.written == mostTracks + 1)
        report(output, "TRACK 100 and after: a CUE sheet holds 99 tracks, and players and "
                       "burners may stop there (mkvmerge reads on)");
    const bool titled = chapter.titled && !chapter.title.empty();
    char* out = reserve(output, quotableSize(chapter.title) + maxNumberSize + maxTimeTextSize + 64);
    out = put(out, "  TRACK ");
    out = writeTwoDigitsAtLeast(out, state.written);
    out = put(out, " AUDIO\n");
    if (titled) {
        out = put(out, "    TITLE \"");
        out = putQuotable(out, chapter.title);
        out = put(out, "\"\n");
    }
    out = put(out, "    INDEX 01 ");
    out = renderFrames(out, chapter.start);
    *out++ = '\n';
    commit(output, out);
}

void end(WriterState& state, Output& output) {
    if (state.written == 0) // a sheet of no track still names its file
        writeFile(state, output);
}

// What a reader of the sheet would not get back of a chapter as written.
std::string_view lost(const Chapter& chapter) {
    if (chapter.start < 0)
        return "a CUE sheet holds no time before 00:00:00; written as INDEX 01 00:00:00";
    if (chapter.title.find('"') != std::string_view::npos)
        return "title holds a \", which a CUE sheet cannot quote; written as ''";
    if (chapter.title.find_first_of("\r\n") != std::string_view::npos)
        return "title holds a line break, which a CUE sheet cannot; written as a space";
    if (chapter.titled && chapter.title.empty())
        return "empty title, which a CUE sheet cannot tell from none; no TITLE written";
    return {};
}

} // namespace

const Writer cueWriter{"cue",   "CUE sheet; --cue-file=NAME names the joined file",
                       begin,   nullptr,
                       chapter, end,
                       lost,    Join::ffmpegFilter,
                       false};
