#!/usr/bin/env bash
# Joins real parts by the chapters their muxers give back: Matroska chapters XML from mkvextract
# and FFmpeg metadata from ffmpeg (global tags, two time bases). Muxes each joined list back and
# checks every chapter's start and title against what the muxers make of the same join; then
# checks that a join of mixed formats reads each file as its own format. Exits 77 (skipped)
# without ffmpeg or mkvtoolnix.
# Usage: formats_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$1
source "$(dirname "$0")/scratch.sh"
need "ffmpeg mkvtoolnix" ffmpeg ffprobe mkvmerge mkvextract
enter_scratch

# Each part's own chapters, from 00:00:00.000, with titles a muxer has to escape.
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Anfang\nCHAPTER02=00:00:01.250\nCHAPTER02NAME=a=b;c#d\\e <&>\n' \
    > one.txt
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Zweiter Teil – é\n' > two.txt
printf 'CHAPTER01=00:00:00.500\nCHAPTER01NAME=Schluss 終\nCHAPTER02=00:00:01.000\nCHAPTER02NAME=Ende\n' \
    > three.txt
parts=(one:3.2 two:2.54 three:1.9)

duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }

# One line per chapter, 'time<TAB>name', from mkvextract's simple format.
simple_chapters() {
    awk '/^CHAPTER[0-9]+=/     { time = substr($0, index($0, "=") + 1) }
         /^CHAPTER[0-9]+NAME=/ { print time "\t" substr($0, index($0, "=") + 1) }' "$1"
}

# One line per chapter, 'start<TAB>title', start in seconds as ffprobe prints it.
probed_chapters() {
    ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of default=nw=1 "$1" |
        awk -F= '{ key = $1; sub(/^[^=]*=/, "") }
                 key == "start_time" { start = $0 } key == "TAG:title" { print start "\t" $0 }'
}

# Matroska: parts with chapters muxed by mkvmerge, their chapters extracted as XML, joined by the
# parts' lengths and muxed onto the joined video; mkvmerge's own append is the reference.
xml_args=()
appended=()
no_chapters=()
for i in "${!parts[@]}"; do
    chapters=${parts[i]%:*} seconds=${parts[i]#*:}
    mkv_part "$i" "$seconds" "$chapters.txt"
    mkvextract "part$i.mkv" chapters "part$i.xml" > /dev/null
    xml_args+=("--length=$(duration "part$i.mkv")" "part$i.xml")
    appended+=(${appended:++} "part$i.mkv")
    no_chapters+=(${no_chapters:++} --no-chapters "part$i.mkv")
done
"$chapcat" --format=matroska "${xml_args[@]}" > joined.xml 2> warnings.txt
mkvmerge -q -o whole.mkv --chapters joined.xml "${no_chapters[@]}"
mkvmerge -q -o appended.mkv "${appended[@]}"
mkvextract whole.mkv chapters --simple --output-charset UTF-8 whole.txt > /dev/null
mkvextract appended.mkv chapters --simple --output-charset UTF-8 appended.txt > /dev/null
if ! diff <(simple_chapters appended.txt) <(simple_chapters whole.txt) || [ -s warnings.txt ]; then
    cat warnings.txt
    echo "FAILED: Matroska XML joined (${xml_args[*]}) differs from mkvmerge's append"
    exit 1
fi
echo "ok: $(grep -c NAME= whole.txt) chapters of ${#parts[@]} parts joined from mkvextract's XML"

# FFmpeg metadata: MP4 parts with chapters and global tags, their metadata extracted by ffmpeg
# (the second part's through Matroska, for a time base of nanoseconds rather than milliseconds),
# joined by the parts' lengths and put on the concatenated MP4 with -map_chapters.
meta_args=() mp4s=()
offset=0
: > expected.txt
for i in "${!parts[@]}"; do
    chapters=${parts[i]%:*} seconds=${parts[i]#*:}
    "$chapcat" --format=ffmetadata "$chapters.txt" > "chapters$i.txt"
    ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=25:duration=$seconds" \
        -c:v libx264 -pix_fmt yuv420p "raw$i.mp4"
    ffmpeg -v error -y -i "raw$i.mp4" -i "chapters$i.txt" -map 0 -map_chapters 1 -c copy \
        -metadata title="Teil $i = ein Stück; #$i" "part$i.mp4"
    if ((i == 1)); then
        ffmpeg -v error -y -i "part$i.mp4" -map 0:v -c copy "part$i.mkv"
        ffmpeg -v error -y -i "part$i.mkv" -f ffmetadata "part$i.meta"
    else
        ffmpeg -v error -y -i "part$i.mp4" -f ffmetadata "part$i.meta"
    fi
    mp4s+=("part$i.mp4")
    length=$(duration "part$i.mp4")
    meta_args+=("--length=$length" "part$i.meta")
    # Where ffmpeg's concat demuxer puts the part's own chapters.
    probed_chapters "part$i.mp4" |
        awk -F'\t' -v offset="$offset" '{ printf "%.3f\t%s\n", offset + $1, $2 }' >> expected.txt
    offset=$(awk -v a="$offset" -v b="$length" 'BEGIN { printf "%.3f", a + b }')
done
if ! grep -q '^TIMEBASE=1/1000$' part0.meta || ! grep -q '^TIMEBASE=1/1000000000$' part1.meta ||
    ! grep -q '^title=Teil 0 \\= ein Stück\\; \\#0$' part0.meta; then
    echo "FAILED: ffmpeg's metadata lacks the time bases or global tags this test needs"
    exit 1
fi
"$chapcat" --format=ffmetadata "${meta_args[@]}" > joined.meta 2> warnings.txt
join_mp4 whole.mp4 joined.meta "${mp4s[@]}"
if ! diff expected.txt <(probed_chapters whole.mp4 | awk -F'\t' '{ printf "%.3f\t%s\n", $1, $2 }') ||
    [ -s warnings.txt ]; then
    cat warnings.txt
    echo "FAILED: FFmpeg metadata joined (${meta_args[*]}) differs from the parts' own chapters"
    exit 1
fi
echo "ok: $(wc -l < expected.txt) chapters of ${#parts[@]} MP4 parts joined from ffmpeg's metadata"

# One join of the three formats reads each file as its own: the same list as the simple files'.
"$chapcat" --length=3.2 part0.xml --length=2.56 part1.meta three.txt > mixed.txt
"$chapcat" --length=3.2 one.txt --length=2.56 two.txt three.txt > simple.txt
if ! diff simple.txt mixed.txt; then
    echo "FAILED: a join of Matroska XML, FFmpeg metadata and the simple format differs"
    exit 1
fi
echo "ok: a join of mixed formats reads each as its own"
