// The media source over files that ffmpeg makes: their chapters and length, what it leaves to
// the other formats, and what it refuses.
#include "media_events.hpp"
#include "run_tool.hpp"
#include "sources/line_reader.hpp"
#include "sources/media.hpp"
#include "timeline.hpp"

#if CHAPCAT_LIBAV
#include "sources/libav.hpp"
#endif

#if CHAPCAT_LIBAV
extern "C" {
#include <libavformat/version_major.h>
#include <libavutil/macros.h>
}
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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

std::string randomBytes(std::size_t size = 64 * 1024) {
    std::mt19937 generator(1);
    std::string bytes(size, '\0');
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
    {"titled.mkv", ";FFMETADATA1\ntitle=Kapitel 1: Der Anfang\n"},
    {"long.mkv", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=" +
                     std::string(maxLineSize + 1, 'x') +
                     "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=700\nEND=900\ntitle=Kurz\n"},
};

// An MP3 whose ID3 tag holds a cover larger than a first read, as audiobooks have: a PNG of
// noise, which does not compress.
const std::string coveredMp3 =
    "ffmpeg -v error -y -f rawvideo -pix_fmt gray -s 400x400 -i noise.gray -frames:v 1 cover.png "
    "&& ffmpeg -v error -y -f lavfi -i sine=duration=3 -i cover.png -map 0 -map 1 -c:a libmp3lame "
    "-c:v copy -id3v2_version 3 cover.mp3";
// An MP3 of a few frames, too few for a probe of its start to be sure, after its ID3 tag of
// chapters.
const std::string smallMp3 =
    "printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\nEND=100\\ntitle=Eins\\n"
    "[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=100\\nEND=200\\ntitle=Zwei\\n' > mp3.meta && "
    "ffmpeg -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -i mp3.meta -map 0 -map_chapters 1 "
    "-c:a libmp3lame -b:a 8k -t 0.2 -id3v2_version 4 small.mp3";
// A stream without a container: no chapters, and no length before it is decoded.
const std::string rawVideo = "ffmpeg -v error -y -i plain.mkv -map 0:v -c copy -f h264 raw.h264";
// Matroska audio remuxed with chapters; a remux keeps the length of the first one.
const std::string remuxedAudio = "ffmpeg -v error -y -f lavfi -i sine=duration=2.2 -c:a aac "
                                 "audio.mkv && ffmpeg -v error -y -i audio.mkv -c copy late0.mkv";
const std::string remuxWithChapters =
    "ffmpeg -v error -y -i audio.mkv -i chapters.txt -map 0 -map_chapters 1 -c copy late.mkv";

// A playlist and a script with a NUL, as binary as media, that name a FIFO and a file.
const std::string nul(1, '\0');
const std::string hlsPlaylist = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10," + nul +
                                "\nfifo\n#EXTINF:10,\nchapters.mp4\n#EXT-X-ENDLIST\n";
const std::string ffconcatScript =
    "ffconcat version 1.0\nfile fifo" + nul + "\nfile chapters.mp4\n";

// Chapters that each reach into a range the cut tests keep, one starting in a gap.
const std::string cutChapters =
    ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2500\ntitle=a\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2500\nEND=5000\ntitle=b\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=5000\nEND=8300\ntitle=c\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=8300\nEND=12000\ntitle=d\n";
// Keyframes every second, B-frames, and sound in frames of 128 ms, which a cut at a keyframe
// splits; and sound alone.
const std::string cutVideo =
    "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25:duration=12 -f lavfi -i "
    "sine=duration=12:sample_rate=8000 -i cut.meta -map 0 -map 1 -map_chapters 2 -c:v libx264 "
    "-g 25 -keyint_min 25 -sc_threshold 0 -c:a aac ";
const std::string cutAudio =
    "ffmpeg -v error -y -f lavfi -i sine=duration=12 -i cut.meta -map 0 -map_chapters 1 -c:a aac ";
const std::string cutFiles = cutVideo + "cut.mkv && " + cutVideo + "cut.mp4 && " + cutAudio +
                             "cut.mka && " + cutAudio + "cut.m4a";

// The chapters of late.mkv: one at its own length, one past it.
std::string lateChapters(std::int64_t length) {
    std::string text = ";FFMETADATA1\n";
    for (const std::int64_t start : {std::int64_t{0}, length, length + 2800})
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(start) +
                "\nEND=" + std::to_string(start + 1) + "\ntitle=x\n";
    return text;
}

// The length ffprobe reads, in milliseconds.
std::int64_t probedMilliseconds(const std::filesystem::path& file) {
    return std::stoll(probedLength(file).substr(7));
}

// Makes every file the media tests read into FOLDER; false where ffmpeg fails.
bool makeMediaFiles(const std::filesystem::path& folder) {
    const std::string in = "cd '" + folder.string() + "' && ";
    writeWhole(folder / "random.bin", randomBytes());
    writeWhole(folder / "noise.gray", randomBytes(400 * 400));
    writeWhole(folder / "nul.txt", nulInTitle);
    writeWhole(folder / "playlist.m3u8", hlsPlaylist);
    writeWhole(folder / "script.ffconcat", ffconcatScript);
    writeWhole(folder / "cut.meta", cutChapters);
    bool made = std::system((in + "gzip -n -k nul.txt && mkfifo fifo").c_str()) == 0;
    for (const auto& [file, chapters] : madeByFfmpeg) {
        writeWhole(folder / "chapters.txt", chapters);
        const std::string add = chapters.empty() ? "" : withChapters;
        made = made && std::system((in + recording + add + encoded + file).c_str()) == 0;
    }
    for (const std::string& command : {coveredMp3, smallMp3, rawVideo, remuxedAudio, cutFiles})
        made = made && std::system((in + command).c_str()) == 0;
    if (!made)
        return false;
    writeWhole(folder / "chapters.txt", lateChapters(probedMilliseconds(folder / "late0.mkv")));
    // A name libavformat would take for an image sequence: the file itself is an MP4.
    std::filesystem::copy_file(folder / "chapters.mp4", folder / "shot%03d.png");
    std::filesystem::copy_file(folder / "plain.mkv", folder / "shot001.png");
    // The index of an MP4 that ffmpeg writes comes last.
    const std::string whole = readWhole(folder / "chapters.mp4");
    writeWhole(folder / "truncated.mp4", whole.substr(0, whole.size() / 2));
    return std::system((in + remuxWithChapters).c_str()) == 0;
}

// The media files, made once for all the test processes of a build (ctest runs each test in a
// process of its own) and kept in the build folder; empty where ffmpeg is missing or fails.
std::filesystem::path mediaFiles() {
    static const std::filesystem::path made = [] {
        std::string recipe = recording + encoded + withChapters + coveredMp3 + smallMp3 + rawVideo +
                             remuxedAudio + remuxWithChapters + hlsPlaylist + ffconcatScript +
                             cutChapters + cutFiles;
        for (const auto& [file, chapters] : madeByFfmpeg)
            recipe += file + chapters;
        // Named after what makes them, so that a change to it makes them anew.
        const std::filesystem::path folder = std::filesystem::path(MEDIA_FILES_DIR) /
                                             std::to_string(std::hash<std::string>{}(recipe));
        if (!CHAPCAT_LIBAV || !installed("ffmpeg") || !installed("ffprobe"))
            return std::filesystem::path();
        if (std::filesystem::exists(folder / "done"))
            return folder;
        std::filesystem::create_directories(MEDIA_FILES_DIR);
        std::string building = folder.string() + "-XXXXXX";
        if (mkdtemp(building.data()) == nullptr || !makeMediaFiles(building)) {
            std::filesystem::remove_all(building);
            return std::filesystem::path();
        }
        writeWhole(std::filesystem::path(building) / "done", "");
        // Another process may have made them first: its folder stays.
        if (rename(building.c_str(), folder.c_str()) != 0)
            std::filesystem::remove_all(building);
        return folder;
    }();
    return made;
}

enum class Via { file, standardInput, pipe, replaced };
enum class Ends { withProbedLength, asListed };

struct MediaCase {
    const char* what;
    const char* file;
    Via via;
    std::vector<std::string> events;
    Ends ends = Ends::asListed;
    const char* probed = nullptr; // what ffprobe reads for the length, where not the file itself
};

const std::vector<std::string> mp4Events{
    "claimed",         "1: time 1 0",    "1: name 1 Anfang",      "2: time 2 701",
    "2: name 2 Mitte", "3: time 3 1500", "3: name 3 Schluss – 終"};

const MediaCase mediaCases[] = {
    {"MP4Chapters", "chapters.mp4", Via::file, mp4Events, Ends::withProbedLength},
    {"MatroskaChaptersBetweenMillisecondsOneWithoutTitle",
     "chapters.mkv",
     Via::file,
     {"claimed", "1: time 1 0", "1: name 1 Anfang", "2: time 2 700+500000ns",
      "3: time 3 1333+333333ns", "3: name 3 Schluss – 終"},
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
    // What was opened is read, whatever the name comes to name meanwhile.
    {"ReplacedAfterOpening", "chapters.mp4", Via::replaced, mp4Events, Ends::withProbedLength},
    // ffprobe reads the name as a pattern: the length is the MP4's.
    {"NamedLikeAnImageSequence", "shot%03d.png", Via::file, mp4Events, Ends::withProbedLength,
     "chapters.mp4"},
    {"CoverLargerThanAFirstRead", "cover.mp3", Via::file, {"claimed"}, Ends::withProbedLength},
    {"FewFramesAfterATag",
     "small.mp3",
     Via::file,
     {"claimed", "1: time 1 0", "1: name 1 Eins", "2: time 2 100", "2: name 2 Zwei"},
     Ends::withProbedLength},
    {"StreamWithoutContainer", "raw.h264", Via::file, {"claimed", "no length"}},
    {"HlsPlaylist",
     "playlist.m3u8",
     Via::file,
     {"claimed", "0: note! an HLS playlist names other files; give the files themselves", "stop"}},
    {"FfconcatScript",
     "script.ffconcat",
     Via::file,
     {"claimed", "0: note! an ffconcat script names other files; give the files themselves",
      "stop"}},
};

void PrintTo(const MediaCase& c, std::ostream* os) {
    *os << c.what;
}

class Media : public testing::TestWithParam<MediaCase> {};

// An input as the driver opens it, through a pipe where the case says so; a replaced input is a
// copy in SCRATCH, another file put in its place once it is open.
int openAs(const std::filesystem::path& file, Via via, const ScratchDir& scratch) {
    if (via == Via::replaced) {
        const std::filesystem::path copy = scratch.path() / "part";
        std::filesystem::copy_file(file, copy);
        const int fd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
        std::filesystem::copy_file(file.parent_path() / "plain.mkv", scratch.path() / "other");
        std::filesystem::rename(scratch.path() / "other", copy);
        return fd;
    }
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
    if (!installed("ffmpeg") || !installed("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::filesystem::path files = mediaFiles();
    ASSERT_FALSE(files.empty()) << "ffmpeg could not make the media files";
    const MediaCase& c = GetParam();
    const std::filesystem::path file = files / c.file;
    ScratchDir scratch;
    const int fd = openAs(file, c.via, scratch);
    ASSERT_GE(fd, 0);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    Output output = makeOutput(devNull, devNull);
    std::vector<char> buffer;
    // The name the driver would give: the copy that was replaced, where the case replaces one.
    const std::string path = c.via == Via::standardInput ? ""
                             : c.via == Via::replaced    ? (scratch.path() / "part").string()
                                                         : file.string();
    Input input{fd, c.file, path, buffer, output, {}};
    std::vector<std::string> expected = c.events;
    if (c.ends == Ends::withProbedLength)
        expected.push_back(probedLength(c.probed ? files / c.probed : file));
    EXPECT_EQ(readAsMedia(input), expected);
    close(fd);
    close(devNull);
}

INSTANTIATE_TEST_SUITE_P(MediaSource, Media, testing::ValuesIn(mediaCases),
                         [](const auto& info) { return std::string(info.param.what); });

// Without the libraries, a file that may be media stops the run with the loader's reason; text
// stays text. The loader is made to fail as it would on a machine where the library file is
// broken, or where the run has no file descriptor left: the library is there, so nothing is to
// be installed.
TEST(MediaSource, SaysWhyTheLibrariesDidNotLoad) {
    ScratchDir dir;
    dir.write("random.bin", randomBytes());
    dir.write("nul.txt", nulInTitle);
    dir.write("bom.txt", "\xEF\xBB\xBF" + nulInTitle);
    dir.write("utf16.txt", std::string("\xFF\xFE\x43\0\x48\0\x41\0\x50\0", 10));
#if CHAPCAT_LIBAV
    const std::string soname = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    dir.write(soname, "not a library\n");
    const std::string environment = "LD_LIBRARY_PATH='" + dir.path().string() + "' ";
    const std::string missing =
        cannotLoad(soname, (dir.path() / soname).string() + ": file too short");
    ASSERT_EQ(missing.find("apt-get"), std::string::npos) << missing;
#else
    const std::string environment;
    const std::string missing = "media files need chapcat built with libavformat (apt-get install "
                                "libavformat-dev, then rebuild)";
#endif
    const std::string in = "cd '" + dir.path().string() + "' && ";
    const std::string out =
        capture(in + environment + MEDIA_EVENTS_BINARY " random.bin nul.txt bom.txt utf16.txt");
    EXPECT_EQ(out, "random.bin: claimed\nrandom.bin: 0: note! " + missing +
                       "\nrandom.bin: stop\nnul.txt: not claimed\nbom.txt: not claimed\n"
                       "utf16.txt: not claimed\n");
}

#if CHAPCAT_LIBAV

// What the media source says of FILE in DIR where a process may open no more descriptors than
// the standard ones and the file.
std::string withoutDescriptors(const ScratchDir& dir, const char* file) {
    const std::filesystem::path said = dir.path() / "said";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || chdir(dir.path().c_str()) != 0)
            _exit(125);
        closefrom(STDERR_FILENO + 1);
        const rlimit limit{4, 4};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(124);
        execl(MEDIA_EVENTS_BINARY, MEDIA_EVENTS_BINARY, file, nullptr);
        _exit(126);
    }
    waitpid(pid, nullptr, 0);
    return readWhole(said);
}

// Where the run may open no more files, the library is there all the same.
TEST(MediaSource, SaysTheLoadersReasonWhereNoFileCanBeOpened) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers check memory through a pipe, which this limit forbids";
#endif
    ScratchDir dir;
    dir.write("random.bin", randomBytes());
    // Standard input, output and error and the file take the four descriptors allowed.
    const std::string said = withoutDescriptors(dir, "random.bin");
    EXPECT_NE(said.find(std::strerror(EMFILE)), std::string::npos) << said;
    EXPECT_EQ(said.find("apt-get"), std::string::npos) << said;
}

#endif

#if CHAPCAT_LIBAV

struct LoadCase {
    const char* why; // the loader's reason
    bool install;    // whether to say what to install
};

// The loader's reasons, as glibc words them.
const LoadCase loadCases[] = {
    {"libavformat.so.59: cannot open shared object file: No such file or directory", true},
    {"/lib/libavformat.so.59: file too short", false},
    {"libavformat.so.59: cannot open shared object file: Too many open files", false},
    {"libcairo.so.2: failed to map segment from shared object", false},
    {"libavformat.so.59: cannot open shared object file: Cannot allocate memory", false},
};

TEST(MediaSource, SaysWhatToInstallOnlyWhereTheLibraryIsNotThere) {
    const std::string soname = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    const std::string install = "; to read media files, apt-get install libavformat" AV_STRINGIFY(
        LIBAVFORMAT_VERSION_MAJOR);
    for (const LoadCase& c : loadCases)
        EXPECT_EQ(cannotLoad(soname, c.why),
                  "cannot load " + soname + " (" + c.why + ")" + (c.install ? install : ""))
            << c.why;
}

struct NamingOthers {
    const char* file;
    const char* said;
};

const NamingOthers namingOthers[] = {
    {"playlist.m3u8", "an HLS playlist names other files"},
    {"script.ffconcat", "an ffconcat script names other files"},
};

// What chapcat says of FILE in DIR, run under strace, then "status N"; the trace is DIR/trace.
// The leak sanitizer cannot run under strace.
std::string traced(const ScratchDir& dir, const char* file) {
    return capture(
        "cd '" + dir.path().string() +
        "' && ASAN_OPTIONS=detect_leaks=0 timeout 20 strace -f -qq -e trace=%file -o trace " +
        CHAPCAT_BINARY + " " + file + " 2>&1; echo \"status $?\"");
}

// The files that the hostile inputs name and that a system call of the trace named.
std::vector<std::string> namedInTrace(const std::string& trace) {
    std::vector<std::string> named;
    for (const char* name : {"\"fifo\"", "\"chapters.mp4\"", "/fifo\"", "/chapters.mp4\""})
        if (trace.find(name) != std::string::npos)
            named.emplace_back(name);
    return named;
}

// Where libavformat would read a playlist, it would open the files it names: a FIFO among them
// would hold the run for ever. The run ends at once, having opened no file but the one named.
TEST(MediaSource, OpensNoFileAPlaylistNames) {
    const std::filesystem::path files = mediaFiles();
    if (!installed("strace") || files.empty())
        GTEST_SKIP() << "strace or ffmpeg is not installed";
    ScratchDir dir;
    dir.write("playlist.m3u8", hlsPlaylist);
    dir.write("script.ffconcat", ffconcatScript);
    ASSERT_EQ(mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    std::filesystem::copy_file(files / "chapters.mp4", dir.path() / "chapters.mp4");
    for (const auto& [file, said] : namingOthers) {
        EXPECT_EQ(traced(dir, file), "chapcat: " + std::string(file) + ": " + said +
                                         "; give the files themselves\nstatus 1\n");
        const std::string trace = readWhole(dir.path() / "trace");
        EXPECT_EQ(namedInTrace(trace), std::vector<std::string>{}) << trace;
        EXPECT_NE(trace.find("\"" + std::string(file) + "\""), std::string::npos) << trace;
    }
}

#endif

// Where the joining tools really cut kept ranges that fall between keyframes, measured from what
// the tools make of the part: mkvmerge's split (its chapters, which it moves with the frames,
// and its length), ffmpeg's concat demuxer (the start it gives the joined file, which ffmpeg
// moves to 0); later parts and a decoding join are cut where they are told.
enum class Measure { mkvmergeSplit, concatStart, asKept };

struct CutCase {
    const char* what;
    const char* file;
    Join join;
    bool opensOutput;
    std::vector<TimeRange> kept;
    Measure measure;
};

const CutCase cutCases[] = {
    {"MkvmergeFromKeyframesAfter",
     "cut.mkv",
     Join::mkvmerge,
     true,
     {{1500, 4300}, {6700, 9100}},
     Measure::mkvmergeSplit},
    {"MkvmergeJustPastKeyframes",
     "cut.mkv",
     Join::mkvmerge,
     false,
     {{1030, 4030}, {6030, 9030}},
     Measure::mkvmergeSplit},
    // On keyframes, which ffmpeg's AAC priming (1024 samples at 8 kHz) puts 128 ms in: the sound
    // before a keyframe is in the frames before it.
    {"MkvmergeOnKeyframes",
     "cut.mkv",
     Join::mkvmerge,
     true,
     {{1128, 4128}, {6128, 9128}},
     Measure::mkvmergeSplit},
    {"MkvmergeOpenEnd",
     "cut.mkv",
     Join::mkvmerge,
     true,
     {{1500, 4300}, {6700, {}}},
     Measure::mkvmergeSplit},
    {"MkvmergeSoundAlone",
     "cut.mka",
     Join::mkvmerge,
     true,
     {{1500, 4300}, {6700, 9100}},
     Measure::mkvmergeSplit},
    {"ConcatFirstPartMp4", "cut.mp4", Join::ffmpeg, true, {{5500, 9100}}, Measure::concatStart},
    {"ConcatFirstPartMatroska", "cut.mkv", Join::ffmpeg, true, {{5500, {}}}, Measure::concatStart},
    {"ConcatFirstPartSoundAlone",
     "cut.m4a",
     Join::ffmpeg,
     true,
     {{5500, 9100}},
     Measure::concatStart},
    {"ConcatFirstPartMatroskaSound",
     "cut.mka",
     Join::ffmpeg,
     true,
     {{5500, 9100}},
     Measure::concatStart},
    {"ConcatLaterPart",
     "cut.mp4",
     Join::ffmpeg,
     false,
     {{5500, 9100}, {10300, {}}},
     Measure::asKept},
    {"ConcatLaterRanges",
     "cut.mp4",
     Join::ffmpeg,
     true,
     {{0, 2300}, {5500, 9100}},
     Measure::concatStart},
    {"DecodingJoin", "cut.mp4", Join::ffmpegFilter, true, {{5500, 9100}}, Measure::asKept},
};

void PrintTo(const CutCase& c, std::ostream* os) {
    *os << c.what;
}

// A time as mkvmerge's --split and ffconcat's inpoint take it: seconds, to the nanosecond.
std::string seconds(ExactTime time) {
    const Int128 nanoseconds = nanosecondsOf(time);
    std::string fraction = std::to_string(static_cast<std::int64_t>(nanoseconds % 1'000'000'000));
    fraction.insert(0, 9 - fraction.size(), '0');
    return std::to_string(static_cast<std::int64_t>(nanoseconds / 1'000'000'000)) + "." + fraction;
}

// ffprobe's times, a line each in seconds to the microsecond, in nanoseconds.
std::vector<Int128> probedTimes(const std::string& command) {
    std::vector<Int128> times;
    std::istringstream lines(capture(command));
    for (std::string line; std::getline(lines, line);)
        times.push_back(static_cast<Int128>(std::llround(std::stod(line) * 1e6)) * 1000);
    return times;
}

// Where mkvmerge's split puts the chapters of FILE, and its length last.
std::vector<Int128> mkvmergeSplit(const std::filesystem::path& file,
                                  const std::vector<TimeRange>& kept, const ScratchDir& dir) {
    std::string parts;
    for (const TimeRange& range : kept)
        parts += (parts.empty() ? "" : ",+") + seconds(range.from) + "s-" +
                 (range.to ? seconds(*range.to) + "s" : "");
    const std::string split = (dir.path() / "split.mkv").string();
    std::system(
        ("mkvmerge -q -o '" + split + "' --split parts:" + parts + " '" + file.string() + "'")
            .c_str());
    const std::string probe = "ffprobe -v error -of csv=p=0 -show_entries ";
    std::vector<Int128> times = probedTimes(probe + "chapter=start_time '" + split + "'");
    times.push_back(probedTimes(probe + "format=duration '" + split + "'").at(0));
    return times;
}

// Where a chapter starting at START lands where the part is cut as ACTUAL: in a range, moved back
// by what was cut before it; in a gap, at the next range's start.
Int128 landed(Int128 start, const std::vector<TimeRange>& actual) {
    Int128 before = 0; // the time kept before the range
    for (const TimeRange& range : actual) {
        const Int128 from = nanosecondsOf(range.from);
        if (!range.to || start < nanosecondsOf(*range.to))
            return before + std::max(start, from) - from;
        before += nanosecondsOf(*range.to) - from;
    }
    return before;
}

// Where the chapters of FILE land, and the part's length last where its last range ends.
std::vector<Int128> landed(const std::filesystem::path& file,
                           const std::vector<TimeRange>& actual) {
    std::vector<Int128> times = probedTimes(
        "ffprobe -v error -of csv=p=0 -show_entries chapter=start_time '" + file.string() + "'");
    for (Int128& time : times)
        time = landed(time, actual);
    if (actual.back().to)
        times.push_back(landed(nanosecondsOf(*actual.back().to), actual));
    return times;
}

// Where ffmpeg starts the joined file, in the first range's time: the concat demuxer's start,
// which ffmpeg moves to 0, after the inpoint.
Int128 concatStart(const std::filesystem::path& file, const std::vector<TimeRange>& kept,
                   const ScratchDir& dir) {
    std::string list = "ffconcat version 1.0\n";
    for (const TimeRange& range : kept)
        list += "file '" + file.string() + "'\ninpoint " + seconds(range.from) + "\n" +
                (range.to ? "outpoint " + seconds(*range.to) + "\n" : "");
    dir.write("list.ffconcat", list);
    return nanosecondsOf(kept.front().from) +
           probedTimes("ffprobe -v error -of csv=p=0 -show_entries format=start_time -f concat "
                       "-safe 0 -i '" +
                       (dir.path() / "list.ffconcat").string() + "'")
               .at(0);
}

// Where the media source says the joining tool cuts FILE's kept ranges.
std::vector<TimeRange> cutsRead(const std::filesystem::path& file, const CutCase& c) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    Output output = makeOutput(devNull, devNull);
    std::vector<char> buffer;
    const std::string path = file.string();
    Input input{fd, c.file, path, buffer, output, {}};
    input.join = c.join;
    input.kept = c.kept;
    input.opensOutput = c.opensOutput;
    RecordedEvents events;
    if (startInput(input) && mediaSource.claims(input.head) == Claim::yes)
        mediaSource.read(input, events);
    close(fd);
    close(devNull);
    return events.cuts;
}

std::vector<Int128> nanosecondsOf(const std::vector<TimeRange>& ranges) {
    std::vector<Int128> times;
    for (const TimeRange& range : ranges) {
        times.push_back(nanosecondsOf(range.from));
        times.push_back(range.to ? nanosecondsOf(*range.to) : -1);
    }
    return times;
}

// Times that are the same to the millisecond chapters are written in: mkvmerge times AAC frames
// by their samples, up to a fraction of a millisecond off the milliseconds Matroska holds them in.
void expectNear(const std::vector<Int128>& times, const std::vector<Int128>& expected) {
    ASSERT_EQ(times.size(), expected.size());
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_LE(std::abs(static_cast<double>(times[i] - expected[i])), 1e6)
            << i << ": " << static_cast<double>(times[i]) << " ns, measured "
            << static_cast<double>(expected[i]) << " ns";
}

class Cuts : public testing::TestWithParam<CutCase> {};

TEST_P(Cuts, WhereTheJoiningToolCuts) {
    const CutCase& c = GetParam();
    if (!CHAPCAT_LIBAV || !installed("ffmpeg") || !installed("ffprobe") ||
        (c.measure == Measure::mkvmergeSplit && !installed("mkvmerge")))
        GTEST_SKIP() << "built without libavformat, or ffmpeg or mkvmerge is not installed";
    const std::filesystem::path files = mediaFiles();
    ASSERT_FALSE(files.empty()) << "ffmpeg could not make the media files";
    const std::vector<TimeRange> actual = cutsRead(files / c.file, c);
    ASSERT_EQ(actual.size(), c.kept.size());
    ScratchDir dir;
    std::vector<TimeRange> expected = c.kept;
    if (c.measure == Measure::mkvmergeSplit) {
        std::vector<Int128> split = mkvmergeSplit(files / c.file, c.kept, dir);
        if (!actual.back().to)
            split.pop_back(); // the part's length, which its source says
        expectNear(landed(files / c.file, actual), split);
        return;
    }
    if (c.measure == Measure::concatStart)
        expected.front().from =
            timeOfNanoseconds(concatStart(files / c.file, c.kept, dir)).value_or(ExactTime{});
    expectNear(nanosecondsOf(actual), nanosecondsOf(expected));
}

INSTANTIATE_TEST_SUITE_P(MediaSource, Cuts, testing::ValuesIn(cutCases),
                         [](const auto& info) { return std::string(info.param.what); });

// What the run says of media parts that give it less than a chapter list and a length.
struct MediaRunCase {
    const char* what;
    std::vector<std::string> args;
    std::string err; // "{L}" stands for the length of late.mkv, "{L+}" for it plus 2.8 s
    int status;
    std::string outHolds{};
};

const std::string hint = "no chapters in this media file; --part-chapters gives each such part "
                         "one, titled with its file name\n";

const MediaRunCase mediaRunCases[] = {
    {"NoChapterNoLength",
     {"raw.h264"},
     "chapcat: raw.h264: no chapters and no length in this media file; give its --length=, or "
     "--part-chapters\n",
     1},
    {"LengthGivenStandsForIt", {"--length=2", "raw.h264"}, "chapcat: raw.h264: " + hint, 0},
    {"PartChaptersStandForIt", {"--part-chapters", "raw.h264"}, "", 0},
    {"NoChaptersHintedOnce", {"plain.mkv", "plain.mkv"}, "chapcat: plain.mkv: " + hint, 0},
    {"PartChaptersNeedNoHint", {"--part-chapters", "plain.mkv"}, "", 0},
    {"ChaptersAtAndPastOwnLength",
     {"late.mkv"},
     "chapcat: late.mkv:2: chapter 02 ({L}) starts at the end of its part ({L})\n"
     "chapcat: late.mkv:3: chapter 03 ({L+}) starts after the end of its part ({L})\n",
     0},
    {"LengthGivenOverridesOwn", {"--length=9", "late.mkv"}, "", 0},
    {"RangePastItsEnd",
     {"--keep=0-0.5", "--keep=99-", "late.mkv"},
     "chapcat: late.mkv: the range from 00:01:39.000 starts at or after the part's end ({L}): it "
     "keeps nothing\n",
     1,
     "CHAPTER01NAME=x\n"},
    // mkvmerge's split starts a range at a keyframe: plain.mkv has none after its start.
    {"RangeWithoutKeyframe",
     {"--join=mkvmerge", "--keep=0.5-1", "plain.mkv"},
     "chapcat: plain.mkv: the range from 00:00:00.500 has no keyframe at or after its start: "
     "mkvmerge's split keeps nothing of it\nchapcat: plain.mkv: " +
         hint,
     0},
    // A join that decodes cuts where it is told: plain.mkv has no keyframe after its start.
    {"PartChapterAtTheStartOfWhatIsKept",
     {"--part-chapters", "--join=ffmpeg-filter", "--keep=0.5-1", "plain.mkv", "plain.mkv"},
     "",
     0,
     "CHAPTER02=00:00:00.500\nCHAPTER02NAME=plain\n"},
    {"ConcatScriptOfTheKeptRanges",
     {"--format=ffconcat", "--keep=0.5-1", "--keep=1.25-", "it's plain.mkv", "plain.mkv"},
     "",
     0,
     "ffconcat version 1.0\nfile 'it'\\''s plain.mkv'\ninpoint 0.500\noutpoint 1.000\n"
     "file 'it'\\''s plain.mkv'\ninpoint 1.250\nfile 'plain.mkv'\n"},
    {"PartChaptersByTitleTag",
     {"--part-chapters=title", "titled.mkv"},
     "",
     0,
     "CHAPTER01NAME=Kapitel 1: Der Anfang\n"},
    {"PartChaptersByFileWithoutTitleTag",
     {"--part-chapters=title", "plain.mkv"},
     "",
     0,
     "CHAPTER01NAME=plain\n"},
};

void PrintTo(const MediaRunCase& c, std::ostream* os) {
    *os << c.what;
}

class MediaRun : public testing::TestWithParam<MediaRunCase> {};

TEST_P(MediaRun, Says) {
    if (!CHAPCAT_LIBAV || !installed("ffmpeg") || !installed("ffprobe"))
        GTEST_SKIP() << "built without libavformat, or ffmpeg is not installed";
    const std::filesystem::path files = mediaFiles();
    ASSERT_FALSE(files.empty()) << "ffmpeg could not make the media files";
    const MediaRunCase& c = GetParam();
    ScratchDir dir;
    for (const char* file : {"raw.h264", "plain.mkv", "late.mkv", "titled.mkv"})
        std::filesystem::create_symlink(files / file, dir.path() / file);
    std::filesystem::create_symlink(files / "plain.mkv", dir.path() / "it's plain.mkv");
    std::string err = c.err;
    const std::int64_t length = probedMilliseconds(files / "late.mkv");
    for (const auto& [mark, time] : {std::pair{"{L}", length}, {"{L+}", length + 2800}})
        for (std::size_t at; (at = err.find(mark)) != std::string::npos;)
            err.replace(at, std::string_view(mark).size(), timestamp(time));
    const ToolRun run = runTool(dir, c.args);
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find(c.outHolds), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(MediaSource, MediaRun, testing::ValuesIn(mediaRunCases),
                         [](const auto& info) { return std::string(info.param.what); });

} // namespace
