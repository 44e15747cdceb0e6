#!/usr/bin/env bash
# Joins three small videos made with ffmpeg with its concat demuxer, attaches chapcat's FFmpeg
# metadata to the joined MP4 with -map_chapters, and checks every chapter's start, end and title
# as ffprobe reads them back. Exits 77 (skipped) without ffmpeg.
# Usage: ffmetadata_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$1
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg ffprobe
enter_scratch

printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Anfang\nCHAPTER02=00:00:01.250\nCHAPTER02NAME=a=b;c#d\\e\n' \
    > one.txt
printf 'CHAPTER01NAME=Zweiter Teil – é\nCHAPTER01=00:00:00.000\n' > two.txt
printf 'CHAPTER01=00:00:00.500\nCHAPTER01NAME=Schluss 終\n' > three.txt
args=(--format=ffmetadata)
for part in one:2 two:1.6 three:2.4; do
    name=${part%:*} seconds=${part#*:}
    ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=25:duration=$seconds" \
        -c:v libx264 -pix_fmt yuv420p "$name.mp4"
    args+=("--length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$name.mp4")"
           "$name.txt")
done
join_mp4 joined.mp4 "" one.mp4 two.mp4 three.mp4
"$chapcat" "${args[@]}" > chapters.txt
ffmpeg -v error -y -i joined.mp4 -i chapters.txt -map 0 -map_chapters 1 -c copy out.mp4

# start, end and title of each chapter, in seconds, as ffprobe reads them.
ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title -of default=nw=1 \
    out.mp4 |
    awk -F= '{ key = $1; sub(/^[^=]*=/, "") }
             key == "start_time" { start = $0 } key == "end_time" { end = $0 }
             key == "TAG:title" { print start, end, $0 }' > read-back.txt
cat > expected.txt << 'END'
0.000000 1.250000 Anfang
1.250000 2.000000 a=b;c#d\e
2.000000 4.100000 Zweiter Teil – é
4.100000 6.000000 Schluss 終
END
if ! diff expected.txt read-back.txt; then
    echo "FAILED: chapters read back by ffprobe differ (chapcat ${args[*]})"
    cat chapters.txt
    exit 1
fi
echo "ok: $(wc -l < expected.txt) chapters of 3 joined parts read back by ffprobe"
