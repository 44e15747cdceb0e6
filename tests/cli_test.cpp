// End-to-end runs of the chapcat binary on real files.
#include "run_tool.hpp"
#include "writers/writer.hpp"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

const std::string part = "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\n"
                         "CHAPTER02=00:20:00.000\nCHAPTER02NAME=B\n";
const std::string partCRLF = "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=A\r\n"
                             "CHAPTER02=00:20:00.000\r\nCHAPTER02NAME=B\r\n";
const std::string twoPartsFiveMinutesApart =
    "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:20:00.000\nCHAPTER02NAME=B\n"
    "CHAPTER03=00:25:00.000\nCHAPTER03NAME=A\nCHAPTER04=00:45:00.000\nCHAPTER04NAME=B\n";

// ASCII text as UTF-16 code units.
std::string utf16(std::string_view ascii, bool littleEndian) {
    std::string units;
    for (const char c : ascii)
        units += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return units;
}

TEST_P(Cli, Run) {
    const CliCase& c = GetParam();
    ScratchDir dir;
    for (const auto& [name, content] : c.files)
        dir.write(name, content);
    const ToolRun run = runTool(dir, c.args);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
}

const CliCase mergeCases[] = {
    {"NoArguments", {}, {}, "", "", 0},
    {"VerboseSaysWhatACutKept",
     {{"a", part}},
     {"--verbose", "--keep=10:00-30:00", "a"},
     "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:10:00.000\nCHAPTER02NAME=B\n",
     "chapcat: a: starts at 00:00:00.000000, lasts 00:20:00.000000 (the ranges kept), keeps "
     "00:10:00.000000-00:30:00.000000 of its own time (1 moved, 0 left out), 2 chapters\n",
     0},
    {"OnlyOptions", {}, {"-p", "-t", "-n"}, "", "", 0},
    {"DelayBetweenFiles",
     {{"a", part}},
     {"a", "-d=00:05:00.000", "a"},
     twoPartsFiveMinutesApart,
     "",
     0},
    {"WindowsLineEnds",
     {{"a", partCRLF}},
     {"a", "-d=00:05:00.000", "a"},
     twoPartsFiveMinutesApart,
     "",
     0},
    {"CarriageReturnsAnywhere",
     {{"a", "CHAP\rTER01=00:00:01.000\r\r\nCHAPTER01NAME=x\r\n"}},
     {"a"},
     named("CHAPTER01=00:00:01.000\n"),
     "",
     0},
    {"LastLineWithoutNewline",
     {{"a", "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro"}},
     {"a", "-d=1", "a"},
     "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro\nCHAPTER02=00:00:01.000\nCHAPTER02NAME=Intro\n",
     "",
     0},
    {"OnlyCarriageReturnsIsOneLine",
     {{"a", "CHAPTER05NAME=x\ry\r"}},
     {"a"},
     "CHAPTER05NAME=xy\n",
     "chapcat: a:1: chapter 05 has a name line but no time line\n",
     0},
    {"DelayBeforeFirstFile",
     {{"a", part}},
     {"-d=00:01:00.000", "a"},
     "CHAPTER01=00:01:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:21:00.000\nCHAPTER02NAME=B\n",
     "",
     0},
    {"NegativeDelay",
     {{"a", part}},
     {"a", "-d=-00:05:00.000", "a"},
     part + "CHAPTER03=00:15:00.000\nCHAPTER03NAME=A\nCHAPTER04=00:35:00.000\nCHAPTER04NAME=B\n",
     "chapcat: a:1: chapter 03 (00:15:00.000) does not start after chapter 02 (00:20:00.000); "
     "is a -d= or --length= missing before a?\n",
     0},
    {"DelaysAddUp",
     {{"a", part}},
     {"a", "-d=00:02:00.000", "-d=00:03:00.000", "a"},
     twoPartsFiveMinutesApart,
     "",
     0},
    {"EmptyFileKeepsOffsetsAndPendingDelay",
     {{"a", part}, {"empty", ""}},
     {"a", "-d=00:05:00.000", "empty", "a"},
     twoPartsFiveMinutesApart,
     "",
     0},
    {"FileWithoutChaptersKeepsOffsets",
     {{"a", part}, {"notes", "\n  \njust text\n\n"}, {"blank", " \n\t\r\n"}},
     {"a", "notes", "blank", "-d=00:05:00.000", "a"},
     twoPartsFiveMinutesApart,
     "chapcat: notes: no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)\n",
     1},
    {"PartChaptersForTextPartsWithout",
     {{"a", part}, {"gap.txt", ""}, {"notes.txt", "just text\n"}},
     {"--part-chapters", "a", "-d=00:05:00.000", "gap.txt", "-d=00:01:00.000", "notes.txt"},
     part +
         "CHAPTER03=00:25:00.000\nCHAPTER03NAME=gap\nCHAPTER04=00:26:00.000\nCHAPTER04NAME=notes\n",
     "chapcat: notes.txt: no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)\n",
     1},
    {"FormatsKnownByContentInOneRun",
     {{"xml", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<Chapters><EditionEntry><ChapterAtom>"
              "<ChapterTimeStart>00:00:01.000000000</ChapterTimeStart><ChapterDisplay>"
              "<ChapterString>X&amp;1</ChapterString></ChapterDisplay></ChapterAtom><ChapterAtom>"
              "<ChapterTimeStart>0:01:03.231999998</ChapterTimeStart><ChapterDisplay>"
              "<ChapterString>Y</ChapterString></ChapterDisplay></ChapterAtom></EditionEntry>"
              "</Chapters>\n"},
      {"ff", ";FFMETADATA1\ntitle=global\n[CHAPTER]\nTIMEBASE=1/10000000\nSTART=5000000\n"
             "END=6000000\nTITLE=f\\=1\n"},
      {".stdin", "CHAPTER01=00:00:02.000\nCHAPTER01NAME=s\n"},
      {"notes", "just text\n"}},
     {"xml", "ff", "-", "notes"},
     "CHAPTER01=00:00:01.000\nCHAPTER01NAME=X&1\nCHAPTER02=00:01:03.232\nCHAPTER02NAME="
     "Y\nCHAPTER03=00:01:03.732\nCHAPTER03NAME=f=1\n"
     "CHAPTER04=00:01:05.732\nCHAPTER04NAME=s\n",
     "chapcat: notes: no chapter lines (CHAPTERnn=time, CHAPTERnnNAME=title)\n",
     1},
    {"PartsCountingFromZeroDoNotShareNumbers",
     {{"z", named("CHAPTER00=00:00:00.000\nCHAPTER01=00:01:00.000\n")}},
     {"--length=2:00", "z", "z"},
     named("CHAPTER00=00:00:00.000\nCHAPTER01=00:01:00.000\n"
           "CHAPTER02=00:02:00.000\nCHAPTER03=00:03:00.000\n"),
     "",
     0},
    {"TimesAsMuxersReadThem",
     {{"a", named("CHAPTER01=00:00:10.5\nCHAPTER02=00:00:12,25\nCHAPTER03=00:08:40\n"
                  "CHAPTER04=0:9:2.123456789\n")}},
     {"a"},
     named("CHAPTER01=00:00:10.500\nCHAPTER02=00:00:12.250\nCHAPTER03=00:08:40.000\n"
           "CHAPTER04=00:09:02.123\n"),
     "",
     0},
    {"Utf16Decoded",
     {{"le", "\xFF\xFE" + utf16("CHAPTER1NAME=", true) +
                 std::string("\xE9\0\x3D\xD8\x00\xDE\0\xD8x\0", 10) + utf16("\r\n", true)},
      {"be", "\xFE\xFF" + utf16("CHAPTER1NAME=z", false) + "\x41"}},
     {"le", "be"},
     "CHAPTER01NAME=\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx\n"
     "CHAPTER02NAME=z\xEF\xBF\xBD\n",
     "chapcat: le:1: chapter 01 has a name line but no time line\n"
     "chapcat: be:1: chapter 02 has a name line but no time line\n",
     0},
    {"NameOnlyFileMovesChapterNumbersOnly",
     {{"a", part}, {"names", "CHAPTER01NAME=X\nCHAPTER02NAME=Y\n"}},
     {"a", "names", "a"},
     part + "CHAPTER03NAME=X\nCHAPTER04NAME=Y\n"
            "CHAPTER05=00:20:00.000\nCHAPTER05NAME=A\nCHAPTER06=00:40:00.000\nCHAPTER06NAME=B\n",
     "chapcat: names:1: chapter 03 has a name line but no time line\n"
     "chapcat: names:2: chapter 04 has a name line but no time line\n"
     "chapcat: a:1: chapter 05 (00:20:00.000) does not start after chapter 02 (00:20:00.000); "
     "is a -d= or --length= missing before a?\n",
     0},
    {"LastChapterLineSetsNextNumber",
     {{"a", "CHAPTER07=00:00:01.000\nCHAPTER03NAME=x\n"}},
     {"a", "a"},
     "CHAPTER07=00:00:01.000\nCHAPTER03NAME=x\nCHAPTER10=00:00:02.000\nCHAPTER06NAME=x\n",
     "chapcat: a:1: chapter 07 has a time line but no name line\n"
     "chapcat: a:2: chapter 03 has a name line but no time line\n"
     "chapcat: a:1: chapter 10 has a time line but no name line\n"
     "chapcat: a:2: chapter 06 has a name line but no time line\n",
     0},
    {"ByteOrderMarkSkippedAtStart",
     {{"a", "\xEF\xBB\xBF" + named("CHAPTER01=00:00:01.000\n")}},
     {"a", "a"},
     named("CHAPTER01=00:00:01.000\nCHAPTER02=00:00:02.000\n"),
     "",
     0},
    {"ByteOrderMarkElsewhereIsText",
     {{"a", named("CHAPTER01=00:00:01.000\n") + "\xEF\xBB\xBF"
                                                "CHAPTER02=00:00:02.000\n"}},
     {"a"},
     named("CHAPTER01=00:00:01.000\n"),
     "",
     0},
    {"UnknownOptionsWarnedAndIgnored",
     {{"a", part}},
     {"-d", "-dx", "-x", "-pal", "-none", "a"},
     part,
     "chapcat: ignoring '-d': a delay is written -d=TIME, as -d=20.039\n"
     "chapcat: ignoring '-dx': a delay is written -d=TIME, as -d=20.039\n"
     "chapcat: ignoring unknown option '-x'; see 'chapcat --help'\n",
     0},
    {"StandardInputAndEndOfOptions",
     {{".stdin", part},
      {"-p", part},
      {"--help", named("CHAPTER01=00:00:01.000\nCHAPTER02=00:10:00.000\n")}},
     {"-", "-d=5:00", "--", "-p", "--help", "-"},
     twoPartsFiveMinutesApart + named("CHAPTER05=00:45:01.000\nCHAPTER06=00:55:00.000\n"),
     "",
     0},
};
INSTANTIATE_TEST_SUITE_P(Merge, Cli, testing::ValuesIn(mergeCases),
                         [](const auto& info) { return std::string(info.param.what); });

const std::string tenMinutes = named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:00.000\n");

const CliCase frameRateCases[] = {
    {"RangesAreInThePartsOwnTime",
     {{"f", tenMinutes}},
     {"-p", "--cut=0-5:00", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:05:12.813\n"),
     "",
     0},
    {"PalToFilmDoesNotConvertTheCarriedTimeAgain",
     {{"f", tenMinutes}},
     {"-p", "f", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:25.625\n"
           "CHAPTER03=00:10:25.625\nCHAPTER04=00:20:51.250\n"),
     "chapcat: f:1: chapter 03 (00:10:25.625) does not start after chapter 02 (00:10:25.625); "
     "is a -d= or --length= missing before f?\n",
     0},
    {"Pulldown",
     {{"f", tenMinutes}},
     {"-t", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:00.600\n"),
     "",
     0},
    {"BothPalFirst",
     {{"f", tenMinutes}},
     {"-t", "-p", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:26.250\n"),
     "",
     0},
    {"KnownBySecondCharacter",
     {{"f", tenMinutes}},
     {"-tv", "-pal", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:26.250\n"),
     "",
     0},
    {"NoneSwitchesBothOff", {{"f", tenMinutes}}, {"-t", "-p", "-n", "f"}, tenMinutes, "", 0},
    {"SwitchedOffAfterFirstFile",
     {{"f", tenMinutes}},
     {"-p", "f", "-n", "f"},
     named("CHAPTER01=00:00:00.000\nCHAPTER02=00:10:25.625\n"
           "CHAPTER03=00:10:25.625\nCHAPTER04=00:20:25.625\n"),
     "chapcat: f:1: chapter 03 (00:10:25.625) does not start after chapter 02 (00:10:25.625); "
     "is a -d= or --length= missing before f?\n",
     0},
    {"SwitchedOnForSecondFile",
     {{"f", tenMinutes}},
     {"f", "-p", "-d=1", "f"},
     tenMinutes + named("CHAPTER03=00:10:01.043\nCHAPTER04=00:20:26.668\n"),
     "",
     0},
    {"DelayConvertedWithTheFileItPrecedes",
     {{"f", tenMinutes}},
     {"-p", "-d=00:01:00.000", "f"},
     named("CHAPTER01=00:01:02.563\nCHAPTER02=00:11:28.188\n"),
     "",
     0},
    {"NamesAreNeverConverted",
     {{"f", "CHAPTER01=00:01:00.000\nCHAPTER01NAME=00:01:00.000\n"}},
     {"-p", "f"},
     "CHAPTER01=00:01:02.563\nCHAPTER01NAME=00:01:00.000\n",
     "",
     0},
};
INSTANTIATE_TEST_SUITE_P(FrameRate, Cli, testing::ValuesIn(frameRateCases),
                         [](const auto& info) { return std::string(info.param.what); });

std::string replacementCharacters(int count) {
    std::string text;
    while (count-- > 0)
        text += "\xEF\xBF\xBD"; // U+FFFD
    return text;
}

const std::string xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chapters>\n";

// Every start and title as the format holds them, a chapter without a title among them.
const std::string timestampsMs = "00:00:00.000 Opening\n00:01:02.500 Chapter 1 - The Harbour\n"
                                 "00:10:00.000\n01:00:00.001 Caf\xC3\xA9 \xC3\x89lo\xC3\xAFse\n";

// As chapcat writes WebVTT: every start, end and title as the format holds them, a chapter without
// a title and one over two lines among them.
const std::string webvtt = "WEBVTT\n\n00:00:00.000 --> 00:01:02.500\nOpening &amp; &lt;b&gt;\n\n"
                           "00:01:02.500 --> 00:10:00.000\nChapter 1\nThe Harbour --&gt;\n\n"
                           "00:10:00.000 --> 01:00:00.001\n\n"
                           "01:00:00.001 --> 01:02:00.000\nCaf\xC3\xA9 \xC3\x89lo\xC3\xAFse\n";

const CliCase formatCases[] = {
    {"FfmetadataChaptersAndTheirEnds",
     {{"a", "CHAPTER01NAME=a=b;c#d\\e\nCHAPTER01=00:00:01.000\nCHAPTER02=00:00:05.000\n"
            "CHAPTER03=00:00:08.000\nCHAPTER04=00:00:03.000\nCHAPTER04NAME=\n"}},
     {"--format=ffmetadata", "--length=10", "a"},
     ";FFMETADATA1\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=5000\ntitle=a\\=b\\;c\\#d\\\\e\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=5000\nEND=8000\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=8000\nEND=8000\n" // the next one starts earlier
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=10000\ntitle=\n",
     "chapcat: a:3: chapter 02 has a time line but no name line\n"
     "chapcat: a:4: chapter 03 has a time line but no name line\n"
     "chapcat: a:5: chapter 04 (00:00:03.000) does not start after chapter 03 (00:00:08.000)\n",
     0},
    {"UntitledChapterAfterALongTitleHasNoTitle",
     {{"a", "CHAPTER01=0:0:0\nCHAPTER01NAME=" + std::string(20000, 'x') + "\\\nCHAPTER02=0:0:1\n"}},
     {"--format=ffmetadata", "--length=2", "a"},
     ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=" +
         std::string(20000, 'x') + "\\\\\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n",
     "chapcat: a:1: chapter 01: title ends in a backslash: ffmpeg reads the escaped backslash "
     "before the line end as a line continuation, loses the title and merges the next chapter "
     "into it\n"
     "chapcat: a:3: chapter 02 has a time line but no name line\n",
     0},
    {"FfmetadataDropsANameWithoutTime",
     {{"a", "CHAPTER01NAME=lost\nCHAPTER02=00:00:01.000\nCHAPTER02NAME=kept\n"}},
     {"a", "--format=ffmetadata"},
     ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=1000\ntitle=kept\n",
     "chapcat: a:1: chapter 01 has a name line but no time line; name dropped\n"
     "chapcat: the last chapter's end is unknown; give the last part's --length=\n",
     1},
    {"MatroskaTextAlwaysWellFormed",
     {{"a", std::string("CHAPTER01=00:00:01.000\nCHAPTER01NAME=<&>\x01\xff\xed\xa0\x80\xef\xbf\xbe"
                        "\xf0\x9f\x98\x80\xc3\xa9\t\xe2\x82\n"
                        "CHAPTER02=1:00:00\n")}},
     {"--format=matroska", "a"},
     xmlHead +
         "  <EditionEntry>\n    <ChapterAtom>\n"
         "      <ChapterTimeStart>00:00:01.000000000</ChapterTimeStart>\n"
         "      <ChapterTimeEnd>01:00:00.000000000</ChapterTimeEnd>\n"
         "      <ChapterDisplay>\n"
         // One U+FFFD each for: a control character, a byte that starts nothing, each byte of
         // a surrogate, U+FFFE, and the cut-off end of a character.
         "        <ChapterString>&lt;&amp;&gt;" +
         replacementCharacters(6) + "\xF0\x9F\x98\x80\xC3\xA9\t" + replacementCharacters(1) +
         "</ChapterString>\n"
         "        <ChapterLanguage>und</ChapterLanguage>\n"
         "      </ChapterDisplay>\n    </ChapterAtom>\n"
         "    <ChapterAtom>\n" // no name, no display; no length, so no end
         "      <ChapterTimeStart>01:00:00.000000000</ChapterTimeStart>\n"
         "    </ChapterAtom>\n  </EditionEntry>\n</Chapters>\n",
     "chapcat: a:3: chapter 02 has a time line but no name line\n"
     "chapcat: the last chapter's end is unknown; give the last part's --length=\n",
     0},
    {"WhatFfmpegWouldLoseIsSaid",
     {{"a", "CHAPTER01=00:00:01.000\nCHAPTER01NAME=a" + std::string(1, '\0') +
                "b\nCHAPTER02=00:00:02.000\nCHAPTER02NAME=c\\\nCHAPTER03=2562047:47:16.854\n"
                "CHAPTER03NAME=d\n"}},
     {"--format=ffmetadata", "--length=2562048:00:00", "a"},
     ";FFMETADATA1\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=a\xEF\xBF\xBD"
     "b\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=9223372036854\ntitle=c\\\\\n"
     "[CHAPTER]\nTIMEBASE=1/1000\nSTART=9223372036854\nEND=9223372800000\ntitle=d\n",
     "chapcat: a:1: chapter 01: title holds a NUL byte, which would end it for ffmpeg; written "
     "as U+FFFD\n"
     "chapcat: a:3: chapter 02 reaches 2562047:47:16.854 or later, past the nanoseconds that "
     "Matroska and ffmpeg hold; muxers lose it\n"
     "chapcat: a:3: chapter 02: title ends in a backslash: ffmpeg reads the escaped backslash "
     "before the line end as a line continuation, loses the title and merges the next chapter "
     "into it\n"
     "chapcat: a:5: chapter 03 reaches 2562047:47:16.854 or later, past the nanoseconds that "
     "Matroska and ffmpeg hold; muxers lose it\n",
     1},
    {"BlankMatroskaTitleKept",
     {{"a", "CHAPTER01=00:00:01.000\nCHAPTER01NAME= \t\n"}},
     {"--format=matroska", "--length=2", "a"},
     xmlHead + "  <EditionEntry>\n    <ChapterAtom>\n"
               "      <ChapterTimeStart>00:00:01.000000000</ChapterTimeStart>\n"
               "      <ChapterTimeEnd>00:00:02.000000000</ChapterTimeEnd>\n"
               "      <ChapterDisplay>\n        <ChapterString>&#x20;&#x9;</ChapterString>\n"
               "        <ChapterLanguage>und</ChapterLanguage>\n      </ChapterDisplay>\n"
               "    </ChapterAtom>\n  </EditionEntry>\n</Chapters>\n",
     "",
     0},
    {"StoppedRunStillEndsTheDocument",
     {{"a", "CHAPTER01=00:00:01.000\nCHAPTER01NAME=A\n"}},
     {"--format=matroska", "--length=5", "a", "missing"},
     xmlHead + "  <EditionEntry>\n    <ChapterAtom>\n"
               "      <ChapterTimeStart>00:00:01.000000000</ChapterTimeStart>\n"
               "      <ChapterDisplay>\n        <ChapterString>A</ChapterString>\n"
               "        <ChapterLanguage>und</ChapterLanguage>\n      </ChapterDisplay>\n"
               "    </ChapterAtom>\n  </EditionEntry>\n</Chapters>\n",
     "Failed to open \"missing\".\n",
     1},
    {"MatroskaWithoutChaptersHasNoEdition",
     {{"a", "CHAPTER01NAME=lost\n"}},
     {"--format=matroska", "--format=matroska", "a"},
     xmlHead + "</Chapters>\n",
     "chapcat: a:1: chapter 01 has a name line but no time line; name dropped\n",
     1},
    {"TimestampsForAYouTubeDescription",
     {{"a", "Part one of the trip\n0:00 Intro\n0:45 - Town\n"},
      {"b", "[0:00] Beach\n1:02.700 Sunset\n"},
      {"c", "0:00 Night\n"}},
     {"--format=timestamps", "--length=100", "a", "--length=3500", "b", "--length=60", "c"},
     "0:00 Intro\n0:45 Town\n1:40 Beach\n2:42 Sunset\n1:00:00 Night\n",
     "",
     0},
    {"TimestampsFirstChapterNotAtZero",
     {{"a", "0:05.900 A\n0:20 B\n0:40 C\n"}},
     {"--format=timestamps", "--length=60", "a"},
     "0:05 A\n0:20 B\n0:40 C\n",
     "chapcat: output line 1 (0:05): YouTube shows chapters only where the first is at 0:00\n",
     0},
    {"TimestampsFewerThanThree",
     {{"a", "0:00 A\n0:20 B\n"}},
     {"--format=timestamps", "--length=60", "a"},
     "0:00 A\n0:20 B\n",
     "chapcat: YouTube shows chapters only from three on; the list has 2\n",
     0},
    {"TimestampsShorterThanTenSeconds",
     {{"a", "0:00 A\n0:20 B\n0:29.999 C\n"}},
     {"--format=timestamps", "--length=60", "a"},
     "0:00 A\n0:20 B\n0:29 C\n",
     "chapcat: output line 2 (0:20): shorter than 10 s; YouTube shows chapters only where each "
     "is at least 10 s long\n",
     0},
    {"TimestampsInTheSameWholeSecond",
     {{"a", "0:00 A\n0:20.200 B\n0:20.800 C\n0:40 D\n"}},
     {"--format=timestamps", "--length=60", "a"},
     "0:00 A\n0:20 B\n0:20 C\n0:40 D\n",
     "chapcat: output line 2 (0:20): shorter than 10 s; YouTube shows chapters only where each "
     "is at least 10 s long\n"
     "chapcat: output line 3 (0:20): starts in the same whole second as the chapter before it, "
     "which YouTube cannot tell apart\n",
     0},
    {"TimestampsNotInRisingOrder",
     {{"a", "0:00 A\n0:30 B\n0:15 C\n0:45 D\n"}},
     {"--format=timestamps", "--length=60", "a"},
     "0:00 A\n0:30 B\n0:15 C\n0:45 D\n",
     "chapcat: a:3: chapter 03 (00:00:15.000) does not start after chapter 02 (00:00:30.000)\n"
     "chapcat: output line 3 (0:15): starts before the chapter before it; YouTube shows "
     "chapters only in rising order\n",
     0},
    {"TimestampsTitleWithALineBreak",
     {{"a", ";FFMETADATA1\n[CHAPTER]\nSTART=0\nEND=1\ntitle=one\\\ntwo\n"}},
     {"--format=timestamps-ms", "--length=60", "a"},
     "00:00:00.000 one two\n",
     "chapcat: a:3: chapter 01: title holds a line break, which a timestamp line cannot; "
     "written as a space\n",
     0},
    {"TimestampsMsReadBackUnchanged",
     {{"a", timestampsMs}},
     {"--format=timestamps-ms", "--length=4000", "a"},
     timestampsMs,
     "chapcat: a:3: chapter 03 has a time but no title\n",
     0},
    {"WebvttFromParts",
     {{"a.vtt", "WEBVTT\n\n00:00.000 --> 01:40.000\nIntro &amp; <b>town</b>\n\n"
                "01:40.000 --> 02:00.000\n"},
      {"b", ";FFMETADATA1\n[CHAPTER]\nSTART=0\nEND=1\ntitle=Two\\\nlines <&>\n[CHAPTER]\n"
            "TIMEBASE=1/1000\nSTART=5000\nEND=6000\ntitle=-->\n"}},
     {"--format=webvtt", "a.vtt", "--length=60", "b"},
     "WEBVTT\n\n00:00:00.000 --> 00:01:40.000\nIntro &amp; town\n\n"
     "00:01:40.000 --> 00:02:00.000\n\n" // the end of the last cue places the next part
     "00:02:00.000 --> 00:02:05.000\nTwo\nlines &lt;&amp;&gt;\n\n"
     "00:02:05.000 --> 00:03:00.000\n--&gt;\n",
     "chapcat: a.vtt:6: chapter 02 has no cue text\n",
     0},
    {"WebvttLastEndUnknown",
     {{"a", "CHAPTER01=00:00:01.000\nCHAPTER01NAME=A\n"}},
     {"--format=webvtt", "a"},
     "WEBVTT\n\n00:00:01.000 --> 00:00:01.000\nA\n",
     "chapcat: the last chapter's end is unknown; give the last part's --length=\n",
     0},
    {"WebvttTitlesThatCannotStandAsTheyAre",
     {{"a", ";FFMETADATA1\n[CHAPTER]\nSTART=0\nEND=1\ntitle=a\\\n\\\nb\n[CHAPTER]\n"
            "START=1000000\nEND=1000000\ntitle=\\\nc\\\r\n"},
      {"b", "CHAPTER01=00:00:00.000\nCHAPTER01NAME=n" + std::string(1, '\0') + "ul\n"}},
     {"--format=webvtt", "--length=0.002", "a", "--length=3", "b"},
     "WEBVTT\n\n00:00:00.000 --> 00:00:00.001\na  b\n\n00:00:00.001 --> 00:00:00.002\n c \n\n"
     "00:00:00.002 --> 00:00:03.002\nn\xEF\xBF\xBDul\n",
     "chapcat: a:3: chapter 01: title holds a blank line or a carriage return, which would end a "
     "cue's text or a line of it; its line breaks written as spaces\n"
     "chapcat: a:9: chapter 02: title holds a blank line or a carriage return, which would end a "
     "cue's text or a line of it; its line breaks written as spaces\n"
     "chapcat: b:1: chapter 03: title holds a NUL byte, which WebVTT readers take as U+FFFD; "
     "written as U+FFFD\n",
     0},
    {"WebvttReadBackUnchanged",
     {{"a", webvtt}},
     {"--format=webvtt", "a"},
     webvtt,
     "chapcat: a:10: chapter 03 has no cue text\n",
     0},
    {"WebvttWithoutCues",
     {{"a.vtt", "WEBVTT\n\nNOTE no chapters yet\n"}},
     {"a.vtt"},
     "",
     "chapcat: a.vtt: no chapters and no length in this WebVTT file; give its --length=, or "
     "--part-chapters\n",
     1},
};
INSTANTIATE_TEST_SUITE_P(Formats, Cli, testing::ValuesIn(formatCases),
                         [](const auto& info) { return std::string(info.param.what); });

const std::string tryHelp = "Try 'chapcat --help' for more information.\n";
const std::string expectedTime =
    "expected a time such as -d=00:05:00.000, -d=1:05.5 or -d=20.039\n";

const CliCase failureCases[] = {
    {"ConcatScriptListsOnlyMedia",
     {{"a", part}},
     {"--format=ffconcat", "a", "a"},
     "ffconcat version 1.0\n",
     "chapcat: a: not a media file; --format=ffconcat lists the media files that are joined\n",
     1},
    {"MissingFileStopsTheRun",
     {{"a", part}},
     {"a", "missing", "a"},
     part,
     "Failed to open \"missing\".\n",
     1},
    {"ListedPartsStandWhereTheListDoes",
     {{"a", part}, {"list", "a\n\n"}},
     {"--files-from", "list", "-d=00:05:00.000", "a"},
     twoPartsFiveMinutesApart,
     "",
     0},
    {"ListedMissingFileStopsTheRun",
     {{"a", part}, {"list", "a\nmissing\na\n"}},
     {"--files-from=list"},
     part,
     "Failed to open \"missing\".\n",
     1},
    {"ListNamingNoFile",
     {{"list", std::string(5, '\0')}},
     {"--files0-from=list"},
     "",
     "chapcat: list: names no file\n",
     1},
    {"ListOnStandardInputCannotNameIt",
     {{"a", part}, {".stdin", "a\n-\na\n"}},
     {"--files-from=-"},
     part,
     "chapcat: standard input:2: the list is standard input, which cannot also be a part\n",
     1},
    {"ListedNameWithNulStopsTheRun",
     {{"a", part}, {"list", std::string("a\nb\0c\na\n", 8)}},
     {"--files-from=list"},
     part,
     "chapcat: list:2: file name holds a NUL byte, which no file name can\n",
     1},
    {"EmptyArgumentIsAFileName", {{"a", part}}, {"", "a"}, "", "Failed to open \"\".\n", 1},
    {"MalformedDelaysAreUsageErrors",
     {{"a", part}},
     {"a", "-d=5:", "-d=ab:cd:ef.gh", "-d= 5", "a"},
     "",
     "chapcat: invalid delay '-d=5:': " + expectedTime + tryHelp,
     2},
    {"EmptyDelayIsAUsageError",
     {{"a", part}},
     {"a", "-d="},
     "",
     "chapcat: invalid delay '-d=': " + expectedTime + tryHelp,
     2},
    {"PartsPlacedByTheirLengths",
     {{"f", tenMinutes}, {"empty", ""}},
     {"--length=30:00", "f", "-d=1", "-p", "--length=2:00", "empty", "--length=0", "f", "f"},
     // The delay is stretched with the part it precedes; lengths never are.
     tenMinutes + named("CHAPTER03=00:32:01.043\nCHAPTER04=00:42:26.668\n"
                        "CHAPTER05=00:32:01.043\nCHAPTER06=00:42:26.668\n"),
     "chapcat: f:3: chapter 04 (00:42:26.668) starts after the end of its part (00:32:01.043)\n"
     "chapcat: f:1: chapter 05 (00:32:01.043) does not start after chapter 04 (00:42:26.668); "
     "does the length of the part before f match that part in the joined video (after -p or "
     "-t)?\n",
     0},
    {"VerboseSaysWhereEachPartGoes",
     {{"f", tenMinutes}},
     {"--verbose", "--length", "30:00", "f", "-d=1", "f"},
     tenMinutes + named("CHAPTER03=00:30:01.000\nCHAPTER04=00:40:01.000\n"),
     "chapcat: f: starts at 00:00:00.000000, lasts 00:30:00.000000 (--length=), 2 chapters\n"
     "chapcat: f: starts at 00:30:01.000000, length unknown (the next part starts at its last "
     "chapter), 2 chapters\n",
     0},
    {"VerboseSaysAWebvttPartLastsToItsCuesLatestEnd",
     {{"a.vtt", "WEBVTT\n\n00:00.000 --> 02:00.000\nA\n\n00:10.000 --> 01:00.000\nB\n"}},
     {"--verbose", "a.vtt", "a.vtt"},
     "CHAPTER01=00:00:00.000\nCHAPTER01NAME=A\nCHAPTER02=00:00:10.000\nCHAPTER02NAME=B\n"
     "CHAPTER03=00:02:00.000\nCHAPTER03NAME=A\nCHAPTER04=00:02:10.000\nCHAPTER04NAME=B\n",
     "chapcat: a.vtt: starts at 00:00:00.000000, lasts 00:02:00.000000 (the latest end of its "
     "cues), 2 chapters\n"
     "chapcat: a.vtt: starts at 00:02:00.000000, lasts 00:02:00.000000 (the latest end of its "
     "cues), 2 chapters\n",
     0},
    {"DelaysInEveryForm",
     {{"f", tenMinutes}},
     {"-d=20.039", "f", "-d=1:05.5", "-d=-00:00:01", "f"},
     named("CHAPTER01=00:00:20.039\nCHAPTER02=00:10:20.039\n"
           "CHAPTER03=00:11:24.539\nCHAPTER04=00:21:24.539\n"),
     "",
     0},
    {"DelaysPastTheRange",
     {{"a", part}},
     {"-d=2000000000000:00:00.000", "a", "-d=2000000000000:00:00.000", "a"},
     "",
     "chapcat: delays out of range at '-d=2000000000000:00:00.000'\n" + tryHelp,
     2},
    {"MalformedTimeLineSkipped",
     {{"bad", named("CHAPTER01=00:00:01.000\nCHAPTER02=soon\nCHAPTER03=00:00:03.000\n")}},
     {"bad"},
     named("CHAPTER01=00:00:01.000\n") + "CHAPTER02NAME=x\n" + named("CHAPTER03=00:00:03.000\n"),
     "chapcat: bad:3: malformed chapter time; line skipped\n"
     "chapcat: bad:4: chapter 02 has a name line but no time line\n",
     1},
    {"TimeOutOfRange",
     {{"a", "CHAPTER01=2562047788015:00:00.000\n"}},
     {"-d=1000:00:00.000", "a"},
     "",
     "chapcat: a:1: chapter time out of range; line skipped\n",
     1},
    {"ChapterNumberOutOfRange",
     {{"a", "CHAPTER99999999999999999999NAME=x\n"}},
     {"a"},
     "",
     "chapcat: a:1: chapter number out of range; line skipped\n",
     1},
    {"ChapterBeforeZeroIsWrittenButFails",
     {{"a", named("CHAPTER01=00:00:10.000\nCHAPTER02=00:00:30.000\n")}},
     {"-d=-20", "a"},
     named("CHAPTER01=-00:00:10.000\nCHAPTER02=00:00:10.000\n"),
     "chapcat: a:1: chapter 01 starts at -00:00:10.000, before 00:00:00.000, which muxers "
     "reject\n",
     1},
    {"ChapterNotAfterTheOneBefore",
     {{"a", named("CHAPTER01=00:05:00.000\nCHAPTER02=00:05:00.000\nCHAPTER03=00:01:00.000\n")}},
     {"a"},
     named("CHAPTER01=00:05:00.000\nCHAPTER02=00:05:00.000\nCHAPTER03=00:01:00.000\n"),
     "chapcat: a:3: chapter 02 (00:05:00.000) does not start after chapter 01 (00:05:00.000)\n"
     "chapcat: a:5: chapter 03 (00:01:00.000) does not start after chapter 02 (00:05:00.000)\n",
     0},
    {"NameAndTimePairInEitherOrder",
     {{"a", "CHAPTER01NAME=A\nCHAPTER01=00:00:00.000\n\n# B\nCHAPTER02=00:01:00.000\n"
            "CHAPTER02NAME=B\nCHAPTER03=00:02:00.000\nCHAPTER04NAME=D\n"}},
     {"a"},
     "CHAPTER01NAME=A\nCHAPTER01=00:00:00.000\nCHAPTER02=00:01:00.000\nCHAPTER02NAME=B\n"
     "CHAPTER03=00:02:00.000\nCHAPTER04NAME=D\n",
     "chapcat: a:7: chapter 03 has a time line but no name line\n"
     "chapcat: a:8: chapter 04 has a name line but no time line\n",
     0},
    {"DirectoryIsAReadError",
     {{"a", part}},
     {"a", ".", "a"},
     part,
     "chapcat: .: Is a directory\n",
     1},
};
INSTANTIATE_TEST_SUITE_P(Failures, Cli, testing::ValuesIn(failureCases),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(CliOutput, FlushedBeforeEachMessage) {
    ScratchDir dir;
    dir.write("bad", "CHAPTER01=00:00:01.000\nCHAPTER02=soon\nCHAPTER03=00:00:03.000\n");
    const ToolRun run = runTool(dir, {"bad", "missing"}, StdoutTo::merged);
    EXPECT_EQ(run.err, "CHAPTER01=00:00:01.000\n"
                       "chapcat: bad:1: chapter 01 has a time line but no name line\n"
                       "chapcat: bad:2: malformed chapter time; line skipped\n"
                       "CHAPTER03=00:00:03.000\n"
                       "chapcat: bad:3: chapter 03 has a time line but no name line\n"
                       "Failed to open \"missing\".\n");
    EXPECT_EQ(run.status, 1);
}

} // namespace

namespace {

TEST(Examples, MergeBothWaysAsTheReadmeShows) {
    ScratchDir dir;
    const std::filesystem::path examples = CHAPCAT_SOURCE_DIR "/examples";
    const std::vector<std::vector<std::string>> ways = {
        {examples / "part1.txt", "-d=00:02:32.900", examples / "part2.txt", "-d=00:09:15.000",
         examples / "part3.txt"},
        {"--length=1450.000000", examples / "part1.txt", "--length=1280.000000",
         examples / "part2.txt", examples / "part3.txt"},
    };
    for (const auto& args : ways) {
        const ToolRun run = runTool(dir, args);
        EXPECT_EQ(run.out, readWhole(examples / "merged.txt")) << args[0];
        EXPECT_EQ(run.err, "") << args[0];
        EXPECT_EQ(run.status, 0) << args[0];
    }
}

} // namespace

namespace {

// An option as roff writes it, each '-' as '\-'.
std::string roffEscaped(const std::string& option) {
    std::string escaped;
    for (char c : option)
        escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    return escaped;
}

TEST(Help, ListsEveryOptionAndReadsNoFile) {
    ScratchDir dir;
    const ToolRun run = runTool(dir, {"missing", "-d=bad", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.starts_with("Usage: chapcat")) << run.out;
    const std::string manual = readWhole(CHAPCAT_SOURCE_DIR "/chapcat.1");
    for (const std::string option :
         {"-d=", "--length=", "--format=", "-p", "-t", "-n", "--files-from=", "--files0-from=",
          "--part-chapters", "--keep=", "--cut=", "--join=", "--verbose", "--help", "--version"}) {
        EXPECT_NE(run.out.find("\n  " + option), std::string::npos) << option;
        const std::string escaped = roffEscaped(option);
        EXPECT_TRUE(manual.find("\n.B " + escaped + "\n") != std::string::npos ||
                    manual.find("\n.BI " + escaped + " ") != std::string::npos ||
                    manual.find("\n.BR " + escaped + " ") != std::string::npos)
            << option;
    }
}

TEST(Help, VersionReadsNoFile) {
    ScratchDir dir;
    const ToolRun run = runTool(dir, {"--version", "missing"});
    EXPECT_EQ(run.out, "chapcat " CHAPCAT_VERSION "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST(Help, OnlyTheExactWordsCount) {
    ScratchDir dir;
    dir.write("a", part);
    const ToolRun run = runTool(dir, {"-h", "-V", "a"});
    EXPECT_EQ(run.out, part);
    EXPECT_EQ(run.status, 0);
}

// What a command printed on standard output.
std::string outputOf(const std::string& command) {
    std::string out;
    FILE* const pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
        out += chunk;
    pclose(pipe);
    return out;
}

// The bash completion names the formats itself: it must offer those of the writers' table, after
// '--format=' as readline splits it and after '--format' and a space.
TEST(Completion, OffersTheWritersFormats) {
    std::string names;
    for (const Writer* writer : writers()) {
        if (!names.empty())
            names += ' ';
        names += writer->name;
    }
    for (const std::string words : {"chapcat --format =", "chapcat --format \"\""}) {
        const std::string script = "source \"$1\"; COMP_WORDS=(" + words +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _chapcat; "
                                   "echo \"${COMPREPLY[*]}\"";
        EXPECT_EQ(outputOf("bash -c '" + script +
                           "' _ \"" CHAPCAT_SOURCE_DIR "/packaging/chapcat.bash-completion\""),
                  names + "\n")
            << words;
    }
}

} // namespace
