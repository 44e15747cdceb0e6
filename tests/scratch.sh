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
