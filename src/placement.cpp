#include "placement.hpp"

#include "frame_rate.hpp"

namespace {

// T + conversion(D + time - S): where a time of the part's own goes, exactly; S is where the
// joining tool starts the part.
std::optional<ExactTime> placeTime(const Part& part, ExactTime time) {
    if (part.start) {
        const std::optional<ExactTime> fromStart = nanosecondsOf(time) < nanosecondsOf(*part.start)
                                                       ? ExactTime{}
                                                       : subtract(time, *part.start);
        if (!fromStart)
            return std::nullopt;
        time = *fromStart;
    }
    if (__builtin_add_overflow(part.timeDelay, time.milliseconds, &time.milliseconds) ||
        !convertFrameRate(time, part.pal2Film, part.threeTwoPulldown))
        return std::nullopt;
    // Whole milliseconds, as chapter files' times are, need no 128-bit sum (measured).
    std::int64_t sum;
    if (time.nanoseconds == 0 && part.timeOffset.nanoseconds == 0)
        return __builtin_add_overflow(part.timeOffset.milliseconds, time.milliseconds, &sum)
                   ? std::nullopt
                   : std::optional<ExactTime>(sum);
    return add(part.timeOffset, time);
}

} // namespace

Part startPart(const Carried& carried, std::int64_t delay, std::optional<std::int64_t> length,
               Stretch stretch) {
    const auto [pal2Film, threeTwoPulldown] = stretch;
    // The plan has checked that all delays together fit.
    Part part{};
    part.chapterOffset = part.lastChapter = carried.chapterOffset;
    part.timeOffset = carried.timeOffset;
    part.timeDelay = carried.timeDelay + delay;
    part.pal2Film = pal2Film;
    part.threeTwoPulldown = threeTwoPulldown;
    part.continues = carried.anyChapter;
    if (length) {
        // The length is in output time: it is not converted.
        const std::optional<ExactTime> start = placeTime(part, 0);
        part.end = start ? add(*start, *length) : std::nullopt;
        part.endOutOfRange = !part.end;
    }
    return part;
}

ChapterLine place(Part& part, ChapterLine line) {
    if (line.kind == LineKind::other || line.kind == LineKind::numberOutOfRange ||
        line.kind == LineKind::tooLong)
        return line;
    // A part counts from chapter 0 when the first line it writes has number 0; a line that is
    // skipped counts for nothing.
    std::int64_t chapterOffset = part.chapterOffset;
    if (!part.placedAny && part.continues && line.number == 0 &&
        __builtin_add_overflow(chapterOffset, 1, &chapterOffset))
        return lineOfKind(LineKind::numberOutOfRange);
    if (__builtin_add_overflow(line.number, chapterOffset, &line.number))
        return lineOfKind(LineKind::numberOutOfRange);
    if (line.kind != LineKind::time && line.kind != LineKind::name)
        return line; // a bad time: skipped, but reported with its number checked first
    if (line.kind == LineKind::time) {
        const std::optional<ExactTime> placed = placeTime(part, {line.time, line.nanoseconds});
        const std::optional<std::int64_t> written = placed ? rounded(*placed) : std::nullopt;
        if (!written)
            return lineOfKind(LineKind::timeOutOfRange);
        part.lastTime = placed;
        line.time = *written;
        line.nanoseconds = 0;
    }
    part.placedAny = true;
    part.chapterOffset = chapterOffset;
    part.lastChapter = line.number;
    return line;
}

std::optional<ExactTime> partStart(const Part& part) {
    return placeTime(part, 0);
}

std::optional<ExactTime> partEnd(const Part& part, std::optional<ExactTime> ownLength) {
    if (part.end || !ownLength)
        return part.end;
    return placeTime(part, *ownLength);
}

Carried endPart(const Carried& carried, const Part& part, std::optional<ExactTime> ownLength) {
    const bool anyChapter = carried.anyChapter || part.placedAny;
    if (const auto end = partEnd(part, ownLength))
        return {part.lastChapter, *end, 0, anyChapter};
    if (part.lastTime)
        return {part.lastChapter, *part.lastTime, 0, anyChapter};
    return {part.lastChapter, carried.timeOffset, part.timeDelay, anyChapter};
}
