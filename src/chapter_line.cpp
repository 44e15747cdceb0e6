#include "chapter_line.hpp"

#include "timestamp.hpp"

#include <cstring>

ChapterLine parseLine(std::string_view line) {
    // A compare of fixed size is inlined; starts_with is not always.
    if (line.size() < chapterKeyword.size() ||
        std::memcmp(line.data(), chapterKeyword.data(), chapterKeyword.size()) != 0)
        return lineOfKind(LineKind::other);
    // One pass over the key finds both its end and its first "NAME".
    // Plain pointer arithmetic: this is the hottest path, and substr and compare are not always
    // inlined.
    const std::string_view rest(line.data() + chapterKeyword.size(),
                                line.size() - chapterKeyword.size());
    std::size_t equals = 0;
    std::size_t name = std::string_view::npos;
    for (; equals < rest.size() && rest[equals] != '='; ++equals) {
        if (rest[equals] == 'N' && name == std::string_view::npos && rest.size() - equals >= 4 &&
            std::memcmp(rest.data() + equals, "NAME", 4) == 0)
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
