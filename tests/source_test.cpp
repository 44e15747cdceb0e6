// Runs each source over inputs held in a memfd (a file, read twice where a source wants to) or a
// pipe, and checks what it hands on, line by line.
#include "output.hpp"
#include "sources/line_reader.hpp"
#include "sources/source.hpp"

#include <gtest/gtest.h>

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
            text += "time " + std::to_string(line.number) + " " + std::to_string(line.time);
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
    for (const SourceCase& c : ffmetadataCases) {
        check(ffmetadataSource, c);
        check(ffmetadataSource, {c.what, c.input, c.events, Via::pipe});
    }
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
     "3: time 3 600500\n3: name 3 Chapter 2\n4: time 4 754123\n4: name 4 Chapter 3\n"},
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
    for (const SourceCase& c : timestampsCases) {
        check(timestampsSource, c);
        check(timestampsSource, {c.what, c.input, c.events, Via::pipe});
    }
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
    for (const SourceCase& c : webvttCases) {
        check(webvttSource, c);
        check(webvttSource, {c.what, c.input, c.events, Via::pipe});
    }
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
        {" \n\t", "matroska? timestamps?"},
        {";FFMETADATA1\n", "ffmetadata timestamps?"},
        {"\xEF\xBB\xBF;FFMETADATA1", "ffmetadata timestamps?"},
        {";FFME", "ffmetadata? timestamps?"}, // what a pipe gave so far
        {";FFMX", "timestamps?"},
        {";comment", "timestamps?"},
        {"\xEF\xBB\xBF", "ffmetadata? matroska? webvtt? timestamps?"},
        {"\xEF\xBB", "ffmetadata? matroska? webvtt? timestamps?"},
        {"", "ffmetadata? matroska? webvtt? timestamps?"},
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
    };
    for (const auto& c : cases) {
        std::string claimedBy;
        for (const Source* source :
             {&ffmetadataSource, &matroskaSource, &webvttSource, &timestampsSource}) {
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
