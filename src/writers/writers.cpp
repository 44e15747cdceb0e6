#include "writer.hpp"

#include <algorithm>

std::span<const Writer* const> writers() {
    static constexpr const Writer* table[] = {
        &simpleWriter,       &ffmetadataWriter, &matroskaWriter, &timestampsWriter,
        &timestampsMsWriter, &webvttWriter,     &ffconcatWriter};
    return table;
}

TimeTexts renderTimes(WriterState& state, const Chapter& chapter,
                      char* (*render)(char* out, std::int64_t time)) {
    if (state.endSize != 0 && state.lastEnd == chapter.start) {
        std::copy_n(state.endText, state.endSize, state.startText);
        state.startSize = state.endSize;
    } else {
        state.startSize =
            static_cast<std::size_t>(render(state.startText, chapter.start) - state.startText);
    }
    const std::int64_t end = chapter.end.value_or(chapter.start);
    state.endSize = static_cast<std::size_t>(render(state.endText, end) - state.endText);
    state.lastEnd = end;
    return {{state.startText, state.startSize}, {state.endText, state.endSize}};
}
