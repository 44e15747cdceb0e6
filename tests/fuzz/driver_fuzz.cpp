// Fuzzes the whole run: arbitrary options and file contents must never crash, and what is
// written must be well-formed in its format: chapter lines, FFmpeg metadata, XML text that is
// valid UTF-8 of characters XML allows, WebVTT cues, a CUE sheet, or JSON that a strict reader
// takes.
#include "run.hpp"
#include "utf.hpp"

#include <fuzzer/FuzzedDataProvider.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

int memoryFile(const std::string& content) {
    const int fd = memfd_create("chapcat-fuzz", 0);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        std::abort();
    return fd;
}

std::string contentOf(int fd) {
    std::string content(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size()))
        std::abort();
    return content;
}

bool isDigits(std::string_view text, std::size_t atLeast) {
    if (text.size() < atLeast)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// 'CHAPTERnn=HH:MM:SS.mmm' or 'CHAPTERnnNAME=title', numbers signed and at least two wide.
bool isChapterLine(std::string_view line) {
    if (!line.starts_with("CHAPTER") || line.find('\r') != std::string_view::npos)
        return false;
    line.remove_prefix(7);
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    auto number = line.substr(0, equals);
    const bool name = number.ends_with("NAME");
    if (name)
        number.remove_suffix(4);
    if (number.starts_with('-'))
        number.remove_prefix(1);
    if (!isDigits(number, number.size() == 1 ? 1 : 2) || (number.size() == 1 && line[0] != '-'))
        return false;
    if (name)
        return true;
    auto time = line.substr(equals + 1);
    if (time.starts_with('-'))
        time.remove_prefix(1);
    const auto colon = time.find(':');
    return colon != std::string_view::npos && isDigits(time.substr(0, colon), 2) &&
           time.size() == colon + 10 && time[colon + 3] == ':' && time[colon + 6] == '.' &&
           isDigits(time.substr(colon + 1, 2), 2) && isDigits(time.substr(colon + 4, 2), 2) &&
           isDigits(time.substr(colon + 7, 3), 3);
}

// Every line after the header is a key of a chapter, and a title escapes what it must.
bool isFfmetadata(std::string_view text) {
    if (!text.starts_with(";FFMETADATA1\n"))
        return false;
    text.remove_prefix(13);
    for (std::size_t end; !text.empty(); text.remove_prefix(end + 1)) {
        end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line == "[CHAPTER]" || line == "TIMEBASE=1/1000")
            continue;
        if (line.starts_with("START=") || line.starts_with("END=")) {
            line.remove_prefix(line.find('=') + 1);
            if (line.starts_with('-'))
                line.remove_prefix(1);
            if (!isDigits(line, 1))
                return false;
            continue;
        }
        if (!line.starts_with("title="))
            return false;
        // A title runs to the first newline that no backslash escapes; it holds no NUL.
        end = 6;
        for (; end < text.size() && text[end] != '\n'; ++end) {
            const bool special =
                std::string_view("=;#\\\0", 5).find(text[end]) != std::string_view::npos;
            if (text[end] == '\\' && end + 1 < text.size())
                ++end;
            else if (special)
                return false;
        }
    }
    return true;
}

// Valid UTF-8 throughout, of characters XML 1.0 allows, ending as a document does.
bool isXmlText(std::string_view text) {
    if (!text.ends_with("</Chapters>\n"))
        return false;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Character next = decodeUtf8(text.substr(i));
        if (!next.valid || !isXmlCharacter(next.value))
            return false;
        i += next.size;
    }
    return true;
}

// A concat script: a file line for each part or range, each with its in and out points.
bool isConcatScript(std::string_view text) {
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find('\n', start);
        const std::string_view line = text.substr(start, end - start);
        if (!line.starts_with("file '") && !line.starts_with("inpoint ") &&
            !line.starts_with("outpoint "))
            return false;
        start = end + 1;
    }
    return true;
}

// 'HH:MM:SS.mmm --> HH:MM:SS.mmm', hours at least two wide, a time before zero signed.
bool isCueTiming(std::string_view line) {
    const auto time = [&line] {
        line.remove_prefix(line.starts_with('-') ? 1 : 0);
        const auto colon = line.find(':');
        const bool ok = colon != std::string_view::npos && line.size() >= colon + 10 &&
                        isDigits(line.substr(0, colon), 2) && line[colon + 3] == ':' &&
                        line[colon + 6] == '.' && isDigits(line.substr(colon + 1, 2), 2) &&
                        isDigits(line.substr(colon + 4, 2), 2) &&
                        isDigits(line.substr(colon + 7, 3), 3);
        line.remove_prefix(ok ? colon + 10 : line.size());
        return ok;
    };
    if (!time() || !line.starts_with(" --> "))
        return false;
    line.remove_prefix(5);
    return time() && line.empty();
}

// After the signature, cues: a blank line, a timing line, then lines of text that hold no markup,
// no line break a reader would take otherwise, and no NUL.
bool isWebvtt(std::string_view text) {
    text.remove_prefix(7);          // 'WEBVTT\n'
    const auto nextLine = [&text] { // the text ends with a line break
        const std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(line.size() + 1);
        return line;
    };
    while (!text.empty()) {
        if (!nextLine().empty() || text.empty() || !isCueTiming(nextLine()))
            return false;
        while (!text.empty() && !text.starts_with('\n'))
            if (nextLine().find_first_of(std::string_view("<>\r\0", 4)) != std::string_view::npos)
                return false;
    }
    return true;
}

// A quoted CUE text: no quote, and no line break.
bool isCueText(std::string_view text) {
    return text.size() >= 2 && text.front() == '"' && text.back() == '"' &&
           text.substr(1, text.size() - 2).find_first_of("\"\r\n") == std::string_view::npos;
}

// FILE "name" TYPE, then each track's TRACK, TITLE where it has one, and INDEX 01 mm:ss:ff.
bool isCueSheet(std::string_view text) {
    for (std::size_t end, line = 0; !text.empty(); text.remove_prefix(end + 1), ++line) {
        end = text.find('\n');
        std::string_view at = text.substr(0, end);
        const auto rest = [&at](std::string_view start) {
            const bool starts = at.starts_with(start);
            at.remove_prefix(starts ? start.size() : 0);
            return starts;
        };
        const bool fits =
            line == 0 ? rest("FILE ") && at.find_last_of(' ') != std::string_view::npos &&
                            isCueText(at.substr(0, at.find_last_of(' ')))
            : rest("  TRACK ") ? at.ends_with(" AUDIO") && isDigits(at.substr(0, at.size() - 6), 2)
            : rest("    TITLE ") ? isCueText(at)
            : rest("    INDEX 01 ")
                ? at.size() >= 8 && at[at.size() - 3] == ':' && at[at.size() - 6] == ':' &&
                      isDigits(at.substr(0, at.size() - 6), 2) &&
                      isDigits(at.substr(at.size() - 5, 2), 2) &&
                      isDigits(at.substr(at.size() - 2), 2)
                : false;
        if (!fits)
            return false;
    }
    return true;
}

// JSON in UTF-8, as a strict reader takes it, ending with a line break.
bool isJson(std::string_view text) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    return text.ends_with("]}\n") &&
           !reader.Parse<rapidjson::kParseValidateEncodingFlag>(stream, handler).IsError();
}

// Output in the format it starts with, or chapter lines, ending with a line break.
bool isWellFormed(std::string_view output) {
    constexpr std::string_view concatHeader = "ffconcat version 1.0\n";
    if (!output.empty() && !output.ends_with('\n'))
        return false;
    if (output.starts_with(concatHeader))
        return isConcatScript(output.substr(concatHeader.size()));
    if (output.starts_with(";FFMETADATA1\n"))
        return isFfmetadata(output);
    if (output.starts_with("<?xml"))
        return isXmlText(output);
    if (output.starts_with("WEBVTT\n"))
        return isWebvtt(output);
    if (output.starts_with("FILE "))
        return isCueSheet(output);
    if (output.starts_with("{\"version\""))
        return isJson(output);
    for (std::size_t start = 0; start < output.size();) {
        const auto end = output.find('\n', start);
        if (!isChapterLine(output.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

constexpr const char* pickedOptions[] = {"-p",
                                         "-t",
                                         "-n",
                                         "-",
                                         "--",
                                         "-d",
                                         "-x",
                                         "--format=ffmetadata",
                                         "--format=matroska",
                                         "--help",
                                         "--version",
                                         "--length",
                                         "--format",
                                         "--part-chapters",
                                         "--verbose",
                                         "--format=ffconcat",
                                         "--format=webvtt",
                                         "--format=cue",
                                         "--cue-file",
                                         "--format=podcast-json"};

// Signatures that send a file to each source, so that each is reached.
constexpr const char* signatures[] = {
    "",
    "",
    ";FFMETADATA1\n[CHAPTER]\n",
    "\xEF\xBB\xBF;FFMETADATA1\ntitle=",
    "<?xml version=\"1.0\"?>\n<Chapters><EditionEntry><ChapterAtom><ChapterTimeStart>",
    "<Chapters><EditionEntry><EditionFlagDefault>1</EditionFlagDefault>",
    "WEBVTT\n\n00:00.000 --> ",
    "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 ",
    "{\"version\": \"1.2.0\", \"chapters\": [{\"startTime\": "};

// Options, and files whose contents the input gives (their descriptors added to FILES).
std::vector<std::string> arguments(FuzzedDataProvider& input, std::vector<int>& files) {
    std::vector<std::string> args;
    const int count = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        switch (input.ConsumeIntegralInRange(0, 9)) {
        case 0:
            args.push_back(input.PickValueInArray(pickedOptions));
            break;
        case 1:
            args.push_back("-d=" + input.ConsumeRandomLengthString(24));
            break;
        case 2:
            args.push_back(input.ConsumeRandomLengthString(8)); // mostly files that don't exist
            break;
        case 3:
            args.push_back("--length=" + input.ConsumeRandomLengthString(12));
            break;
        case 8:
            args.push_back("--keep=" + input.ConsumeRandomLengthString(16));
            break;
        case 9:
            args.push_back("--cut=" + input.ConsumeRandomLengthString(16));
            break;
        case 7:
            // A whole document, the rest of the input as it is: the seeds' media files, XML and
            // metadata reach every source's chapters.
            files.push_back(memoryFile(input.ConsumeRemainingBytesAsString()));
            args.push_back("/proc/self/fd/" + std::to_string(files.back()));
            break;
        default: {
            const std::string start = input.PickValueInArray(signatures);
            files.push_back(memoryFile(start + input.ConsumeRandomLengthString(4096)));
            args.push_back("/proc/self/fd/" + std::to_string(files.back()));
        }
        }
    }
    return args;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<int> files;
    const std::vector<std::string> args = arguments(input, files);

    // --help and --version answer without a list, but after -- they are files, as they are
    // where they are the value of --length or --format.
    std::vector<const char*> argv;
    bool optionsEnded = false;
    bool isValue = false;
    for (const auto& arg : args) {
        const std::string_view seen = arg.c_str(); // as the program sees it, up to a NUL
        if (optionsEnded || isValue || (seen != "--help" && seen != "--version"))
            argv.push_back(arg.c_str());
        optionsEnded = optionsEnded || (seen == "--" && !isValue);
        isValue = !optionsEnded && !isValue && (seen == "--length" || seen == "--format");
    }
    const int in = memoryFile(input.ConsumeRandomLengthString(256));
    const int out = memoryFile("");
    const int err = memoryFile("");
    lseek(in, 0, SEEK_SET);
    const int status = runChapcat(argv, {in, out, err});
    if (status < 0 || status > 2)
        std::abort();

    if (!isWellFormed(contentOf(out)))
        std::abort();
    close(in);
    close(out);
    close(err);
    for (int fd : files)
        close(fd);
    return 0;
}
