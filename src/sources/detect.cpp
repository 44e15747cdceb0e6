#include "source.hpp"

const Source& detect(std::string_view head) {
    // Formats with a signature first; the simple format takes what is left.
    const Source* const formats[] = {&ffmetadataSource, &matroskaSource, &mediaSource,
                                     &simpleSource};
    for (const Source* source : formats)
        if (source->claims(head))
            return *source;
    return simpleSource;
}
