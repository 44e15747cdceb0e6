#include "chapter_line.hpp"

#include "timestamp.hpp"

ChapterLine parseLine(std::string_view line) {
    if (!line.starts_with(chapterKeyword))
        return lineOfKind(LineKind::other);
    // One pass over the key finds both its end and its first "NAME".
    const auto rest = line.substr(chapterKeyword.size());
    std::size_t equals = 0;
    std::size_t name = std::string_view::npos;
    for (; equals < rest.size() && rest[equals] != '='; ++equals) {
        if (rest[equals] == 'N' && name == std::string_view::npos &&
            rest.substr(equals, 4) == "NAME")
            name = equals;
    }
    if (equals == rest.size())
        return lineOfKind(LineKind::other);

    ChapterLine result = lineOfKind(LineKind::name);
    if (!parseInteger(rest.substr(0, std::min(name, equals)), result.number))
        return lineOfKind(LineKind::numberOutOfRange);
    const auto value = rest.substr(equals + 1);
    if (name != std::string_view::npos) {
        result.title = value;
        return result;
    }
    const TimeStatus status = timestampToInt(value, result.time);
    result.kind = status == TimeStatus::ok           ? LineKind::time
                  : status == TimeStatus::outOfRange ? LineKind::timeOutOfRange
                                                     : LineKind::badTime;
    return result;
}
