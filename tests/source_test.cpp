// Runs each source over inputs held in a memfd (a file, read twice where a source wants to) or a
// pipe, and checks what it hands on, line by line.
#include "bounds.hpp"
#include "output.hpp"
#include "sources/line_reader.hpp"
#include "sources/source.hpp"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;

namespace {

// The events as text, one a line: "LINE: time NUMBER MILLISECONDS", "LINE: name NUMBER TITLE",
// "LINE: fails: MESSAGE" or "LINE: note: MESSAGE".
struct Recorder final : Events {
    std::string text;
    void chapter(const ChapterLine& line, std::int64_t lineNumber) override {
        text += std::to_string(lineNumber) + ": ";
        if (line.kind == LineKind::time)
            text += "time " + std::to_string(line.number) + " " + std::to_string(line.time) +
                    (line.nanoseconds != 0 ? "+" + std::to_string(line.nanoseconds) + "ns" : "");
        else if (line.kind == LineKind::name)
            text += "name " + std::to_string(line.number) + " " + shown(line.title);
        else
            text += "kind " + std::to_string(static_cast<int>(line.kind));
        text += '\n';
    }
    void note(std::int64_t lineNumber, std::string_view message, bool fails) override {
        text += std::to_string(lineNumber) + (fails ? ": fails: " : ": note: ");
        text += message;
        text += '\n';
    }
    // Line ends spelt out; a long title by its size.
    static std::string shown(std::string_view title) {
        if (title.size() > 100)
            return "<" + std::to_string(title.size()) + " bytes>";
        std::string text;
        for (const char c : title)
            text += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
        return text;
    }
};

enum class Via { file, pipe };

struct SourceCase {
    const char* what;
    std::string input;
    std::string events;
    Via via = Via::file;
};

int memfdWith(std::string_view text) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    EXPECT_TRUE(fd >= 0 && writeAll(fd, text) && lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

// What the source hands on from the input, and anything unusual about the read.
std::string readWith(const Source& source, const std::string& text, Via via) {
    int fd = -1;
    std::jthread writer;
    if (via == Via::file) {
        fd = memfdWith(text);
    } else {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        fd = ends[0];
        writer = std::jthread([&text, to = ends[1]] {
            writeAll(to, text);
            close(to);
        });
    }
    const int outputFd = memfd_create("output", MFD_CLOEXEC);
    Output output = makeOutput(outputFd, outputFd);
    std::vector<char> buffer;
    Input input{fd, "FILE", "", buffer, output, {}, false, 0};
    Recorder recorder;
    EXPECT_TRUE(startInput(input));
    if (detect(input) != &source)
        recorder.text += "not claimed\n";
    const PartRead read = source.read(input, recorder);
    if (read.stop)
        recorder.text += "stop\n";
    if (read.length)
        recorder.text += "length " + std::to_string(read.length->milliseconds) + "\n";
    char rest[4096];
    while (::read(fd, rest, sizeof rest) > 0) // lets the writer finish
        ;
    close(fd);
    close(outputFd);
    return recorder.text;
}

void check(const Source& source, const SourceCase& c) {
    EXPECT_EQ(readWith(source, c.input, c.via), c.events)
        << c.what << (c.via == Via::pipe ? " (from a pipe)" : "");
}

// Each case from a file, and the same from a pipe.
void checkFileAndPipe(const Source& source, std::span<const SourceCase> cases) {
    for (const SourceCase& c : cases) {
        check(source, c);
        check(source, {c.what, c.input, c.events, Via::pipe});
    }
}

// One edition of chapters, one a line from the second: its start, and its title when given.
std::string edition(std::initializer_list<std::pair<const char*, const char*>> atoms) {
    std::string text = "<Chapters><EditionEntry>\n";
    for (const auto& [start, title] : atoms) {
        text += "<ChapterAtom><ChapterTimeStart>" + std::string(start) + "</ChapterTimeStart>";
        if (title)
            text += "<ChapterDisplay><ChapterString>" + std::string(title) +
                    "</ChapterString></ChapterDisplay>";
        text += "</ChapterAtom>\n";
    }
    return text + "</EditionEntry></Chapters>\n";
}

// ASCII and Latin-1 text, from UTF-8 to UTF-16 little-endian with a byte-order mark.
std::string utf16LittleEndian(std::string_view text) {
    std::string bytes = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned unit = static_cast<unsigned char>(text[i]);
        if (unit >= 0xC0 && i + 1 < text.size())
            unit = (unit & 0x1F) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3F);
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i)
        all += text;
    return all;
}

// Empty elements of as many names.
std::string repeatedNames(std::size_t names) {
    std::string all;
    for (std::size_t i = 0; i < names; ++i)
        all += "<n" + std::to_string(i) + "/>";
    return all;
}

// As mkvextract writes the chapters of a file muxed by mkvmerge.
const std::string extracted = "\xEF\xBB\xBF"
                              R"(<?xml version="1.0"?>
<!-- <!DOCTYPE Chapters SYSTEM "matroskachapters.dtd"> -->
<Chapters>
  <EditionEntry>
    <EditionFlagHidden>0</EditionFlagHidden>
    <EditionFlagDefault>0</EditionFlagDefault>
    <EditionFlagOrdered>0</EditionFlagOrdered>
    <EditionUID>12378364153993162302</EditionUID>
    <ChapterAtom>
      <ChapterUID>8524721533844137331</ChapterUID>
      <ChapterTimeStart>00:00:00.000000000</ChapterTimeStart>
      <ChapterFlagHidden>0</ChapterFlagHidden>
      <ChapterFlagEnabled>1</ChapterFlagEnabled>
      <ChapterDisplay>
        <ChapterString>Anfang</ChapterString>
        <ChapterLanguage>eng</ChapterLanguage>
        <ChapLanguageIETF>en</ChapLanguageIETF>
      </ChapterDisplay>
    </ChapterAtom>
    <ChapterAtom>
      <ChapterUID>7378907488330976676</ChapterUID>
      <ChapterTimeStart>00:00:01.250000000</ChapterTimeStart>
      <ChapterFlagHidden>0</ChapterFlagHidden>
      <ChapterFlagEnabled>1</ChapterFlagEnabled>
      <ChapterDisplay>
        <ChapterString>a &amp; &lt;b&gt; é</ChapterString>
        <ChapterLanguage>eng</ChapterLanguage>
        <ChapLanguageIETF>en</ChapLanguageIETF>
      </ChapterDisplay>
    </ChapterAtom>
  </EditionEntry>
</Chapters>
)";

// The default edition is the second, flagged after its chapters; the third is flagged too.
const std::string threeEditions = R"(<Chapters>
<EditionEntry><ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart></ChapterAtom></EditionEntry>
<EditionEntry><ChapterAtom><ChapterTimeStart>00:00:02</ChapterTimeStart></ChapterAtom>
<EditionFlagDefault>1</EditionFlagDefault></EditionEntry>
<EditionEntry><EditionFlagDefault>1</EditionFlagDefault>
<ChapterAtom><ChapterTimeStart>00:00:04</ChapterTimeStart></ChapterAtom></EditionEntry>
</Chapters>)";

const std::string segmentLinked = R"(<Chapters><EditionEntry>
<ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:02</ChapterTimeStart>
<ChapterSegmentUID format="hex">0a</ChapterSegmentUID></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:03</ChapterTimeStart></ChapterAtom>
</EditionEntry></Chapters>)";

const std::string longTitle(maxLineSize, 'x');
const std::string dropped = "which a joined list cannot keep\n";

const SourceCase matroskaCases[] = {
    {"mkvextract output", extracted,
     "11: time 1 0\n11: name 1 Anfang\n22: time 2 1250\n22: name 2 a & <b> é\n"},
    {"default edition", threeEditions,
     "3: time 1 2000\n0: note: dropped 2 chapters (of other editions, nested, hidden or "
     "disabled), " +
         dropped},
    {"default edition", threeEditions,
     "3: time 1 2000\n0: note: dropped 2 chapters (of other editions, nested, hidden or "
     "disabled), " +
         dropped,
     Via::pipe},
    {"default edition past what a pipe holds",
     "<Chapters>" + std::string(17 << 20, ' ') + threeEditions.substr(10),
     "2: time 1 1000\n4: fails: edition 2 is the default one, but a pipe cannot be read "
     "twice past 16 MiB: the first edition's chapters were read instead\n0: note: dropped 2 "
     "chapters (of other editions, nested, hidden or disabled), " +
         dropped,
     Via::pipe},
    {"nested chapter", R"(<Chapters><EditionEntry><ChapterAtom>
<ChapterTimeStart>00:00:01</ChapterTimeStart>
<ChapterAtom><ChapterTimeStart>00:00:02</ChapterTimeStart>
<ChapterDisplay><ChapterString>Inner</ChapterString></ChapterDisplay></ChapterAtom>
<ChapterDisplay><ChapterString>Outer</ChapterString></ChapterDisplay>
</ChapterAtom></EditionEntry></Chapters>)",
     "2: time 1 1000\n2: name 1 Outer\n0: note: dropped 1 chapter (of other editions, "
     "nested, hidden or disabled), " +
         dropped},
    {"hidden and disabled chapters, a second display", R"(<Chapters><EditionEntry>
<ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart><ChapterFlagHidden>1</ChapterFlagHidden></ChapterAtom>
<ChapterAtom><ChapterFlagEnabled>0</ChapterFlagEnabled><ChapterTimeStart>00:00:02</ChapterTimeStart></ChapterAtom>
<ChapterAtom><ChapterFlagEnabled>1</ChapterFlagEnabled><ChapterFlagHidden>0</ChapterFlagHidden>
<ChapterTimeStart>00:00:03</ChapterTimeStart>
<ChapterDisplay><ChapterString>Three</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay>
<ChapterDisplay><ChapterString>Drei</ChapterString><ChapterLanguage>ger</ChapterLanguage></ChapterDisplay>
</ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:04</ChapterTimeStart><ChapterFlagHidden>yes</ChapterFlagHidden></ChapterAtom>
</EditionEntry></Chapters>)",
     "5: time 1 3000\n5: name 1 Three\n9: fails: ChapterFlagHidden is neither 0 nor 1; read "
     "as 0\n9: time 2 4000\n0: note: dropped 2 chapters (of other editions, nested, hidden "
     "or disabled) and 1 title (of a ChapterDisplay after the first), " +
         dropped},
    {"ordered edition", R"(<Chapters><EditionEntry>
<EditionFlagOrdered>1</EditionFlagOrdered>
<ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart></ChapterAtom>
</EditionEntry></Chapters>)",
     "2: fails: ordered chapters (EditionFlagOrdered) play in an order of their own and "
     "cannot be joined by time; this file's chapters are left out\n"},
    {"linked segment", segmentLinked,
     "4: fails: ordered chapters (ChapterSegmentUID) play in an order of their own and "
     "cannot be joined by time; this file's chapters are left out\n"},
    {"linked segment", segmentLinked,
     "4: fails: ordered chapters (ChapterSegmentUID) play in an order of their own and "
     "cannot be joined by time; this file's chapters are left out\n",
     Via::pipe},
    {"not well-formed halfway", R"(<Chapters><EditionEntry>
<ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:02</ChapterTime></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:03</ChapterTimeStart></ChapterAtom>
</EditionEntry></Chapters>)",
     "2: time 1 1000\n3: fails: XML error: mismatched tag; the rest of the file is skipped\n"},
    {"unclosed at the end", "<Chapters><EditionEntry>\n",
     "2: fails: XML error: no element found; the rest of the file is skipped\n"},
    {"times to the nearest millisecond",
     edition({{"00:01:03.231999998", nullptr},
              {" 0:00:00.0005\t", nullptr},
              {"00:00:00.000499999", nullptr},
              {"100:00:00", nullptr},
              {"2562047788015:12:55.807", nullptr},
              {"2562047788015:12:55.808", nullptr},
              {"00:60:00", nullptr},
              {"1:2:3", nullptr},
              {"00:00:01.", nullptr},
              {"00:00:01.1234567890", nullptr},
              {"-00:00:01", nullptr}}),
     "2: time 1 63232\n3: time 2 1\n4: time 3 0\n5: time 4 360000000\n6: time 5 "
     "9223372036854775807\n7: fails: chapter time out of range; chapter skipped\n8: fails: "
     "malformed chapter time; chapter skipped\n9: fails: malformed chapter time; chapter "
     "skipped\n10: fails: malformed chapter time; chapter skipped\n11: fails: malformed "
     "chapter time; chapter skipped\n12: fails: malformed chapter time; chapter skipped\n"},
    {"titles", R"(<Chapters><EditionEntry>
<ChapterAtom><ChapterTimeStart>00:00:01</ChapterTimeStart></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:02</ChapterTimeStart><ChapterDisplay/></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:03</ChapterTimeStart><ChapterDisplay><ChapterString/></ChapterDisplay></ChapterAtom>
<ChapterAtom><ChapterDisplay><ChapterString>no start</ChapterString></ChapterDisplay></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:05</ChapterTimeStart><ChapterDisplay><ChapterString>a&#10;<![CDATA[<b>]]></ChapterString></ChapterDisplay></ChapterAtom>
</EditionEntry></Chapters>)",
     "2: time 1 1000\n3: time 2 2000\n4: time 3 3000\n4: name 3 \n5: fails: no "
     "ChapterTimeStart; chapter skipped\n6: time 4 5000\n6: name 4 a\\n<b>\n"},
    {"longest title", edition({{"00:00:01", longTitle.c_str()}}),
     "2: time 1 1000\n2: name 1 <1048576 bytes>\n"},
    {"title over the bound", edition({{"00:00:01", (longTitle + "x").c_str()}, {"00:00:02", "b"}}),
     "2: fails: chapter title longer than 1 MiB; chapter skipped\n3: time 1 2000\n3: name 1 "
     "b\n"},
    {"UTF-16",
     utf16LittleEndian("<?xml version='1.0' encoding='UTF-16'?>\n" + edition({{"1:00:00", "é"}})),
     "3: time 1 3600000\n3: name 1 é\n"},
    {"other root", "<?xml version='1.0'?>\n<Tags><Chapters/></Tags>",
     "2: fails: the root element is not <Chapters>: not a Matroska chapters document; the "
     "rest of the file is skipped\n"},
    {"entities", "<!DOCTYPE Chapters [\n<!ENTITY a 'x'>\n]>\n" + edition({{"0:00:01", "&a;"}}),
     "2: fails: entity declarations are not read; the rest of the file is skipped\n"},
    {"many names", "<Chapters>\n" + repeatedNames(300),
     "2: fails: more than 256 different element and attribute names; the rest of the file is "
     "skipped\n"},
    {"deep nesting", "<Chapters>\n" + repeated("<a>", 1000),
     "2: fails: elements nested more than 1000 deep; the rest of the file is skipped\n"},
    {"long document type", "<!DOCTYPE Chapters [\n" + repeated("<!-- -->", maxLineSize / 4),
     "1: fails: a document type declaration longer than 1 MiB; the rest of the file is "
     "skipped\n"},
    {"long comment", "<Chapters><!--" + std::string(2 * maxLineSize, 'x'),
     "1: fails: markup (a tag, comment or declaration) longer than 1 MiB; the rest of the "
     "file is skipped\n"},
};

TEST(MatroskaSource, ReadsTheChaptersAPlayerShows) {
    for (const SourceCase& c : matroskaCases)
        check(matroskaSource, c);
}

// As ffmpeg -f ffmetadata writes the chapters of an MP4 (global tags, escapes) and of a Matroska
// file (another time base).
const std::string fromMp4 = R"(;FFMETADATA1
major_brand=isom
minor_version=512
compatible_brands=isomiso2avc1mp41
title=Whole \= film
artist=x\\y
encoder=Lavf59.27.100
[CHAPTER]
TIMEBASE=1/1000
START=0
END=1250
title=Anfang
[CHAPTER]
TIMEBASE=1/1000
START=1250
END=3000
title=a\=b\;c\#d\\e\
f
)";
const std::string fromMatroska = R"(;FFMETADATA1
encoder=Lavf59.27.100
[CHAPTER]
TIMEBASE=1/1000000000
START=0
END=1250000000
title=Anfang
[CHAPTER]
TIMEBASE=1/1000000000
START=1250000000
END=3000000000
title=a & <b> é
)";

// A chapter section of FFmpeg metadata on one line, its own lines ending in LF.
std::string section(std::string_view lines) {
    return "[CHAPTER]\n" + std::string(lines) + "\n";
}

const std::string header = ";FFMETADATA1\n";

const SourceCase ffmetadataCases[] = {
    {"ffmpeg's output", fromMp4,
     "10: time 1 0\n10: name 1 Anfang\n15: time 2 1250\n15: name 2 a=b;c#d\\e\\nf\n"},
    {"ffmpeg's output", fromMatroska,
     "5: time 1 0\n5: name 1 Anfang\n10: time 2 1250\n10: name 2 a & <b> é\n"},
    {"time bases",
     header + section("TIMEBASE=1/1000\nSTART=1500\nEND=2000") +
         section("TIMEBASE= 1/ 10000000\nSTART=12345675\nEND=12345676") +
         section("TIMEBASE=1/10000000\nSTART=12344999\nEND=12345000") +
         section("START=63231999998\nEND=63231999999") +
         section("TIMEBASE=1001/30000\nSTART=+3\nEND=4x"),
     "4: time 1 1500\n8: time 2 1235\n12: time 3 1234\n15: time 4 63232\n19: time 5 100\n"},
    {"missing or bad lines",
     header + section("TIMEBASE=1/1000\nEND=5") + section("TIMEBASE=1/1000\nSTART=5\ntitle=lost") +
         section("TIMEBASE=0/1000\nSTART=5\nEND=6") + section("TIMEBASE=1\nSTART=5\nEND=6") +
         section("TIMEBASE=1/-5\nSTART=5\nEND=6") + section("START=x\nEND=6") +
         section("START=9223372036854775808\nEND=6") +
         section("TIMEBASE=1000/1\nSTART=9223372036854775\nEND=6") +
         section("START=5\n;comment\n\nEND=6\ntitle=ok") + section("START=7\nEND=6") +
         "[CHAPTER]\nSTART=7",
     "4: fails: no START= line after [CHAPTER]; chapter skipped\n"
     "8: fails: no END= line after START=; chapter skipped\n"
     "10: fails: TIMEBASE is not two positive integers (as 1/1000); chapter skipped\n"
     "14: fails: TIMEBASE is not two positive integers (as 1/1000); chapter skipped\n"
     "18: fails: TIMEBASE is not two positive integers (as 1/1000); chapter skipped\n"
     "22: fails: no START= line after [CHAPTER]; chapter skipped\n"
     "25: fails: chapter time out of range; chapter skipped\n"
     "29: fails: chapter time out of range; chapter skipped\n"
     "32: time 1 0\n32: name 1 ok\n"
     "39: fails: END= before START=, which ffmpeg refuses; chapter skipped\n"
     "40: fails: no END= line after START=; chapter skipped\n"},
    {"line ends", ";FFMETADATA1\r[CHAPTER]\r\nSTART=5000000\0END=5000001\0\0title=a\\\rb\\\0c\r"s,
     "3: time 1 5\n3: name 1 a\\rb\n"},
    {"tags outside chapters",
     header + "title=Film\n[STREAM]\ntitle=Video\n" + section("START=0\nEND=1\ntitle=One") +
         "[STREAM]\ntitle=Audio\n[CHAPTER]x\nSTART=1000000\nEND=1000001",
     "6: time 1 0\n6: name 1 One\n12: time 2 1\n"},
    {"title keys", header + section("START=0\nEND=1\nTITLE=Caps\ntitles=no\nTi\\tle=Last"),
     "3: time 1 0\n3: name 1 Last\n"},
    {"escaped backslash at a line end",
     header + section("TIMEBASE=1/1000\nSTART=0\nEND=1\ntitle=back\\\\") +
         section("TIMEBASE=1/1000\nSTART=5\nEND=6\ntitle=two"),
     "4: time 1 0\n4: name 1 back\\\n9: time 2 5\n9: name 2 two\n"},
    {"backslash escaping a line end",
     header + section("START=0\nEND=1\ntitle=a\\\nb") + section("START=5\nEND=6"),
     "3: time 1 0\n3: name 1 a\\nb\n8: time 2 0\n"},
    {"longest title", header + section("START=0\nEND=1\ntitle=" + repeated("\\#", maxLineSize)),
     "3: time 1 0\n3: name 1 <1048576 bytes>\n"},
    {"title over the bound",
     header + section("START=0\nEND=1\ntitle=" + std::string(maxLineSize + 1, 'x')) +
         section("START=1000000\nEND=1000001\ntitle=b"),
     "5: fails: chapter title longer than 1 MiB; chapter skipped\n7: time 1 1\n7: name 1 "
     "b\n"},
    {"byte-order mark", "\xEF\xBB\xBF" + header + section("START=0\nEND=1"), "3: time 1 0\n"},
};

TEST(FfmetadataSource, ReadsChaptersAsFfmpegDoes) {
    checkFileAndPipe(ffmetadataSource, ffmetadataCases);
}

// Descriptions in the shape of public videos': their text, links and hashtags around the lines.
const SourceCase timestampsCases[] = {
    {"travel vlog",
     "My trip to Iceland \xF0\x9F\x87\xAE\xF0\x9F\x87\xB8 (full vlog)\n\n"
     "Gear I used: https://example.com/gear?t=1:30\nFollow me on Instagram: @someone\n\n"
     "CHAPTERS:\n0:00 Intro\n0:45 - Reykjavik\n3:10 \xE2\x80\x93 Golden Circle\n"
     "12:05 | Black sand beach\n1:02:03 Northern lights\n\n#iceland #travel #vlog\n",
     "7: time 1 0\n7: name 1 Intro\n8: time 2 45000\n8: name 2 Reykjavik\n"
     "9: time 3 190000\n9: name 3 Golden Circle\n10: time 4 725000\n10: name 4 Black sand beach\n"
     "11: time 5 3723000\n11: name 5 Northern lights\n"},
    {"podcast episode, two-digit minutes, colons after the times",
     "Episode 112 with a guest. Sponsored by Example (use code PODCAST).\r\n"
     "Timestamps:\r\n00:00: Cold open\r\n02:15: Guest intro\r\n1:05:30: Listener questions\r\n"
     "Support the show: https://example.org/support\r\n",
     "3: time 1 0\n3: name 1 Cold open\n4: time 2 135000\n4: name 2 Guest intro\n"
     "5: time 3 3930000\n5: name 3 Listener questions\n"},
    {"music mix, times in brackets, separators inside titles kept",
     "Tracklist:\n[00:00] Artist One - Song (Extended Mix)\n(03:45) Artist Two \xE2\x80\x93 Other\n"
     "[1:02:03]Artist Three | Live\n[7:30] \xE2\x80\x94 Artist Four\n",
     "2: time 1 0\n2: name 1 Artist One - Song (Extended Mix)\n3: time 2 225000\n"
     "3: name 2 Artist Two \xE2\x80\x93 Other\n4: time 3 3723000\n4: name 3 Artist Three | Live\n"
     "5: time 4 450000\n5: name 4 Artist Four\n"},
    {"audiobook chapters to the millisecond",
     "00:00:00.000 Opening Credits\n00:01:02.500 Chapter 1\n0:10:00.5 Chapter 2\n"
     "12:34.123456 Chapter 3\n",
     "1: time 1 0\n1: name 1 Opening Credits\n2: time 2 62500\n2: name 2 Chapter 1\n"
     "3: time 3 600500\n3: name 3 Chapter 2\n4: time 4 754123+456000ns\n4: name 4 Chapter 3\n"},
    {"lines that only look like chapters are passed over",
     "Live at 10:00am sharp\n0:00 Start\n1:2 Short minutes\n1:02:3 Short seconds\n"
     "0:60 Sixty seconds\n1:60:00 Sixty minutes\n[0:30 Unclosed\n0:40|Glued\n0:50-Glued\n"
     "1234567:00 Too many digits\n0:55.x Bad fraction\n  2:00   Indented, blanks around   \n"
     "99:59 Long minutes\n12:30\n13:00 :\n",
     "2: time 1 0\n2: name 1 Start\n12: time 2 120000\n12: name 2 Indented, blanks around\n"
     "13: time 3 5999000\n13: name 3 Long minutes\n14: time 4 750000\n15: time 5 780000\n"},
    {"byte-order mark",
     "\xEF\xBB\xBF"
     "0:00 Intro\n0:10 Next",
     "1: time 1 0\n1: name 1 Intro\n2: time 2 10000\n2: name 2 Next\n"},
    {"UTF-16", utf16LittleEndian("Caf\xC3\xA9\n0:00 \xC3\x89t\xC3\xA9\n"),
     "2: time 1 0\n2: name 1 \xC3\x89t\xC3\xA9\n"},
    {"title over the bound", "0:00 " + std::string(maxLineSize, 'x') + "\n0:10 Next\n",
     "1: fails: chapter title longer than 1 MiB; chapter skipped\n2: time 1 10000\n2: name 1 "
     "Next\n"},
    {"no timestamp line, read as one all the same", "A description\nwith no chapters\n",
     "not claimed\n0: fails: no timestamp lines (0:00 Title)\n"},
};

TEST(TimestampsSource, ReadsTheChapterLinesOfADescription) {
    checkFileAndPipe(timestampsSource, timestampsCases);
}

// What the CUE source says of a FILE whose length it cannot read: a sheet read here has no folder.
std::string unread(int line, const char* file, bool last) {
    return std::to_string(line) + ": note: cannot read the length of \"" + file +
           "\" (a sheet on standard input names it from a folder that is not known); " +
           (last ? "the sheet's length is not known\n"
                 : "the next FILE starts at its last chapter\n");
}

// CUE sheets as CD rippers and audiobook tools write them.
const SourceCase cueCases[] = {
    {"CD rip: REM lines, album PERFORMER and TITLE, INDEX 00 pregaps, CR LF",
     "REM GENRE Rock\r\nREM DATE 1994\r\nREM DISCID 8A0B7C0D\r\n"
     "REM COMMENT \"ExactAudioCopy v1.6\"\r\nCATALOG 0724383520123\r\nPERFORMER \"Artist\"\r\n"
     "TITLE \"Album\"\r\nFILE \"Artist - Album.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n"
     "    TITLE \"Intro\"\r\n    PERFORMER \"Artist\"\r\n    INDEX 01 00:00:00\r\n"
     "  TRACK 02 AUDIO\r\n    TITLE \"Second Song\"\r\n    PERFORMER \"Artist\"\r\n"
     "    FLAGS DCP\r\n    ISRC GBAYE9400001\r\n    INDEX 00 04:10:50\r\n"
     "    INDEX 01 04:12:20\r\n  TRACK 03 AUDIO\r\n    TITLE \"Finale\"\r\n"
     "    INDEX 00 08:59:70\r\n    INDEX 01 09:01:01\r\n",
     "12: time 1 0\n10: name 1 Intro\n19: time 2 252266+666667ns\n14: name 2 Second Song\n"
     "23: time 3 541013+333333ns\n21: name 3 Finale\n" +
         unread(8, "Artist - Album.wav", true)},
    {"audiobook: byte-order mark, bare titles, minutes over 99",
     "\xEF\xBB\xBFPERFORMER \"Narrator\"\nTITLE \"A Long Book\"\nFILE \"A Long Book.mp3\" MP3\n"
     "TRACK 01 AUDIO\n  TITLE Chapter 1\n  INDEX 01 00:00:00\nTRACK 02 AUDIO\n"
     "  TITLE Chapter 2  \n  INDEX 01 99:59:74\nTRACK 03 AUDIO\n  TITLE \"\xC3\x89pilogue\"\n"
     "  INDEX 01 612:05:37\n",
     "6: time 1 0\n5: name 1 Chapter 1\n9: time 2 5999986+666667ns\n8: name 2 Chapter 2\n"
     "12: time 3 36725493+333333ns\n11: name 3 \xC3\x89pilogue\n" +
         unread(3, "A Long Book.mp3", true)},
    {"a FILE a track, pregaps at the end of the file before; lengths unknown",
     "TITLE \"Live\"\nFILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n"
     "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 03:00:00\n"
     "  TRACK 03 AUDIO\n    TITLE \"Three\"\n    INDEX 00 05:00:00\nFILE \"02.wav\" WAVE\n"
     "    INDEX 01 00:00:00\n  TRACK 04 AUDIO\n    TITLE \"Four\"\n    INDEX 01 01:30:15\n",
     "5: time 1 0\n4: name 1 One\n8: time 2 180000\n7: name 2 Two\n" + unread(2, "01.wav", false) +
         "13: time 3 180000\n10: name 3 Three\n16: time 4 270200\n15: name 4 Four\n" +
         unread(12, "02.wav", true)},
    {"bad lines: frames, seconds, order, no INDEX 01",
     "FILE \"x.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Fine\"\n    INDEX 01 00:00:00\n"
     "  TRACK 03 AUDIO\n    TITLE \"Frames\"\n    INDEX 01 00:10:75\n  TRACK 02 AUDIO\n"
     "    TITLE \"Seconds\"\n    INDEX 00 00:60:00\n    INDEX 01 00:20:00\n  TRACK 04 AUDIO\n"
     "    TITLE \"No index one\"\n    INDEX 00 00:30:00\n  TRACK 05 AUDIO\n    INDEX 01 00:40\n"
     "  TRACK 06 AUDIO\n    TITLE \"Last\"\n    INDEX 01 00:50:00\n    INDEX 01 00:55:00\n",
     "4: time 1 0\n3: name 1 Fine\n"
     "7: fails: malformed INDEX (INDEX nn mm:ss:ff: seconds below 60, frames below 75); chapter "
     "skipped\n"
     "8: note: TRACK 02 after TRACK 03; read in the sheet's order\n"
     "10: note: malformed INDEX (INDEX nn mm:ss:ff: seconds below 60, frames below 75); line "
     "passed over\n"
     "11: time 2 20000\n9: name 2 Seconds\n"
     "12: fails: TRACK 04 has no INDEX 01, where its sound starts; chapter skipped\n"
     "16: fails: malformed INDEX (INDEX nn mm:ss:ff: seconds below 60, frames below 75); "
     "chapter skipped\n"
     "20: note: a second INDEX 01 in this TRACK; the first is kept\n"
     "19: time 3 50000\n18: name 3 Last\n" +
         unread(1, "x.wav", true)},
    {"commands in any case, tabs, a bare FILE name, TRACK 100, odd titles",
     "title\t\"Mixed\"\nfile my file.flac WAVE\n\ttrack 1 audio\n\t\tindex 1 0:05:00\n"
     "\ttrack 2 audio\n\t\ttitle \"\"\n\t\tindex 01 00:06:00\n\tTRACK 100 AUDIO\n"
     "\t\tTITLE \"Unclosed\n\t\tINDEX 01 00:07:00\n\tTRACK 101 AUDIO\n"
     "\t\tTITLE \"say \"hi\" twice\"\n\t\tINDEX 01 00:08:00\n",
     "4: time 1 5000\n7: time 2 6000\n6: name 2 \n10: time 3 7000\n9: name 3 Unclosed\n"
     "13: time 4 8000\n12: name 4 say \"hi\" twice\n" +
         unread(2, "my file.flac", true)},
    {"UTF-16",
     utf16LittleEndian("FILE \"b.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Caf\xC3\xA9\"\n"
                       "    INDEX 01 00:01:00\n"),
     "4: time 1 1000\n3: name 1 Caf\xC3\xA9\n" + unread(1, "b.wav", true)},
    {"title over the bound",
     "FILE \"c.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"" + std::string(maxLineSize, 'x') +
         "\"\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n",
     "3: fails: chapter title longer than 1 MiB; chapter skipped\n6: time 1 1000\n" +
         unread(1, "c.wav", true)},
    {"a TRACK without a FILE, a frame in", "TITLE \"x\"\nTRACK 01 AUDIO\n  INDEX 01 00:00:01\n",
     "3: time 1 13+333333ns\n"},
    {"INDEX before the first TRACK", "FILE d.wav WAVE\nINDEX 01 00:00:00\nTRACK 01 AUDIO\n",
     "2: note: INDEX before the first TRACK; line passed over\n"
     "3: fails: TRACK 01 has no INDEX 01, where its sound starts; chapter skipped\n" +
         unread(1, "d.wav", true)},
};

TEST(CueSource, ReadsSheetsAsRippersAndAudiobookToolsWriteThem) {
    checkFileAndPipe(cueSource, cueCases);
}

// A sheet's shape: a sheet command first, and commands up to its first FILE or TRACK; nothing
// that the simple format reads.
TEST(CueSource, ClaimsSheetsByTheirShape) {
    const struct {
        std::string head;
        Claim claim;
    } cases[] = {
        {"REM GENRE Rock\nFILE \"a.wav\" WAVE\n", Claim::yes},
        {"FILE a.wav WAVE\n", Claim::yes},
        {"\xEF\xBB\xBFTITLE \"x\"\r\nFILE \"a b.wav\" WAVE\r\n", Claim::yes},
        {utf16LittleEndian("PERFORMER \"x\"\nFILE \"a.wav\" WAVE\n"), Claim::yes},
        {"TITLE \"x\"\nFILE \"a.wav\"\n  TRACK 01 AUDIO\n", Claim::yes},
        {"REM x\nFILE \"a.wav\" WAVE\n  TRACK 01 AU", Claim::yes},
        {"REM x\nFILE \"a.wav\" WAVE\nCHAP", Claim::undecided}, // a CHAPTER line may follow
        {"REM x\nFILE \"a.wav\" WAVE\nCHAPTER01=00:00:00.000\n", Claim::no},
        {"REM x\n", Claim::undecided},
        {"REM x\r", Claim::undecided},
        {"PERFOR", Claim::undecided},
        {"", Claim::undecided},
        {"TRACK 01 AUDIO\n", Claim::no}, // a sheet starts before its tracks
        {"TITLE x\n    INDEX 01 00:00:00\n", Claim::no},
        {"TITLE x\nTRACK one AUDIO\n", Claim::no},
        {"Title of my video\n0:00 Intro\n", Claim::no},
        {"0:00 Intro\n", Claim::no},
        {"0:0", Claim::no},
        {"Titles ", Claim::no},
        {"CHAPTER01=00:00:00.000\n", Claim::no},
        {";FFMETADATA1\n", Claim::no},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cueSource.claims(c.head), c.claim) << c.head;
}

// Chapters tracks in the shapes web players and sites publish, and the odd forms hand-made and
// converted ones take.
const SourceCase webvttCases[] = {
    {"a player's chapters track, cues with identifiers",
     "WEBVTT\n\nchapter-1\n00:00:00.000 --> 00:01:30.000\nIntroduction\n\nchapter-2\n"
     "00:01:30.000 --> 00:05:12.250\nSetting up the camera\n\nchapter-3\n"
     "00:05:12.250 --> 00:10:00.000\nEditing & export\n",
     "4: time 1 0\n4: name 1 Introduction\n8: time 2 90000\n8: name 2 Setting up the camera\n"
     "12: time 3 312250\n12: name 3 Editing & export\nlength 600000\n"},
    {"a header, NOTE, STYLE and REGION blocks, times without hours, cue settings",
     "WEBVTT Kind: chapters\nLanguage: en\n\nNOTE\nChapters for episode 12,\nby hand\n\n"
     "STYLE\n::cue { color: yellow }\n\nREGION\nid:fred width:40%\n\n"
     "00:00.000 --> 02:15.500 align:start line:0\nCold open\n\n"
     "02:15.500\t-->\t1:02:03.000 position:10%,line-left\nMain topic\n",
     "14: time 1 0\n14: name 1 Cold open\n17: time 2 135500\n17: name 2 Main topic\n"
     "length 3723000\n"},
    {"converted from SRT: numbered cues, a byte-order mark, Windows line ends",
     "\xEF\xBB\xBFWEBVTT\r\n\r\n1\r\n00:00:00.000 --> 00:00:45.000\r\nOpening\r\n\r\n2\r\n"
     "00:00:45.000 --> 00:12:00.000\r\nThe Harbour\r\n",
     "4: time 1 0\n4: name 1 Opening\n8: time 2 45000\n8: name 2 The Harbour\nlength 720000\n"},
    {"carriage returns alone end lines",
     "WEBVTT\r\r00:00.000 --> 00:10.000\rOne\r\r00:10.000 --> 00:20.000\rTwo\r",
     "3: time 1 0\n3: name 1 One\n6: time 2 10000\n6: name 2 Two\nlength 20000\n"},
    {"tags dropped, character references decoded",
     "WEBVTT\n\n00:00.000 --> 00:10.000\n<v Narrator>Prologue</v>\n\n"
     "00:10.000 --> 00:20.000\n<b>Part 1</b> &amp; <i>Part 2</i> &lt;live&gt;\n\n"
     "00:20.000 --> 00:30.000\n<c.chapter.big>Caf&#233; &#x1F3AC;</c>&nbsp;&lrm;\n\n"
     "00:30.000 --> 00:40.000\nFish &chips; AT&T &#xD800; <00:00:35.000>"
     "\xE6\xBC\xA2<rt>kan</rt>\n",
     "3: time 1 0\n3: name 1 Prologue\n6: time 2 10000\n6: name 2 Part 1 & Part 2 <live>\n"
     "9: time 3 20000\n9: name 3 Caf\xC3\xA9 \xF0\x9F\x8E\xAC\xC2\xA0\xE2\x80\x8E\n"
     "12: time 4 30000\n12: name 4 Fish &chips; AT&T \xEF\xBF\xBD \xE6\xBC\xA2kan\n"
     "length 40000\n"},
    {"text over several lines; a timing line after a cue's text starts the next cue",
     "WEBVTT\n\n00:00.000 --> 00:10.000\nAct one:\nthe arrival\n00:10.000 --> 00:20.000\n"
     "Act two\nintro-3\n00:20.000 --> 00:30.000\nAct three\n",
     "3: time 1 0\n3: name 1 Act one:\\nthe arrival\n6: time 2 10000\n"
     "6: name 2 Act two\\nintro-3\n9: time 3 20000\n9: name 3 Act three\nlength 30000\n"},
    {"a cue without text, a tag over two lines, a cue right after the header",
     "WEBVTT\n00:00.000 --> 00:10.000\n\n00:10.000 --> 00:20.000\n<v\nHost>Titled\n",
     "2: time 1 0\n4: time 2 10000\n4: name 2 Titled\nlength 20000\n"},
    {"faults said, the rest read",
     "WEBVTT\n\n00:00:00,000 --> 00:00:10,000\nSRT commas\n\nChapter without timing\n\n"
     "00:10.000 --> 00:05.000\nEnds early\n\n0:20.000 --> 0:30.000\nShort minutes\n\n"
     "00:20.000 -> 00:30.000\nOne dash\n\n00:60.000 --> 01:00.000\nx\n\n"
     "00:20.0000 --> 00:21.000\nx\n\n99999999999999:00:00.000 --> 99999999999999:00:01.000\n"
     "x\n\n00:20.000 --> 00:30.000\nLast\n",
     "3: fails: malformed cue timing line (as 00:01:02.500 --> 00:02:00.000); cue skipped\n"
     "6: fails: text without a cue timing line (-->); block skipped\n"
     "8: note: cue ends before it starts; its end is not taken as the part's length\n"
     "8: time 1 10000\n8: name 1 Ends early\n"
     "11: fails: malformed cue timing line (as 00:01:02.500 --> 00:02:00.000); cue skipped\n"
     "14: fails: text without a cue timing line (-->); block skipped\n"
     "17: fails: malformed cue timing line (as 00:01:02.500 --> 00:02:00.000); cue skipped\n"
     "20: fails: malformed cue timing line (as 00:01:02.500 --> 00:02:00.000); cue skipped\n"
     "23: fails: chapter time out of range; cue skipped\n"
     "26: time 2 20000\n26: name 2 Last\nlength 30000\n"},
    {"title over the bound",
     "WEBVTT\n\n00:00.000 --> 00:10.000\n" + longTitle + "\nx\n\n00:10.000 --> 00:20.000\nb\n",
     "3: fails: chapter title longer than 1 MiB; chapter skipped\n7: time 1 10000\n"
     "7: name 1 b\nlength 20000\n"},
    {"a header alone", "WEBVTT\nX-TIMESTAMP-MAP=MPEGTS:900000,LOCAL:00:00:00.000\n", ""},
};

TEST(WebvttSource, ReadsTheCuesOfAChaptersTrack) {
    checkFileAndPipe(webvttSource, webvttCases);
}

// JSON chapters in the shapes podcast feeds serve: pretty or minified, with the fields their
// players use, and the odd forms some generators write.
const SourceCase podcastJsonCases[] = {
    {"pretty, with art, links, a silent chapter and a place",
     "{\n  \"version\": \"1.2.0\",\n  \"author\": \"John Doe\",\n  \"podcastName\": \"Show\",\n"
     "  \"chapters\": [\n    {\n      \"startTime\": 0,\n      \"title\": \"Intro\"\n    },\n"
     "    {\n      \"startTime\": 168,\n      \"title\": \"Hearing Aids\",\n"
     "      \"img\": \"https://example.com/images/hearing_aids.jpg\"\n    },\n"
     "    {\n      \"startTime\": 410.5,\n      \"title\": \"Namespace\",\n"
     "      \"url\": \"https://example.com/namespace\",\n      \"toc\": true\n    },\n"
     "    {\n      \"startTime\": 4826,\n      \"img\": \"https://example.com/paris.jpg\",\n"
     "      \"toc\": false,\n      \"location\": {\n        \"name\": \"Eiffel Tower, Paris\",\n"
     "        \"geo\": \"geo:48.858093,2.294694\"\n      }\n    },\n"
     "    {\n      \"startTime\": 5510,\n      \"title\": \"The Big Players\",\n"
     "      \"endTime\": 5854\n    }\n  ]\n}\n",
     "6: time 1 0\n6: name 1 Intro\n10: time 2 168000\n10: name 2 Hearing Aids\n"
     "15: time 3 410500\n15: name 3 Namespace\n30: time 4 5510000\n30: name 4 The Big Players\n"
     "0: note: dropped what a joined list cannot keep: the chapters' img, url, location, endTime; "
     "the file's author, podcastName; 1 chapter with toc false\n"},
    {"minified, in one line, as a generator serves it",
     "{\"version\":\"1.2.0\",\"chapters\":[{\"startTime\":0,\"title\":\"Cold open\"},"
     "{\"startTime\":62.5,\"title\":\"Guest\"},{\"startTime\":1205.25,\"title\":\"Q&A\"}]}",
     "1: time 1 0\n1: name 1 Cold open\n1: time 2 62500\n1: name 2 Guest\n1: time 3 1205250\n"
     "1: name 3 Q&A\n"},
    {"numbers in every JSON form: exponents, sub-millisecond digits, minus zero",
     "{\"version\": \"1.2.0\", \"chapters\": [\n{\"startTime\": 1.5e2, \"title\": \"a\"},\n"
     "{\"startTime\": 2E+2, \"title\": \"b\"},\n{\"startTime\": 25000e-2, \"title\": \"c\"},\n"
     "{\"startTime\": 300.0000, \"title\": \"d\"},\n{\"startTime\": 0.001, \"title\": \"e\"},\n"
     "{\"startTime\": 1.0009999999999, \"title\": \"f\"},\n{\"startTime\": -0.0, \"title\": "
     "\"g\"},\n"
     "{\"startTime\": 9223372036854.775807, \"title\": \"h\"},\n"
     "{\"startTime\": 0.000000000000000000001e21, \"title\": \"i\"}\n]}\n",
     "2: time 1 150000\n2: name 1 a\n3: time 2 200000\n3: name 2 b\n4: time 3 250000\n"
     "4: name 3 c\n5: time 4 300000\n5: name 4 d\n6: time 5 1\n6: name 5 e\n7: time 6 "
     "1000+999999ns\n"
     "7: name 6 f\n8: time 7 0\n8: name 7 g\n9: time 8 9223372036854775+807000ns\n9: name 8 h\n"
     "10: time 9 1000\n10: name 9 i\n"},
    {"a byte-order mark and CR LF lines, fields in any order, escapes in titles",
     "\xEF\xBB\xBF{\r\n\"chapters\": [\r\n{\"title\": \"Caf\\u00e9 \\\"Olé\\\"\", "
     "\"startTime\": 1},\r\n{\"title\": \"two\\nlines \\ud83c\\udfb5 back\\\\slash\", "
     "\"startTime\": 2},\r\n{\"title\": \"first\", \"title\": \"last\", \"startTime\": \"3\", "
     "\"startTime\": 3}\r\n],\r\n"
     "\"version\": \"1.2.0\"\r\n}\r\n",
     "3: time 1 1000\n3: name 1 Caf\xC3\xA9 \"Ol\xC3\xA9\"\n4: time 2 2000\n"
     "4: name 2 two\\nlines \xF0\x9F\x8E\xB5 back\\slash\n5: time 3 3000\n5: name 3 last\n"},
    {"untitled chapters, and unknown keys nested deep",
     "{\"version\": \"1.2.0\", \"chapters\": [\n{\"startTime\": 0},\n"
     "{\"startTime\": 10, \"title\": null},\n"
     "{\"startTime\": 20, \"title\": \"Donations\", \"rssblue:remoteEntity\": {\"item\": "
     "{\"feed_guid\": \"917393e3\", \"guid\": [1, {\"title\": \"not this\"}]}}}\n]}\n",
     "2: time 1 0\n3: note: title is not a string; the chapter is kept without one\n"
     "3: time 2 10000\n4: time 3 20000\n4: name 3 Donations\n"
     "0: note: dropped what a joined list cannot keep: the chapters' rssblue:remoteEntity\n"},
    {"startTimes refused chapter by chapter",
     "{\"version\": \"1.2.0\", \"chapters\": [\n{\"startTime\": \"12.5\", \"title\": \"text\"},\n"
     "{\"startTime\": -3, \"title\": \"negative\"},\n{\"startTime\": NaN, \"title\": \"nan\"},\n"
     "{\"startTime\": -Infinity, \"title\": \"inf\"},\n{\"startTime\": 1e300, \"title\": "
     "\"huge\"},\n"
     "{\"startTime\": 12345678901234567, \"title\": \"past 64 bits\"},\n"
     "{\"startTime\": true, \"title\": \"true\"},\n{\"title\": \"none\"},\n"
     "{\"startTime\": {}, \"title\": \"object\"},\n\"a string\",\n"
     "{\"startTime\": 7, \"title\": \"kept\"}\n]}\n",
     "2: fails: startTime is a string, not a number; chapter skipped\n"
     "3: fails: startTime is negative; chapter skipped\n"
     "4: fails: startTime is not a finite number; chapter skipped\n"
     "5: fails: startTime is not a finite number; chapter skipped\n"
     "6: fails: startTime is out of range; chapter skipped\n"
     "7: fails: startTime is out of range; chapter skipped\n"
     "8: fails: startTime is true or false, not a number; chapter skipped\n"
     "9: fails: no startTime; chapter skipped\n"
     "10: fails: startTime is an object, not a number; chapter skipped\n"
     "11: fails: a chapter that is a string, not an object; skipped\n"
     "12: time 1 7000\n12: name 1 kept\n"},
    {"not well-formed: the chapters before the fault are kept",
     "{\"version\": \"1.2.0\", \"chapters\": [\n  {\"startTime\": 0, \"title\": \"a\"},\n"
     "  {\"startTime\": 5, \"title\": \"b\"},\n]}\n",
     "2: time 1 0\n2: name 1 a\n3: time 2 5000\n3: name 2 b\n"
     "4: fails: JSON error (column 1): Invalid value; the rest of the file is skipped\n"},
    {"cut off", "{\"version\": \"1.2.0\", \"chapters\": [{\"startTime\": 0, \"title\": \"a",
     "1: fails: JSON error (column 63): Missing a closing quotation mark in string; the rest "
     "of the file is skipped\n"},
    {"no chapters array", "{\"version\": \"1.2.0\", \"title\": \"Episode 7\"}\n",
     "0: fails: no chapters array\n"
     "0: note: dropped what a joined list cannot keep: the file's title\n"},
    {"chapters that are not an array", "{\"version\": \"1.2.0\", \"chapters\": {\"startTime\": 0}}",
     "1: fails: chapters is an object, not an array of chapters\n0: fails: no chapters array\n"},
    {"no chapters", "{\"version\": \"1.2.0\", \"chapters\": []}", ""},
    {"title over the bound",
     "{\"chapters\": [{\"startTime\": 0, \"title\": \"" + std::string(maxLineSize + 1, 'x') +
         "\"}, {\"startTime\": 1}]}",
     "1: fails: chapter title longer than 1 MiB; chapter skipped\n1: time 1 1000\n"},
    {"a string past what is held",
     "{\"chapters\": [{\"startTime\": 0}, {\"title\": \"" + std::string(3 * maxLineSize, 'x') +
         "\"}]}",
     "1: time 1 0\n1: fails: a string, number or run of blanks longer than 1 MiB; the rest of "
     "the file is skipped\n"},
    {"nested past the bound",
     "{\"chapters\": [{\"startTime\": 0}], \"x\": " + repeated("[", 300) + repeated("]", 300) + "}",
     "1: time 1 0\n1: fails: values nested more than 256 deep; the rest of the file is skipped\n"
     "0: note: dropped what a joined list cannot keep: the file's x\n"},
};

TEST(PodcastJsonSource, ReadsTheChaptersOfTheShapesFeedsServe) {
    checkFileAndPipe(podcastJsonSource, podcastJsonCases);
}

// Every line, whole and with its blanks, wherever the reads fall: the input fed in two pieces
// split at every byte, against the lines split from the whole text.
TEST(LineReader, LinesAreTheSameWhereverTheReadsFall) {
    const std::string inputs[] = {
        "CHAPTER01=00:00:01.000\r\n  CHAPTER02=00:00:05.000\n\t CHAPTER03NAME=x\n\n",
        "CHAPTER01NAME=a\rb\r\n" + std::string(70, ' ') + "x" + std::string(70, 'y') + "\n",
        "first\n   CHAPTER04=00:00:09.000", // the last line, without a newline
    };
    const auto read = [](std::string_view first, std::string_view second) {
        LineReader reader;
        startReading(reader);
        std::vector<std::string> lines;
        std::string_view pieces[] = {first, second, {}};
        std::size_t fed = 0;
        Line line;
        for (NextLine next; (next = nextLine(reader, line)) != NextLine::end;) {
            if (next == NextLine::needInput)
                feed(reader, pieces[std::min<std::size_t>(fed++, 2)]);
            else
                lines.emplace_back(line.text);
        }
        return lines;
    };
    for (const std::string& input : inputs) {
        std::vector<std::string> expected;
        for (std::string_view rest = input; !rest.empty();) {
            std::string line(rest.substr(0, rest.find('\n')));
            rest.remove_prefix(std::min(rest.size(), line.size() + 1));
            std::erase(line, '\r');
            expected.push_back(line);
        }
        for (std::size_t split = 1; split < input.size(); ++split)
            EXPECT_EQ(read(std::string_view(input).substr(0, split),
                           std::string_view(input).substr(split)),
                      expected)
                << split << " in " << input;
    }
}

TEST(Sources, ClaimTheirOwnInputs) {
    // NAME: claimed; NAME?: more bytes decide (a line not yet ended, or no timestamp line yet).
    const struct {
        std::string head;
        const char* claimedBy;
    } cases[] = {
        {"<?xml version=\"1.0\"?>", "matroska timestamps?"},
        {" \r\n\t<Chapters>", "matroska timestamps?"},
        {"\xEF\xBB\xBF<!-- -->", "matroska timestamps?"},
        {std::string("\xFF\xFE \0<\0", 6), "matroska timestamps?"},
        {std::string("\xFE\xFF\0<", 4), "matroska timestamps?"},
        {std::string("\xFF\xFE"
                     "C\0",
                     4),
         "timestamps?"},
        {"CHAPTER01=00:00:00.000", "timestamps?"},
        {" x<", "timestamps?"},
        {" \n\t", "matroska? timestamps? podcast-json?"},
        {";FFMETADATA1\n", "ffmetadata timestamps?"},
        {"\xEF\xBB\xBF;FFMETADATA1", "ffmetadata timestamps?"},
        {";FFME", "ffmetadata? timestamps?"}, // what a pipe gave so far
        {";FFMX", "timestamps?"},
        {";comment", "timestamps?"},
        {"\xEF\xBB\xBF", "ffmetadata? matroska? webvtt? timestamps? podcast-json?"},
        {"\xEF\xBB", "ffmetadata? matroska? webvtt? timestamps? podcast-json?"},
        {"", "ffmetadata? matroska? webvtt? timestamps? podcast-json?"},
        {"0:00 Intro\n", "timestamps"},
        {"Trip vlog\nhttps://example.com\n\nCHAPTERS:\n0:00 Intro\n", "timestamps"},
        {utf16LittleEndian("0:00 Intro\n"), "timestamps"},
        {"0:00 Intro\nCHAP", "timestamps?"}, // a CHAPTER line may follow
        {"0:00 Intro\n0:1", "timestamps?"},
        {"0:00 Intro\nCHAPTER01=00:00:00.000\n", ""}, // the simple format reads it today
        {"CHAPTER01=00:00:00.000\n0:00 Intro\n", ""},
        {"A description without times\nLive at 10:00am\n", "timestamps?"},
        {"WEBVTT\n\n00:00.000 --> 00:10.000\nIntro\n", "webvtt"},
        {"\xEF\xBB\xBFWEBVTT - Chapters\r\n", "webvtt"},
        {"WEBVTT\t", "webvtt"},
        {"WEBVTT\r", "webvtt"},
        {"WEBVTT\nCHAPTER01=00:00:00.000\n", "webvtt"}, // the signature decides
        {"WEBV", "webvtt? timestamps?"},
        {"WEBVTT", "webvtt? timestamps?"}, // a blank or line end may follow
        {"WEBVTTX\n00:00.000 --> 00:10.000\n", "timestamps"},
        {"webvtt\n", "timestamps?"},
        {" WEBVTT\n", "timestamps?"},
        {utf16LittleEndian("WEBVTT\n"), "timestamps?"},
        {"{\"version\": \"1.2.0\", \"chapters\": []}", "timestamps? podcast-json"},
        {"\xEF\xBB\xBF\r\n {\n\t\"chapters\":[", "timestamps? podcast-json"},
        {"{\"title\": \"Episode 7\", \"version\"", "timestamps? podcast-json"},
        {"{\"vers", "timestamps? podcast-json?"}, // what a pipe gave so far
        {"{", "timestamps? podcast-json?"},
        {"{\"version\": \"1.2.0\"}\nCHAP", "timestamps? podcast-json?"},
        // The simple format reads these today: a line of its own, or not an object with a key of
        // the format's first.
        {"{\"version\": \"1.2.0\"}\nCHAPTER01=00:00:00.000\n", ""},
        {"{\"version\": 1\nCH\rAPTER01=00:00:00.000\n", "timestamps?"},
        {"{\nCHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro\n", ""},
        {"{ chapters }\nCHAPTER01=00:00:00.000\n", ""},
        {"{\"name\": \"x\"}", "timestamps?"},
        {"{\"ver\\u0073ion\": 1}", "timestamps?"},
        {"[{\"startTime\": 0}]", "timestamps?"},
        {utf16LittleEndian("{\"version\": \"1.2.0\"}"), "timestamps?"},
    };
    for (const auto& c : cases) {
        std::string claimedBy;
        for (const Source* source : {&ffmetadataSource, &matroskaSource, &webvttSource,
                                     &timestampsSource, &podcastJsonSource}) {
            const Claim claim = source->claims(c.head);
            if (claim != Claim::no)
                claimedBy += std::string(claimedBy.empty() ? "" : " ") + std::string(source->name) +
                             (claim == Claim::undecided ? "?" : "");
        }
        EXPECT_EQ(claimedBy, c.claimedBy) << c.head;
    }
}

// A pipe gives what it has at a time: detection reads on until the rows can decide.
TEST(Sources, DetectionReadsOnThroughAPipe) {
    const struct {
        std::vector<std::string> pieces;
        const char* detected;
    } cases[] = {
        {{";FF", "x\nCHAPTER01=00:00:01.000\n"}, "simple"},
        {{";FF", "METADATA1\n"}, "ffmetadata"},
        {{"\xEF", "\xBB", "\xBF;FFMETADATA1\n"}, "ffmetadata"},
        {{"\n\n  ", "\n", "<Chapters/>"}, "matroska"},
        {{"\n\n", ""}, "simple"}, // blank to the end
        {{"Description\n0:0", "0 Intro\n"}, "timestamps"},
        {{"0:00 Intro\nCHAP", "TER01=00:00:00.000\n"}, "simple"},
        {{"Description\n", "no times\n"}, "simple"},
        {{"WEB", "VTT", "\n\n00:00.000 --> 00:10.000\nIntro\n"}, "webvtt"},
        {{"WEB", "VTTX\nCHAPTER01=00:00:00.000\n"}, "simple"},
        {{"REM GENRE Rock\nFI", "LE \"a.wav\" WAVE\n"}, "cue"},
        {{"REM x\nFILE \"a.wav\" WAVE\nCHAP", "TER01=00:00:00.000\n"}, "simple"},
        {{"TITLE x\n", "    INDEX 01 00:00:00\n"}, "simple"},
        {{"REM x\n", "0:00 Intro\n"}, "timestamps"},
        {{"\n{\"ver", "sion\": \"1.2.0\", \"chapters\": []}"}, "podcast-json"},
        {{"{\"version\": 1}\n", "CHAPTER01=00:00:00.000\n"}, "simple"},
    };
    for (const auto& c : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::jthread writer([&c, to = ends[1]] {
            for (const std::string& piece : c.pieces) {
                writeAll(to, piece);
                // Long enough that the reader usually takes each piece alone; where it takes
                // more, the case is only easier.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            close(to);
        });
        Output output = makeOutput(-1, -1);
        std::vector<char> buffer;
        Input input{ends[0], "FILE", "", buffer, output, {}, false, 0};
        ASSERT_TRUE(startInput(input));
        const Source* source = detect(input);
        EXPECT_EQ(source ? source->name : "none", c.detected) << c.pieces.front();
        writer.join();
        close(ends[0]);
    }
}

} // namespace
