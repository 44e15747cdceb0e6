// Media files as parts: their chapters and length, read through libavformat.
#include "media.hpp"

#include "bounds.hpp"
#include "source.hpp"
#include "timestamp.hpp"

#if CHAPCAT_LIBAV
#include "libav.hpp"
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A NUL byte this early says the input is not text.
constexpr std::size_t binaryWindow = 4096;

bool mayBeMedia(std::string_view head) {
    // UTF-16 text is full of NUL bytes, and the simple format reads it.
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF"))
        return false;
    return head.substr(0, binaryWindow).find('\0') != std::string_view::npos;
}

// Where libavformat is missing, a chapter file with a NUL in a title must still be read as text;
// anything else is taken, so that the run says what to install rather than reading noise.
bool claimedUnread(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        head.remove_prefix(3);
    return !head.starts_with("CHAPTER");
}

PartRead stop(Events& events, std::string_view why) {
    events.note(0, why, true);
    return {true, std::nullopt};
}

// Containers are opened by name and read out of order.
const char* unreadable(const Input& input) {
    if (input.path.empty())
        return "media on standard input cannot be read (containers need to seek); name the file "
               "instead";
    if (lseek(input.fd, 0, SEEK_CUR) < 0)
        return "media from a pipe cannot be read (containers need to seek); save it to a file "
               "first";
    return nullptr;
}

#if CHAPCAT_LIBAV

// The libraries are loaded at the first input that may be media, so that runs on text never pay
// for them, and once. A source's functions are plain pointers that carry no state: this
// function-local static is where the source keeps them for the run.
const LibAv& libraries() {
    static const LibAv loaded = loadLibAv();
    return loaded;
}

// The head goes to libavformat's own probe, without a file name, so that only the bytes count. A
// score it would read on for is no recognition: random bytes score as MP3, gzip as game music.
bool recognised(const LibAv& av, std::string_view head) {
    head = head.substr(0, std::numeric_limits<int>::max() - AVPROBE_PADDING_SIZE);
    std::vector<unsigned char> probed(head.size() + AVPROBE_PADDING_SIZE); // zeroed, as probes want
    std::copy(head.begin(), head.end(), probed.begin());
    AVProbeData data{"", probed.data(), static_cast<int>(head.size()), nullptr};
    int score = AVPROBE_SCORE_RETRY;
    return av.probe(&data, 1, &score) != nullptr;
}

Claim claims(std::string_view head) {
    if (!mayBeMedia(head))
        return Claim::no;
    const LibAv& av = libraries();
    return (av.failure.empty() ? recognised(av, head) : claimedUnread(head)) ? Claim::yes
                                                                             : Claim::no;
}

// An opened container, closed however reading ends.
struct Opened {
    const LibAv& av;
    AVFormatContext* media = nullptr;
    ~Opened() { av.closeInput(&media); }
};

std::string errorText(const LibAv& av, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av.errorText(error, text, sizeof text);
    return text;
}

// Returns a negative AVERROR where the file cannot be read as media.
int openMedia(const LibAv& av, Opened& opened, std::string_view path) {
    // The named file only: not a URL its name may look like, nor the network a playlist in it
    // may point to.
    const std::string url = "file:" + std::string(path);
    AVDictionary* options = nullptr;
    int error = av.dictSet(&options, "protocol_whitelist", "file", 0);
    if (error >= 0)
        error = av.openInput(&opened.media, url.c_str(), nullptr, &options);
    av.dictFree(&options);
    return error < 0 ? error : av.findStreamInfo(opened.media, nullptr);
}

ChapterLine startOf(const AVChapter& chapter) {
    const AVRational base = chapter.time_base;
    if (chapter.start == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0)
        return lineOfKind(LineKind::badTime);
    const std::optional<std::int64_t> start =
        ticksToMilliseconds(chapter.start, base.num, base.den);
    return start ? ChapterLine{LineKind::time, 0, *start, {}}
                 : lineOfKind(LineKind::timeOutOfRange);
}

// Chapters in libavformat's order, numbered from 1 over those handed on; a chapter's place in
// the input is its index from 1.
void handChapters(const LibAv& av, const AVFormatContext& media, Events& events) {
    std::int64_t number = 0;
    for (unsigned i = 0; i < media.nb_chapters; ++i) {
        const AVChapter& chapter = *media.chapters[i];
        const std::int64_t lineNumber = std::int64_t{i} + 1;
        ChapterLine start = startOf(chapter);
        if (start.kind != LineKind::time) {
            events.chapter(start, lineNumber);
            continue;
        }
        const AVDictionaryEntry* title = av.dictGet(chapter.metadata, "title", nullptr, 0);
        const std::size_t titleSize = title ? strnlen(title->value, maxLineSize + 1) : 0;
        if (titleSize > maxLineSize) {
            events.note(lineNumber, titleTooLong() + "; chapter skipped", true);
            continue;
        }
        start.number = ++number;
        events.chapter(start, lineNumber);
        if (title)
            events.chapter({LineKind::name, number, 0, {title->value, titleSize}}, lineNumber);
    }
}

// The concat demuxer starts the next file where this one's duration ends, when it has one.
std::optional<std::int64_t> lengthOf(const AVFormatContext& media) {
    if (media.duration <= 0) // AV_NOPTS_VALUE among them
        return std::nullopt;
    return ticksToMilliseconds(media.duration, 1, AV_TIME_BASE);
}

PartRead read(Input& input, Events& events) {
    if (const char* why = unreadable(input))
        return stop(events, why);
    const LibAv& av = libraries();
    if (!av.failure.empty())
        return stop(events, av.failure);
    Opened opened{av};
    if (const int error = openMedia(av, opened, input.path); error < 0)
        return stop(events, errorText(av, error));
    handChapters(av, *opened.media, events);
    return {false, lengthOf(*opened.media)};
}

#else

Claim claims(std::string_view head) {
    return mayBeMedia(head) && claimedUnread(head) ? Claim::yes : Claim::no;
}

PartRead read(Input& input, Events& events) {
    if (const char* why = unreadable(input))
        return stop(events, why);
    return stop(events, "media files need chapcat built with libavformat (apt-get install "
                        "libavformat-dev, then rebuild)");
}

#endif

} // namespace

const Source mediaSource{"media", claims, read, "has no title", true};
