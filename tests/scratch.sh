# Sourced by the tests' scripts: the tools a script needs, and a scratch folder to work in.

# Exits 77, which ctest counts as skipped, unless every TOOL is installed.
# Usage: need "PACKAGE..." TOOL...
need() {
    local packages=$1 tool
    shift
    for tool; do
        command -v "$tool" > /dev/null && continue
        echo "SKIPPED: $tool is not installed (apt-get install --no-install-recommends $packages)"
        exit 77
    done
}

# Says why the script failed, and fails.
fail() {
    echo "FAILED: $*"
    exit 1
}

# Makes a fresh folder, $work, removed at exit, the current folder.
enter_scratch() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cd "$work"
    export LC_ALL=C.UTF-8
}

# Joins the MP4 files PART... into OUT with ffmpeg's concat demuxer, their streams copied, with
# the chapters of the FFmpeg metadata file CHAPTERS where that is not empty.
# Usage: join_mp4 OUT CHAPTERS PART...
join_mp4() {
    local out=$1 chapters=$2 part
    shift 2
    for part; do echo "file '$part'"; done > "$out.parts"
    local with_chapters=()
    [ -z "$chapters" ] || with_chapters=(-i "$chapters" -map 0 -map_chapters 1)
    ffmpeg -v error -y -f concat -safe 0 -i "$out.parts" "${with_chapters[@]}" -c copy "$out"
}

# Makes part$i.mkv: SECONDS of video and audio (an odd length, as real parts have) with the
# chapters of the simple file CHAPTERS, muxed by mkvmerge.
# Usage: mkv_part I SECONDS CHAPTERS
mkv_part() {
    ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=25:duration=$2" \
        -f lavfi -i "sine=duration=$2" -c:v libx264 -c:a aac -shortest "raw$1.mkv"
    mkvmerge -q -o "part$1.mkv" --chapter-charset UTF-8 --chapters "$3" "raw$1.mkv"
}

# The chapters of a Matroska file as "START<tab>TITLE" lines, START in seconds.
mkv_chapters() {
    mkvextract "$1" chapters "$1.xml" > /dev/null
    chapter_lines "$1.xml"
}
chapter_lines() {
    awk '/<ChapterTimeStart>/ { sub(/.*<ChapterTimeStart>/, ""); sub(/<.*/, ""); split($0, t, ":")
                                start = t[1] * 3600 + t[2] * 60 + t[3] }
         /<ChapterString>/    { sub(/.*<ChapterString>/, ""); sub(/<.*/, ""); print start "\t" $0 }' "$1"
}
# Compares two chapter lists: the same titles, starts within 1 ms. Prints the largest difference.
within_a_millisecond() {
    awk -F'\t' -v what="$3" '
        NR == FNR { start[FNR] = $1; title[FNR] = $2; count = FNR; next }
        { off = $1 - start[FNR]; if (off < 0) off = -off; if (off > largest) largest = off
          if (off >= 0.001 || $2 != title[FNR]) {
              printf "chapter %d: %s \"%s\", mkvmerge %s \"%s\"\n", FNR, $1, $2, start[FNR], title[FNR]
              bad = 1 } }
        END { printf "%s: %d chapters, largest difference from mkvmerge %.3f ms\n", what, FNR,
                     largest * 1000
              exit bad || FNR != count }' "$1" "$2"
}
