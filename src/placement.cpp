#include "placement.hpp"

#include "frame_rate.hpp"

Part startPart(const Carried& carried, std::int64_t delay, bool pal2Film, bool threeTwoPulldown) {
    // The plan has checked that all delays together fit.
    return {carried.chapterOffset,
            carried.timeOffset,
            carried.timeDelay + delay,
            pal2Film,
            threeTwoPulldown,
            carried.chapterOffset,
            std::nullopt};
}

ChapterLine place(Part& part, ChapterLine line) {
    if (line.kind == LineKind::other || line.kind == LineKind::numberOutOfRange)
        return line;
    if (__builtin_add_overflow(line.number, part.chapterOffset, &line.number))
        return lineOfKind(LineKind::numberOutOfRange);
    if (line.kind != LineKind::time && line.kind != LineKind::name)
        return line; // a bad time: skipped, but reported with its number checked first
    if (line.kind == LineKind::time) {
        // The offset was converted when it was written; only this part's own time is.
        if (__builtin_add_overflow(part.timeDelay, line.time, &line.time) ||
            !convertFrameRate(line.time, part.pal2Film, part.threeTwoPulldown) ||
            __builtin_add_overflow(part.timeOffset, line.time, &line.time))
            return lineOfKind(LineKind::timeOutOfRange);
        part.lastTime = line.time;
    }
    part.lastChapter = line.number;
    return line;
}

Carried endPart(const Carried& carried, const Part& part) {
    if (part.lastTime)
        return {part.lastChapter, *part.lastTime, 0};
    return {part.lastChapter, carried.timeOffset, part.timeDelay};
}
