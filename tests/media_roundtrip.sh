#!/usr/bin/env bash
# Gives chapcat real media parts made with ffmpeg, each with chapters and a length that is no
# whole number of frames, and checks the joined list where the muxers put the parts:
#  - MP4: chapcat's FFmpeg metadata on a join by the concat demuxer puts every chapter where its
#    part starts in the joined file (its first frame) plus its own time, to the millisecond;
#  - Matroska: chapcat's chapters XML on a join by mkvmerge's append lies within 1 ms of
#    mkvmerge's own merge of the parts' chapters (the largest difference is printed; twelve
#    parts: mkv_append_roundtrip.sh);
#  - a media part, an empty file with --length= and a text part, with --part-chapters;
#  - what chapcat says where the media is on standard input (where libavformat cannot be
#    loaded: media_source_test).
# Exits 77 (skipped) without ffmpeg, or without mkvtoolnix once the rest has passed.
# Usage: media_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$(realpath "$1")
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg ffprobe
enter_scratch

fail() {
    echo "FAILED: $*"
    exit 1
}

# Each part: seconds of video at 23.976 frames a second, audio 0.1 s longer, and its chapters.
seconds=(3.2 2.54 1.9)
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1250\ntitle=Anfang\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1250\nEND=3000\ntitle=a=b;c#d\\\\e\n' \
    > chapters1.txt
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=700\ntitle=Zweiter Teil – é\n[CHAPTER]\nTIMEBASE=1/90000\nSTART=63045\nEND=180000\ntitle=Halb\n' \
    > chapters2.txt
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1900\ntitle=Schluss 終\n' \
    > chapters3.txt
for i in 1 2 3; do
    video=${seconds[i - 1]} audio=$(awk -v s="${seconds[i - 1]}" 'BEGIN { print s + 0.1 }')
    ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=24000/1001:duration=$video" \
        -f lavfi -i "sine=duration=$audio" -i "chapters$i.txt" -map 0 -map 1 -map_metadata 2 \
        -map_chapters 2 -c:v libx264 -c:a aac "p$i.mp4"
done

said=$("$chapcat" p1.mp4 2>&1 > /dev/null || true)
if [[ $said == *"built with libavformat"* ]]; then
    echo "SKIPPED: chapcat was built without libavformat (apt-get install libavformat-dev)"
    exit 77
fi

# 'start<TAB>title' of each chapter, start in seconds, as ffprobe reads them.
probed_chapters() {
    ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of default=nw=1 "$1" |
        awk -F= '{ key = $1; sub(/^[^=]*=/, "") }
                 key == "start_time" { start = $0 } key == "TAG:title" { print start "\t" $0 }'
}

# Presentation times of the video frames of a file, in order.
frame_times() {
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" |
        tr -d , | sort -g
}

# (a) MP4 parts joined by the concat demuxer, chapcat's list attached with -map_chapters.
"$chapcat" --format=ffmetadata p1.mp4 p2.mp4 p3.mp4 > chapters.txt ||
    fail "chapcat --format=ffmetadata p1.mp4 p2.mp4 p3.mp4"
join_mp4 joined.mp4 chapters.txt p1.mp4 p2.mp4 p3.mp4
frame_times joined.mp4 > joined-frames.txt
# Where each part's first frame is in the joined file: after the frames of the parts before.
: > expected.txt
frames=0
for i in 1 2 3; do
    start=$(sed -n "$((frames + 1))p" joined-frames.txt)
    probed_chapters "p$i.mp4" | awk -F'\t' -v start="$start" '{ printf "%.6f\t%s\n", start + $1, $2 }' \
        >> expected.txt
    frames=$((frames + $(frame_times "p$i.mp4" | wc -l)))
done
# The joined file may start its video late (ffmpeg keeps the AAC priming of the first part as
# audio before it), and the chapters count from the file's start, not the video's.
origin=$(head -1 joined-frames.txt)
probed_chapters joined.mp4 > joined.txt
if ! awk -F'\t' -v origin="$origin" '
        NR == FNR { start[FNR] = $1; title[FNR] = $2; count = FNR; next }
        { want = start[FNR] - origin; off = $1 - want; if (off < 0) off = -off
          if (off >= 0.001 || $2 != title[FNR]) {
              printf "chapter %d: %s \"%s\", expected %.6f \"%s\"\n", FNR, $1, $2, want, title[FNR]; bad = 1 } }
        END { exit bad || FNR != count }' expected.txt joined.txt; then
    cat chapters.txt
    fail "MP4 join: chapters are not where their parts start plus their own times"
fi
echo "ok: MP4 join by the concat demuxer: $(wc -l < joined.txt) chapters where their parts start" \
    "(the video starts ${origin} s into the joined file)"

# (c) A media part without chapters, an empty part of a given length and a text part.
mkdir sub
ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=24000/1001:duration=1.3" \
    -f lavfi -i "sine=duration=1.37" -c:v libx264 -c:a aac sub/plain.mp4
: > gap.txt
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Eins\nCHAPTER02=00:00:01.000\nCHAPTER02NAME=Zwei\n' \
    > text.txt
"$chapcat" --join=ffmpeg --part-chapters sub/plain.mp4 --length=2.5 gap.txt text.txt > mixed.txt 2> mixed.err ||
    fail "mixed run: $(cat mixed.err)"
ffprobe -v error -show_entries format=duration -of csv=p=0 sub/plain.mp4 |
    awk 'function time(ms) { return sprintf("%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60,
                                            ms / 1000 % 60, ms % 1000) }
         { split($1, s, "."); length_ms = int((s[1] * 1000000 + substr(s[2] "000000", 1, 6) + 500) / 1000)
           n = split("0 plain " length_ms " gap " length_ms + 2500 " Eins " length_ms + 3500 " Zwei", f, " ")
           for (i = 1; i < n; i += 2)
               printf "CHAPTER%02d=%s\nCHAPTER%02dNAME=%s\n", (i + 1) / 2, time(f[i]), (i + 1) / 2, f[i + 1] }' \
        > mixed-expected.txt
if ! diff mixed-expected.txt mixed.txt || [ -s mixed.err ]; then
    cat mixed.err
    fail "mixed run of a media part, an empty part with --length= and a text part"
fi
echo "ok: a media part, an empty part and a text part, with --part-chapters"

status=0
"$chapcat" - < p1.mp4 > stdin.out 2> stdin.err || status=$?
if [ "$status" != 1 ] || ! grep -qF "media on standard input cannot be read" stdin.err; then
    cat stdin.err
    fail "media on standard input: status $status, expected 1 and to name the file"
fi
echo "ok: says to name the file for standard input"

# (b) The same parts as Matroska, joined by mkvmerge's append.
if ! command -v mkvmerge > /dev/null || ! command -v mkvextract > /dev/null; then
    echo "SKIPPED: Matroska join: mkvtoolnix is not installed"
    exit 77
fi
for i in 1 2 3; do
    ffmpeg -v error -y -i "p$i.mp4" -map 0:v -map 0:a -c copy "p$i.mkv"
done
"$chapcat" --format=matroska p1.mkv p2.mkv p3.mkv > chapters.xml ||
    fail "chapcat --format=matroska p1.mkv p2.mkv p3.mkv"
mkvmerge -q -o ours.mkv --chapters chapters.xml --no-chapters p1.mkv + --no-chapters p2.mkv + \
    --no-chapters p3.mkv
mkvmerge -q -o theirs.mkv p1.mkv + p2.mkv + p3.mkv
frame=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 p1.mkv)
mkv_chapters() {
    mkvextract "$1" chapters "$1.xml" > /dev/null
    awk '/<ChapterTimeStart>/ { sub(/.*<ChapterTimeStart>/, ""); sub(/<.*/, ""); split($0, t, ":")
                                start = t[1] * 3600 + t[2] * 60 + t[3] }
         /<ChapterString>/    { sub(/.*<ChapterString>/, ""); sub(/<.*/, ""); print start "\t" $0 }' \
        "$1.xml"
}
if ! awk -F'\t' -v frame="$frame" '
        BEGIN { split(frame, f, "/"); frame = f[2] / f[1] }
        NR == FNR { start[FNR] = $1; title[FNR] = $2; count = FNR; next }
        { off = $1 - start[FNR]; if (off < 0) off = -off; if (off > largest) largest = off
          if (off >= 0.001 || $2 != title[FNR]) {
              printf "chapter %d: %s \"%s\", mkvmerge %s \"%s\"\n", FNR, $1, $2, start[FNR], title[FNR]; bad = 1 } }
        END { printf "largest difference from mkvmerge: %.3f ms (a frame is %.3f ms)\n",
                     largest * 1000, frame * 1000
              exit bad || FNR != count }' <(mkv_chapters theirs.mkv) <(mkv_chapters ours.mkv); then
    cat chapters.xml
    fail "Matroska join: chapters 1 ms or more from mkvmerge's own merge"
fi
echo "ok: Matroska join by mkvmerge's append: $(grep -c '<ChapterAtom>' chapters.xml) chapters" \
    "within 1 ms of mkvmerge's merge"
