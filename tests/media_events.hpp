#pragma once
// Runs the media source over one input and says, a line each, what it handed on.

#include "output.hpp"
#include "sources/source.hpp"

#include <span>
#include <string>
#include <vector>

struct RecordedEvents final : Events {
    std::vector<std::string> lines;
    std::vector<TimeRange> cuts; // where the source said the joining tool cuts the kept ranges

    void chapter(const ChapterLine& line, std::int64_t lineNumber) override {
        static constexpr const char* kinds[] = {"other",   "time",           "name",
                                                "badTime", "timeOutOfRange", "numberOutOfRange"};
        std::string text = std::to_string(lineNumber) + ": " + kinds[static_cast<int>(line.kind)] +
                           " " + std::to_string(line.number);
        if (line.kind == LineKind::time)
            text += " " + std::to_string(line.time) +
                    (line.nanoseconds != 0 ? "+" + std::to_string(line.nanoseconds) + "ns" : "");
        if (line.kind == LineKind::name)
            text += " " + std::string(line.title);
        lines.push_back(text);
    }
    void note(std::int64_t lineNumber, std::string_view message, bool fails) override {
        lines.push_back(std::to_string(lineNumber) + (fails ? ": note! " : ": note ") +
                        std::string(message));
    }
    void cutAt(std::span<const TimeRange> actual) override {
        cuts.assign(actual.begin(), actual.end());
    }
};

// "claimed", the events, then "stop" or the part's length ("length 2200", "no length"); or only
// "not claimed".
inline std::vector<std::string> readAsMedia(Input& input) {
    if (!startInput(input))
        return {"cannot read"};
    if (mediaSource.claims(input.head) != Claim::yes)
        return {"not claimed"};
    RecordedEvents events;
    events.lines.push_back("claimed");
    const PartRead part = mediaSource.read(input, events);
    events.lines.push_back(part.stop     ? "stop"
                           : part.length ? "length " + std::to_string(*rounded(*part.length))
                                         : "no length");
    return events.lines;
}
