// A script for ffmpeg's concat demuxer that names the parts, with the ranges kept of each, so
// that the parts are joined as their chapters were.
#include "writer.hpp"

#include <string>

namespace {

void begin(Output& output) {
    append(output, "ffconcat version 1.0\n");
}

void chapter(WriterState&, Output&, const Chapter&) {} // they go in a file of their own

void end(WriterState&, Output&) {}

std::string_view lost(const Chapter&) {
    return {};
}

// Seconds, as the demuxer reads a time.
std::string seconds(ExactTime time) {
    const std::string milliseconds = std::to_string(time.milliseconds % 1000 + 1000);
    return std::to_string(time.milliseconds / 1000) + "." + milliseconds.substr(1);
}

// Quoted as the demuxer unquotes it: within quotes all is kept but a quote, which ends them.
std::string quoted(std::string_view name) {
    std::string text = "'";
    for (const char c : name)
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

std::string_view part(Output& output, const PartListing& listing) {
    if (listing.file.find_first_of("\n\r") != std::string_view::npos)
        return "its name holds a line break, which a concat script cannot";
    const std::string file = "file " + quoted(listing.file) + "\n";
    if (listing.kept.empty())
        append(output, file);
    for (const TimeRange& range : listing.kept) {
        append(output, file);
        if (range.from != ExactTime{})
            append(output, "inpoint " + seconds(range.from) + "\n");
        if (range.to)
            append(output, "outpoint " + seconds(*range.to) + "\n");
    }
    return {};
}

} // namespace

const Writer ffconcatWriter{
    "ffconcat", "a script for ffmpeg's concat demuxer naming the media parts",
    begin,      nullptr,
    chapter,    end,
    lost,       Join::ffmpeg,
    false,      part};
