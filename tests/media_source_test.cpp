// The media source over files that ffmpeg makes: their chapters and length, what it leaves to
// the other formats, and what it refuses.
#include "sources/line_reader.hpp"
#include "media_events.hpp"
#include "run_tool.hpp"
#include "sources/media.hpp"

#if CHAPCAT_LIBAV
extern "C" {
#include <libavformat/version_major.h>
#include <libavutil/macros.h>
}
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <optional>
#include <random>
#include <utility>

namespace {

constexpr std::int64_t int64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64Min = std::numeric_limits<std::int64_t>::min();

struct TicksCase {
    std::int64_t ticks;
    int num;
    int den;
    std::optional<std::int64_t> milliseconds;
};

const TicksCase ticksCases[] = {
    {700'500'000, 1, 1'000'000'000, 701},   // a half rounds away from zero
    {-700'500'000, 1, 1'000'000'000, -701}, // on both sides
    {-1, 1, 2000, -1},
    {1, 1, 2001, 0},
    {4, 1, 3, 1333},
    {5, 1, 3, 1667},
    {2'200'000, 1, 1'000'000, 2200},
    {int64Max, 1, 1000, int64Max},
    {int64Min, 1, 1000, int64Min},
    {int64Max / 1000 + 1, 1, 1, std::nullopt}, // past 64 bits once in milliseconds
    {int64Max, std::numeric_limits<int>::max(), 1, std::nullopt},
    {1, 0, 1, std::nullopt},
    {1, 1, 0, std::nullopt},
    {1, -1, 1000, std::nullopt},
};

TEST(MediaSource, TicksToMilliseconds) {
    for (const TicksCase& c : ticksCases)
        EXPECT_EQ(ticksToMilliseconds(c.ticks, c.num, c.den), c.milliseconds)
            << c.ticks << " x " << c.num << "/" << c.den;
}

bool installed(const char* tool) {
    return std::system(("command -v " + std::string(tool) + " > /dev/null 2>&1").c_str()) == 0;
}

// What a shell command writes to standard output.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

// The length scripts take from ffprobe ("2.223000" seconds), to the nearest millisecond.
std::string probedLength(const std::filesystem::path& file) {
    const std::string seconds = capture(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file.string() + "'");
    const std::size_t point = seconds.find('.');
    const std::int64_t microseconds =
        std::stoll(seconds.substr(0, point)) * 1'000'000 + std::stoll(seconds.substr(point + 1, 6));
    return "length " + std::to_string((microseconds + 500) / 1000);
}

std::string randomBytes() {
    std::mt19937 generator(1);
    std::string bytes(64 * 1024, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    bytes[100] = '\0';
    return bytes;
}

const std::string nulInTitle("CHAPTER01=00:00:00.000\nCHAPTER01NAME=a\0b\n", 41);

// Video of 23.976 frames a second and longer audio: the parts last no whole number of frames.
const std::string recording = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=24000/1001:"
                              "duration=2.1 -f lavfi -i sine=duration=2.2 ";
const std::string encoded = " -c:v libx264 -c:a aac ";
const std::string withChapters = "-i chapters.txt -map 0 -map 1 -map_metadata 2 -map_chapters 2";

// MP4 drops a chapter without a title; 63045/90000 s is 700.5 ms.
const std::string mp4Chapters =
    ";FFMETADATA1\ntitle=Whole\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=Anfang\n"
    "[CHAPTER]\nTIMEBASE=1/90000\nSTART=63045\nEND=120000\ntitle=Mitte\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=2000\ntitle=Schluss – 終\n";
const std::string mkvChapters = ";FFMETADATA1\n"
                                "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=Anfang\n"
                                "[CHAPTER]\nTIMEBASE=1/90000\nSTART=63045\nEND=120000\n"
                                "[CHAPTER]\nTIMEBASE=1/3\nSTART=4\nEND=6\ntitle=Schluss – 終\n";

const std::pair<const char*, std::string> madeByFfmpeg[] = {
    {"chapters.mp4", mp4Chapters},
    {"chapters.mkv", mkvChapters},
    {"plain.mkv", ""},
    {"long.mkv", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=" +
                     std::string(maxLineSize + 1, 'x') +
                     "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=700\nEND=900\ntitle=Kurz\n"},
};

enum class Via { file, standardInput, pipe };
enum class Ends { withProbedLength, asListed };

struct MediaCase {
    const char* what;
    const char* file;
    Via via;
    std::vector<std::string> events;
    Ends ends = Ends::asListed;
};

const MediaCase mediaCases[] = {
    {"MP4Chapters",
     "chapters.mp4",
     Via::file,
     {"claimed", "1: time 1 0", "1: name 1 Anfang", "2: time 2 701", "2: name 2 Mitte",
      "3: time 3 1500", "3: name 3 Schluss – 終"},
     Ends::withProbedLength},
    {"MatroskaChaptersBetweenMillisecondsOneWithoutTitle",
     "chapters.mkv",
     Via::file,
     {"claimed", "1: time 1 0", "1: name 1 Anfang", "2: time 2 701", "3: time 3 1333",
      "3: name 3 Schluss – 終"},
     Ends::withProbedLength},
    {"NoChapters", "plain.mkv", Via::file, {"claimed"}, Ends::withProbedLength},
    {"OverlongTitle",
     "long.mkv",
     Via::file,
     {"claimed", "1: note! chapter title longer than 1 MiB; chapter skipped", "2: time 1 700",
      "2: name 1 Kurz"},
     Ends::withProbedLength},
    {"Truncated",
     "truncated.mp4",
     Via::file,
     {"claimed", "0: note! Invalid data found when processing input", "stop"}},
    {"StandardInput",
     "chapters.mp4",
     Via::standardInput,
     {"claimed",
      "0: note! media on standard input cannot be read (containers need to seek); name the file "
      "instead",
      "stop"}},
    {"Pipe",
     "chapters.mp4",
     Via::pipe,
     {"claimed",
      "0: note! media from a pipe cannot be read (containers need to seek); save it to a file "
      "first",
      "stop"}},
    {"RandomBytes", "random.bin", Via::file, {"not claimed"}},
    {"TextWithNulInTitle", "nul.txt", Via::file, {"not claimed"}},
    // Game music may come gzipped: a probe scores any gzip file, but too low to count.
    {"GzippedText", "nul.txt.gz", Via::file, {"not claimed"}},
};

void PrintTo(const MediaCase& c, std::ostream* os) {
    *os << c.what;
}

class Media : public testing::TestWithParam<MediaCase> {
  protected:
    static void SetUpTestSuite() {
        if (!CHAPCAT_LIBAV || !installed("ffmpeg") || !installed("ffprobe"))
            return;
        files = new ScratchDir;
        const std::string in = "cd '" + files->path().string() + "' && ";
        files->write("random.bin", randomBytes());
        files->write("nul.txt", nulInTitle);
        made = std::system((in + "gzip -n -k nul.txt").c_str()) == 0;
        for (const auto& [file, chapters] : madeByFfmpeg) {
            files->write("chapters.txt", chapters);
            const std::string add = chapters.empty() ? "" : withChapters;
            made = made && std::system((in + recording + add + encoded + file).c_str()) == 0;
        }
        // The index of an MP4 that ffmpeg writes comes last.
        const std::string whole = readWhole(files->path() / "chapters.mp4");
        files->write("truncated.mp4", whole.substr(0, whole.size() / 2));
    }
    static void TearDownTestSuite() {
        delete files;
        files = nullptr;
    }
    static inline ScratchDir* files = nullptr;
    static inline bool made = false;
};

// An input as the driver opens it, through a pipe where the case says so.
int openAs(const std::filesystem::path& file, Via via) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (via != Via::pipe)
        return fd;
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    const std::string start = readWhole(file).substr(0, 4096); // fits in a pipe's buffer
    const bool written = writeAll(ends[1], start);
    close(ends[1]);
    close(fd);
    return written ? ends[0] : -1;
}

TEST_P(Media, Read) {
    if (!CHAPCAT_LIBAV)
        GTEST_SKIP() << "built without libavformat";
    if (files == nullptr)
        GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(made) << "ffmpeg could not make the media files";
    const MediaCase& c = GetParam();
    const std::filesystem::path file = files->path() / c.file;
    const int fd = openAs(file, c.via);
    ASSERT_GE(fd, 0);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    Output output = makeOutput(devNull, devNull);
    std::vector<char> buffer;
    const std::string path = c.via == Via::standardInput ? "" : file.string();
    Input input{fd, c.file, path, buffer, output, {}};
    std::vector<std::string> expected = c.events;
    if (c.ends == Ends::withProbedLength)
        expected.push_back(probedLength(file));
    EXPECT_EQ(readAsMedia(input), expected);
    close(fd);
    close(devNull);
}

INSTANTIATE_TEST_SUITE_P(MediaSource, Media, testing::ValuesIn(mediaCases),
                         [](const auto& info) { return std::string(info.param.what); });

// Without the libraries, a file that may be media stops the run with what to install; text stays
// text. The loader is made to fail as it would on a machine without them.
TEST(MediaSource, SaysWhatToInstallWhereTheLibrariesAreMissing) {
    ScratchDir dir;
    dir.write("random.bin", randomBytes());
    dir.write("nul.txt", nulInTitle);
    dir.write("bom.txt", "\xEF\xBB\xBF" + nulInTitle);
    dir.write("utf16.txt", std::string("\xFF\xFE\x43\0\x48\0\x41\0\x50\0", 10));
#if CHAPCAT_LIBAV
    const std::string soname = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    dir.write(soname, "not a library\n");
    const std::string environment = "LD_LIBRARY_PATH='" + dir.path().string() + "' ";
    const std::string missing = "cannot load " + soname + " (" + (dir.path() / soname).string() +
                                ": file too short); to read media files, apt-get install "
                                "libavformat" AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
#else
    const std::string environment;
    const std::string missing = "media files need chapcat built with libavformat (apt-get install "
                                "libavformat-dev, then rebuild)";
#endif
    const std::string out = capture("cd '" + dir.path().string() + "' && " + environment +
                                    MEDIA_EVENTS_BINARY " random.bin nul.txt bom.txt utf16.txt");
    EXPECT_EQ(out, "random.bin: claimed\nrandom.bin: 0: note! " + missing +
                       "\nrandom.bin: stop\nnul.txt: not claimed\nbom.txt: not claimed\n"
                       "utf16.txt: not claimed\n");
}

} // namespace
