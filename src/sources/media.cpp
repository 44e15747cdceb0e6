// Media files as parts: their chapters and length, read through libavformat.
#include "media.hpp"

#include "bounds.hpp"
#include "source.hpp"
#include "timeline.hpp"
#include "timestamp.hpp"
#include "utf.hpp"

#if CHAPCAT_LIBAV
#include "libav.hpp"
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A NUL byte this early says the input is not text.
constexpr std::size_t binaryWindow = 4096;

bool mayBeMedia(std::string_view head) {
    // UTF-16 text is full of NUL bytes, and the simple format reads it.
    if (byteOrderMarkOf(head).encoding != Encoding::utf8)
        return false;
    return head.substr(0, binaryWindow).find('\0') != std::string_view::npos;
}

// Where libavformat is missing, a chapter file with a NUL in a title must still be read as text;
// anything else is taken, so that the run says what to install rather than reading noise.
bool claimedUnread(std::string_view head) {
    return !head.substr(byteOrderMarkOf(head).size).starts_with(chapterKeyword);
}

PartRead stop(Events& events, std::string_view why) {
    events.note(0, why, true);
    return {true, std::nullopt};
}

// Containers are read out of order, through the descriptor the run opened.
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

// libavformat's probe starts at 2 KiB and doubles: most containers are known from their start.
constexpr std::size_t firstProbeSize = 2048;

// Whether the input starts with an ID3v2 tag's header: "ID3", a version, flags and a size of
// seven bits a byte.
bool startsWithId3Tag(std::string_view head) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() < 10 || !head.starts_with("ID3") || byte(3) == 0xFF || byte(4) == 0xFF)
        return false;
    for (std::size_t i = 6; i < 10; ++i)
        if (byte(i) >= 0x80)
            return false;
    return true;
}

// The head goes to libavformat's own probe, without a file name, so that only the bytes count,
// in the sizes libavformat's probing of the file would give it. A score it would read on for is
// no recognition: random bytes score as MP3, gzip as game music.
bool recognised(const LibAv& av, std::string_view head) {
    head = head.substr(0, std::numeric_limits<int>::max() - AVPROBE_PADDING_SIZE);
    std::vector<unsigned char> probed(head.size() + AVPROBE_PADDING_SIZE);
    std::size_t copied = 0;
    for (std::size_t size = std::min(firstProbeSize, head.size());;
         size = std::min(2 * size, head.size())) {
        std::copy(head.begin() + static_cast<std::ptrdiff_t>(copied),
                  head.begin() + static_cast<std::ptrdiff_t>(size), probed.begin() + copied);
        std::fill_n(probed.begin() + size, AVPROBE_PADDING_SIZE, 0); // as probes want
        copied = size;
        AVProbeData data{"", probed.data(), static_cast<int>(size), nullptr};
        int score = AVPROBE_SCORE_RETRY;
        if (av.probe(&data, 1, &score) != nullptr)
            return true;
        if (size == head.size())
            return false;
    }
}

Claim claims(std::string_view head) {
    if (!mayBeMedia(head))
        return Claim::no;
    const LibAv& av = libraries();
    if (!av.failure.empty())
        return claimedUnread(head) ? Claim::yes : Claim::no;
    // An ID3v2 tag (an MP3's, often with a cover larger than the head) starts no chapter file:
    // what follows it is probed when the input is read, as far as libavformat's probing reads.
    return startsWithId3Tag(head) || recognised(av, head) ? Claim::yes : Claim::no;
}

// Demuxers that read other inputs than the one given: named by a playlist, a script, a pattern
// or a network description. Those that read no input of their own (AVFMT_NOFILE) are refused too.
struct Refused {
    std::string_view demuxer;
    std::string_view what;
};
constexpr Refused refusedDemuxers[] = {
    {"hls", "an HLS playlist names other files"},
    {"dash", "a DASH manifest names other files"},
    {"concat", "an ffconcat script names other files"},
    {"imf", "an IMF composition names other files"},
    {"vobsub", "a VobSub index names another file (its .sub)"},
    {"mlv", "a Magic Lantern video goes on in other files"},
    {"sdp", "a session description names network streams"},
    {"image2", "an image sequence names other files"},
    {"avisynth", "an AviSynth script opens other files"},
    {"vapoursynth", "a VapourSynth script opens other files"},
};

// Why the demuxer the probe chose is refused; empty where it reads the input's own bytes only.
std::string refusal(const AVInputFormat& format) {
    const std::string_view name = format.name;
    for (const Refused& refused : refusedDemuxers)
        if (name == refused.demuxer)
            return std::string(refused.what) + "; give the files themselves";
    if ((format.flags & AVFMT_NOFILE) != 0)
        return "libavformat's " + std::string(name) +
               " reads other inputs than this file; give the files themselves";
    return {};
}

// What libavformat reads the input through: the descriptor the run opened, not a name.
struct Opened {
    const LibAv& av;
    int fd;
    AVIOContext* io = nullptr;
    AVFormatContext* media = nullptr;
    bool streamsRead = false; // avformat_find_stream_info ran, which may run only once
    ~Opened() {
        av.closeInput(&media); // leaves io alone: it is the caller's
        if (io != nullptr)
            av.freep(&io->buffer);
        av.freeIo(&io);
    }
};

int readFd(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = *static_cast<const int*>(opaque);
    for (;;) {
        const ssize_t n = read(fd, buffer, static_cast<std::size_t>(size));
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

std::int64_t seekFd(void* opaque, std::int64_t offset, int whence) {
    const int fd = *static_cast<const int*>(opaque);
    if ((whence & AVSEEK_SIZE) != 0) {
        struct stat file;
        return fstat(fd, &file) == 0 && S_ISREG(file.st_mode) ? file.st_size : AVERROR(ENOSYS);
    }
    const off_t at = lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

// Another input a demuxer would open: none is. Its parameters are libavformat's.
int refuseToOpen( // NOLINT(readability-function-size)
    AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

constexpr int ioBufferSize = 64 * 1024;

// Reads the input from its start through libavformat's own probing. Returns a negative AVERROR
// where that fails.
int probe(const LibAv& av, Opened& opened, const AVInputFormat*& format) {
    if (lseek(opened.fd, 0, SEEK_SET) < 0)
        return AVERROR(errno);
    auto* buffer = static_cast<unsigned char*>(av.alloc(ioBufferSize));
    if (buffer != nullptr)
        opened.io = av.allocIo(buffer, ioBufferSize, 0, &opened.fd, readFd, nullptr, seekFd);
    if (opened.io == nullptr) {
        av.freep(&buffer);
        return AVERROR(ENOMEM);
    }
    return av.probeBuffer(opened.io, &format, "", nullptr, 0, 0);
}

// Opens the input with the demuxer the probe chose. Returns a negative AVERROR where the input
// cannot be read as media.
int openMedia(const LibAv& av, Opened& opened, const AVInputFormat& format) {
    opened.media = av.allocContext();
    if (opened.media == nullptr)
        return AVERROR(ENOMEM);
    opened.media->pb = opened.io;
    opened.media->flags |= AVFMT_FLAG_CUSTOM_IO;
    opened.media->io_open = refuseToOpen;
    // A demuxer that opens an input of its own hands it this list: no protocol has that name.
    AVDictionary* options = nullptr;
    int error = av.dictSet(&options, "protocol_whitelist", "none", 0);
    if (error >= 0)
        error = av.openInput(&opened.media, "", &format, &options); // frees media where it fails
    av.dictFree(&options);
    if (error < 0 || opened.media->duration > 0)
        return error;
    // Only where the header gives no length are the streams read for one (MPEG-TS, MP3 without
    // a Xing header): where it gives one, reading them changes none (MP4, Matroska, WebM).
    opened.streamsRead = true;
    return av.findStreamInfo(opened.media, nullptr);
}

std::string errorText(const LibAv& av, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av.errorText(error, text, sizeof text);
    return text;
}

ChapterLine startOf(const AVChapter& chapter) {
    const AVRational base = chapter.time_base;
    if (chapter.start == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0)
        return lineOfKind(LineKind::badTime);
    const std::optional<ExactTime> start = ticksToTime(chapter.start, base.num, base.den);
    return start ? ChapterLine{LineKind::time, 0, start->milliseconds, {}, start->nanoseconds}
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
std::optional<ExactTime> lengthOf(const AVFormatContext& media) {
    if (media.duration <= 0) // AV_NOPTS_VALUE among them
        return std::nullopt;
    return ticksToTime(media.duration, 1, AV_TIME_BASE);
}

// A time in a stream's time base, in nanoseconds.
Int128 nanosecondsOf(std::int64_t ticks, AVRational base) {
    return Int128{ticks} * base.num * 1'000'000'000 / base.den;
}

// How long a frame of the stream lasts, exactly where its parameters tell: an audio frame by its
// samples, a video frame by the frame rate where the packet's duration is that rounded to ticks.
Int128 frameNanoseconds(const AVStream& stream, const AVPacket& packet) {
    const AVCodecParameters& codec = *stream.codecpar;
    if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.frame_size > 0 && codec.sample_rate > 0)
        return Int128{codec.frame_size} * 1'000'000'000 / codec.sample_rate;
    const Int128 given = nanosecondsOf(packet.duration, stream.time_base);
    const AVRational rate = stream.avg_frame_rate;
    if (codec.codec_type != AVMEDIA_TYPE_VIDEO || rate.num <= 0 || rate.den <= 0)
        return given;
    const Int128 frame = Int128{rate.den} * 1'000'000'000 / rate.num;
    const Int128 tick = nanosecondsOf(1, stream.time_base);
    return given - frame <= tick && frame - given <= tick ? frame : given;
}

// Where a stream's frames are: a Matroska block's laced frames share its position, and only the
// first has an exact time; the others follow it by their durations.
struct Block {
    std::int64_t position = -1;
    std::int64_t pts = AV_NOPTS_VALUE;
    Int128 frames = 0; // nanoseconds of the block's frames so far
};

// What the packets read so far tell of where the part's frames start and end, in nanoseconds.
struct FrameSpan {
    std::vector<Block> blocks;
    std::optional<Int128> earliest; // pts, of the first packets
    std::optional<Int128> latest;   // pts plus duration, of every packet
};

// Reads packets into span, at most limit of them (0: to the end); those read count for its
// earliest time while counting is on.
void readPackets(const LibAv& av, AVFormatContext& media, FrameSpan& span, int limit) {
    AVPacket* packet = av.allocPacket();
    if (packet == nullptr)
        throw std::bad_alloc();
    for (int read = 0; (limit == 0 || read < limit) && av.readFrame(&media, packet) >= 0; ++read) {
        const auto index = static_cast<std::size_t>(packet->stream_index);
        const AVStream& stream = *media.streams[index];
        if (index >= span.blocks.size()) // a stream found while reading
            span.blocks.resize(media.nb_streams);
        Block& block = span.blocks[index];
        if (packet->pos < 0 || packet->pos != block.position || block.pts == AV_NOPTS_VALUE)
            block = {packet->pos, packet->pts, 0};
        const AVRational base = stream.time_base;
        if (base.num > 0 && base.den > 0 && block.pts != AV_NOPTS_VALUE) {
            block.frames += frameNanoseconds(stream, *packet);
            const Int128 start = nanosecondsOf(block.pts, base);
            const Int128 end = start + block.frames;
            span.latest = span.latest ? std::max(*span.latest, end) : end;
            if (limit != 0)
                span.earliest = span.earliest ? std::min(*span.earliest, start) : start;
        }
        av.unrefPacket(packet);
    }
    av.freePacket(&packet);
}

// Where mkvmerge appends the next part: after this one's last frame, the latest of every
// stream's frame times plus their exact durations, counted from its first timestamp, the
// earliest of its first packets' (not the container's start time, which holds an MP3's encoder
// delay). The part's last seconds are enough to read for its end.
std::optional<std::pair<ExactTime, ExactTime>> frameSpan(const LibAv& av, AVFormatContext& media) {
    constexpr int firstPackets = 64; // every stream's first frames, B-frames and all
    constexpr std::int64_t lastSeconds = 10;
    FrameSpan span;
    readPackets(av, media, span, firstPackets);
    if (media.duration > 2 * lastSeconds * AV_TIME_BASE)
        av.seekFrame(&media, -1, media.duration - lastSeconds * AV_TIME_BASE,
                     AVSEEK_FLAG_BACKWARD); // where it cannot, all is read
    readPackets(av, media, span, 0);
    const auto start = span.earliest ? timeOfNanoseconds(*span.earliest) : std::nullopt;
    const auto end = span.latest ? timeOfNanoseconds(*span.latest) : std::nullopt;
    if (!start || !end)
        return std::nullopt;
    return std::pair{*start, *end};
}

// A little-endian 32-bit count from side data.
std::int64_t countAt(const std::uint8_t* data, std::size_t at) {
    return std::int64_t{data[at]} | std::int64_t{data[at + 1]} << 8 |
           std::int64_t{data[at + 2]} << 16 | std::int64_t{data[at + 3]} << 24;
}

// Where ffmpeg's concat filter, which decodes the parts, starts the next part: after this one's
// sound as it decodes, its frames' samples less the encoder delay skipped at its start and the
// padding said to be skipped at its end. A frame decodes whole, padding and all, whatever the
// container's last packet duration says (AAC in MP4). None for frames of no fixed size.
std::optional<ExactTime> decodedEnd(const LibAv& av, AVFormatContext& media) {
    int audio = -1;
    for (unsigned i = 0; i < media.nb_streams && audio < 0; ++i)
        if (media.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio = static_cast<int>(i);
    const int rate = audio < 0 ? 0 : media.streams[audio]->codecpar->sample_rate;
    const int frameSize = audio < 0 ? 0 : media.streams[audio]->codecpar->frame_size;
    // Frames of no fixed size (Opus, Vorbis) are trimmed by some containers in their durations
    // and by others in side data: their container's duration says what decodes.
    if (rate <= 0 || frameSize <= 0)
        return std::nullopt;
    AVPacket* packet = av.allocPacket();
    if (packet == nullptr)
        throw std::bad_alloc();
    Int128 samples = 0;
    std::int64_t skipped = 0; // samples
    std::int64_t lastPadding = 0;
    bool first = true;
    while (av.readFrame(&media, packet) >= 0) {
        if (packet->stream_index == audio) {
            samples += frameSize;
            std::size_t size = 0;
            const std::uint8_t* skip = av.sideData(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
            skipped += skip != nullptr && size >= 8 && first ? countAt(skip, 0) : 0;
            lastPadding = skip != nullptr && size >= 8 ? countAt(skip, 4) : 0;
            first = false;
        }
        av.unrefPacket(packet);
    }
    av.freePacket(&packet);
    const Int128 nanoseconds = (samples - skipped - lastPadding) * 1'000'000'000 / rate;
    return first ? std::nullopt : timeOfNanoseconds(nanoseconds);
}

// A duration less the samples an audio stream's decoder drops at its start (Opus's pre-skip),
// which its container counts in.
std::optional<ExactTime> withoutPriming(const AVFormatContext& media,
                                        std::optional<ExactTime> duration) {
    for (unsigned i = 0; i < media.nb_streams && duration; ++i) {
        const AVCodecParameters& codec = *media.streams[i]->codecpar;
        if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.sample_rate > 0)
            return subtract(
                *duration,
                ticksToTime(codec.initial_padding, 1, codec.sample_rate).value_or(ExactTime{}));
    }
    return duration;
}

// Where the joining tool starts the part in its own time, and where it ends it.
struct Extent {
    ExactTime start;
    std::optional<ExactTime> end;
};

Extent extentOf(const LibAv& av, Opened& opened, Join join) {
    AVFormatContext& media = *opened.media;
    const std::optional<ExactTime> duration = lengthOf(media);
    if (join == Join::ffmpeg)
        return {{}, duration};
    // Audio frames' sizes are known once the streams are looked into, where the header does not
    // give them.
    bool sizesKnown = true;
    for (unsigned i = 0; i < media.nb_streams; ++i) {
        const AVCodecParameters& codec = *media.streams[i]->codecpar;
        sizesKnown = sizesKnown && (codec.codec_type != AVMEDIA_TYPE_AUDIO || codec.frame_size > 0);
    }
    // Looking into the first frames is enough for them: no frame rate to estimate.
    media.fps_probe_size = 1;
    media.max_analyze_duration = AV_TIME_BASE / 10;
    if (!sizesKnown && !opened.streamsRead && av.findStreamInfo(&media, nullptr) < 0)
        return {{}, duration};
    opened.streamsRead = true;
    if (join == Join::ffmpegFilter) {
        const std::optional<ExactTime> decoded = decodedEnd(av, media);
        return {{}, decoded ? decoded : withoutPriming(media, duration)};
    }
    const auto span = frameSpan(av, media);
    return span ? Extent{span->first, span->second} : Extent{{}, duration};
}

// Whether the stream is seen or heard: a cover picture is neither.
bool playing(const AVStream& stream) {
    const AVMediaType type = stream.codecpar->codec_type;
    return (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) &&
           (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

// A stream copy starts at the keyframes of the first video stream; where there is none, at any
// frame of the sound (-1).
int cutStream(const AVFormatContext& media) {
    for (unsigned i = 0; i < media.nb_streams; ++i)
        if (playing(*media.streams[i]) &&
            media.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            return static_cast<int>(i);
    return -1;
}

// A packet read near a cut, in nanoseconds of the part's own time.
struct Frame {
    unsigned stream;
    Int128 start;
    Int128 end;
    bool cuttable; // a stream copy may start at it
};

// What the frames around a time tell of a cut there, in nanoseconds.
struct Cut {
    std::optional<Int128> keyframe; // the first cuttable frame at or after the time
    Int128 endBefore = 0;           // the end of the frames before it, of every stream
    Int128 lastStart = 0;           // the latest of the streams' first frames from it on
    std::optional<Int128> earliest; // the first frame the seek gave
};

std::optional<Frame> frameOf(const AVFormatContext& media, const AVPacket& packet, int cutAt) {
    const auto index = static_cast<unsigned>(packet.stream_index);
    const AVStream& stream = *media.streams[index];
    const AVRational base = stream.time_base;
    if (packet.pts == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0 || !playing(stream))
        return std::nullopt;
    const Int128 start = nanosecondsOf(packet.pts, base);
    const bool key =
        cutAt < 0 || (packet.stream_index == cutAt && (packet.flags & AV_PKT_FLAG_KEY) != 0);
    return Frame{index, start, start + frameNanoseconds(stream, packet), key};
}

// Seeks back to AT as the concat demuxer seeks to an inpoint; with lead, to a tick of the cut
// stream before it, so that the frames before a keyframe at AT are read too.
void seekBack(const LibAv& av, AVFormatContext& media, Int128 at, bool lead) {
    int error = 0;
    int index = cutStream(media);
    for (unsigned i = 0; i < media.nb_streams && index < 0; ++i)
        index = playing(*media.streams[i]) ? static_cast<int>(i) : -1;
    const AVRational base = index >= 0 ? media.streams[index]->time_base : AVRational{0, 1};
    if (lead && base.num > 0 && base.den > 0) {
        const Int128 ticks = at * base.den / (Int128{base.num} * 1'000'000'000);
        error =
            av.seekFrame(&media, index, static_cast<std::int64_t>(ticks) - 1, AVSEEK_FLAG_BACKWARD);
    } else {
        const Int128 microseconds = at / 1000 - (lead ? 1 : 0); // AV_TIME_BASE
        error =
            av.seekFrame(&media, -1, static_cast<std::int64_t>(microseconds), AVSEEK_FLAG_BACKWARD);
    }
    if (error < 0)
        av.seekFrame(&media, -1, 0, AVSEEK_FLAG_BYTE); // from the start, then
}

// Reads the frames from where seekBack puts the input, until the first cuttable one at or after
// AT and each stream's first one after that; at most a bound of them, so that a file without
// keyframes is not read whole.
std::vector<Frame> framesAround(const LibAv& av, AVFormatContext& media, Int128 at, bool lead) {
    constexpr int bound = 1 << 14;
    seekBack(av, media, at, lead);
    AVPacket* packet = av.allocPacket();
    if (packet == nullptr)
        throw std::bad_alloc();
    const int cutAt = cutStream(media);
    std::vector<Frame> frames;
    std::optional<Int128> key;
    std::vector<bool> waiting; // streams without a frame from the keyframe on
    for (int read = 0; read < bound && av.readFrame(&media, packet) >= 0; ++read) {
        const std::optional<Frame> frame = frameOf(media, *packet, cutAt);
        av.unrefPacket(packet);
        if (!frame)
            continue;
        frames.push_back(*frame);
        if (!key && frame->cuttable && frame->start >= at) {
            key = frame->start;
            waiting.assign(media.nb_streams, false);
            for (unsigned i = 0; i < media.nb_streams; ++i)
                waiting[i] = playing(*media.streams[i]);
            for (const Frame& before : frames)
                waiting[before.stream] = waiting[before.stream] && before.start < *key;
        }
        if (key && frame->start >= *key && frame->stream < waiting.size()) // not one found late
            waiting[frame->stream] = false;
        if (key && std::find(waiting.begin(), waiting.end(), true) == waiting.end())
            break;
    }
    av.freePacket(&packet);
    return frames;
}

// The cut at or after TIME, from the frames from where a seek back to it puts the input: from
// the keyframe before it where the frames before a keyframe at TIME count (lead).
Cut cutNear(const LibAv& av, AVFormatContext& media, ExactTime time, bool lead) {
    const Int128 at = nanosecondsOf(time);
    const std::vector<Frame> frames = framesAround(av, media, at, lead);
    Cut cut;
    for (const Frame& frame : frames)
        if (frame.cuttable && frame.start >= at)
            cut.keyframe = cut.keyframe ? std::min(*cut.keyframe, frame.start) : frame.start;
    std::vector<std::optional<Int128>> firsts(media.nb_streams);
    for (const Frame& frame : frames) {
        cut.earliest = cut.earliest ? std::min(*cut.earliest, frame.start) : frame.start;
        if (cut.keyframe && frame.start < *cut.keyframe)
            cut.endBefore = std::max(cut.endBefore, frame.end);
        std::optional<Int128>& first = firsts.at(frame.stream);
        if (cut.keyframe && frame.start >= *cut.keyframe)
            first = first ? std::min(*first, frame.start) : frame.start;
    }
    for (const std::optional<Int128>& first : firsts)
        cut.lastStart = first ? std::max(cut.lastStart, *first) : cut.lastStart;
    return cut;
}

ExactTime timeOf(Int128 nanoseconds, ExactTime otherwise) {
    return timeOfNanoseconds(nanoseconds).value_or(otherwise);
}

// Where mkvmerge's split into parts ends a range before the keyframe END. Where another range
// follows, mkvmerge drops the gap up to where every stream goes on after the next keyframe (the
// first sound frame after it): that keyframe comes as much earlier. The last range ends with its
// frames.
std::optional<ExactTime> mkvmergeEnd(const Cut& end, const std::optional<Cut>& next,
                                     ExactTime otherwise) {
    if (!end.keyframe)
        return std::nullopt; // no keyframe after it: to the part's end
    if (!next)
        return timeOf(std::max(*end.keyframe, end.endBefore), otherwise);
    const Int128 late = next->keyframe ? next->lastStart - *next->keyframe : 0;
    return timeOf(*end.keyframe - late, otherwise);
}

// Where mkvmerge --split parts: cuts the kept ranges: each from the first keyframe at or after its
// start to the first at or after its end. A range with no keyframe in it keeps nothing.
std::vector<TimeRange> mkvmergeCuts(const LibAv& av, AVFormatContext& media,
                                    std::span<const TimeRange> kept) {
    std::vector<TimeRange> actual;
    Cut start = cutNear(av, media, kept.front().from, true);
    for (std::size_t k = 0; k < kept.size(); ++k) {
        std::optional<Cut> next;
        if (k + 1 < kept.size())
            next = cutNear(av, media, kept[k + 1].from, true);
        TimeRange range{kept[k].from, kept[k].from};
        if (start.keyframe) {
            // From the part's start, mkvmerge cuts nothing there.
            if (k > 0 || nanosecondsOf(kept[k].from) > 0)
                range.from = timeOf(*start.keyframe, kept[k].from);
            range.to = kept[k].to
                           ? mkvmergeEnd(cutNear(av, media, *kept[k].to, true), next, *kept[k].to)
                           : std::nullopt;
        }
        actual.push_back(range);
        if (next)
            start = *next;
    }
    return actual;
}

// Where the joining tool really cuts the kept ranges. ffmpeg's concat demuxer ends each at its
// outpoint and starts it at its inpoint, the packets before it from the keyframe at or before
// it squeezed into the join; only the joined file's first part starts at the first of them, as
// ffmpeg moves the file's start there. A filter that decodes cuts where it is told.
std::vector<TimeRange> cutsOf(const LibAv& av, AVFormatContext& media, const Input& input) {
    if (input.join == Join::mkvmerge)
        return mkvmergeCuts(av, media, input.kept);
    std::vector<TimeRange> actual(input.kept.begin(), input.kept.end());
    if (input.join == Join::ffmpeg && input.opensOutput) {
        // The concat demuxer seeks to the inpoint itself.
        const std::optional<Int128> first = cutNear(av, media, actual.front().from, false).earliest;
        if (first && *first < nanosecondsOf(actual.front().from))
            actual.front().from = timeOf(*first, actual.front().from);
    }
    return actual;
}

// A range the tool keeps nothing of, with no keyframe from its start on, is said; where it starts
// after the part's end, the run says so.
void sayEmptyCuts(std::span<const TimeRange> kept, std::span<const TimeRange> actual,
                  std::optional<ExactTime> end, Events& events) {
    for (std::size_t k = 0; k < kept.size() && k < actual.size(); ++k)
        if (actual[k].to && actual[k].from == *actual[k].to && kept[k].to != kept[k].from &&
            (!end || nanosecondsOf(kept[k].from) < nanosecondsOf(*end)))
            events.note(0,
                        "the range from " + timestamp(rounded(kept[k].from).value_or(0)) +
                            " has no keyframe at or after its start: mkvmerge's split keeps "
                            "nothing of it",
                        false);
}

std::string titleOf(const LibAv& av, const AVFormatContext& media) {
    const AVDictionaryEntry* title = av.dictGet(media.metadata, "title", nullptr, 0);
    return title ? std::string(title->value, strnlen(title->value, maxLineSize)) : std::string();
}

PartRead read(Input& input, Events& events) {
    if (const char* why = unreadable(input))
        return stop(events, why);
    const LibAv& av = libraries();
    if (!av.failure.empty())
        return stop(events, av.failure);
    Opened opened{av, input.fd};
    const AVInputFormat* format = nullptr;
    if (const int error = probe(av, opened, format); error < 0)
        return stop(events, errorText(av, error));
    if (const std::string why = refusal(*format); !why.empty())
        return stop(events, why);
    if (const int error = openMedia(av, opened, *format); error < 0)
        return stop(events, errorText(av, error));
    const Extent extent = extentOf(av, opened, input.join);
    if (!input.kept.empty()) { // first: the part's length is what is kept of it
        const std::vector<TimeRange> actual = cutsOf(av, *opened.media, input);
        sayEmptyCuts(input.kept, actual, extent.end, events);
        events.cutAt(actual);
    }
    if (extent.end)
        events.ownExtent(extent.start, *extent.end);
    handChapters(av, *opened.media, events);
    return {false, extent.end, titleOf(av, *opened.media)};
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

const Source mediaSource{"media", claims, read, "has no title", true, "media file", true};
