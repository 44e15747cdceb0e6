#!/usr/bin/env bash
# Cuts a 60 s Matroska part with chapters at 0, 10, 25 and 40 s and keyframes every 2 s with
# mkvmerge --split parts:A-B,+C-D, and checks that chapcat's list for the same ranges
# (--format=matroska --join=mkvmerge --keep=A-B --keep=C-D) lies within 1 ms of the chapters
# mkvmerge writes: ranges between keyframes, on them, and one to the end; the part muxed by
# mkvmerge, and by ffmpeg, whose AAC priming puts the keyframes 21 ms in, and with sound in frames
# of 128 ms, which a keyframe splits.
# Exits 77 (skipped) without ffmpeg or mkvtoolnix.
# Usage: cut_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$(realpath "$1")
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg
need mkvtoolnix mkvmerge mkvextract
enter_scratch

fail() {
    echo "FAILED: $*"
    exit 1
}

printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Anfang\nCHAPTER02=00:00:10.000\nCHAPTER02NAME=Zwei\nCHAPTER03=00:00:25.000\nCHAPTER03NAME=Drei\nCHAPTER04=00:00:40.000\nCHAPTER04NAME=Vier\n' \
    > chapters.txt
# The same chapters for ffmpeg, each to the next.
printf ';FFMETADATA1\n' > meta.txt
names=(Anfang Zwei Drei Vier) starts=(0 10 25 40 60)
for i in 0 1 2 3; do
    printf '[CHAPTER]\nTIMEBASE=1/1\nSTART=%d\nEND=%d\ntitle=%s\n' "${starts[i]}" "${starts[i + 1]}" \
        "${names[i]}"
done >> meta.txt
for rate in 48000 8000; do
    ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25:duration=60 \
        -f lavfi -i "sine=duration=60:sample_rate=$rate" -i meta.txt -map 0 -map 1 -map_chapters 2 \
        -c:v libx264 -preset ultrafast -g 50 -keyint_min 50 -sc_threshold 0 -c:a aac "f$rate.mkv"
    mkvmerge -q -o "m$rate.mkv" --chapter-charset UTF-8 --chapters chapters.txt --no-chapters \
        "f$rate.mkv"
done

# A range as mkvmerge's parts take it, and as chapcat's --keep does.
split_range() { sed 's/-/s-/; s/-$/-/; s/\([0-9]\)$/\1s/' <<< "$1"; }

for part in m48000 f48000 m8000 f8000; do
    for ranges in "5.5-20.3 30.7-50.1" "6-20 30-50" "0-20.3 54.5-" "3-13 17.9-"; do
        read -r first second <<< "$ranges"
        mkvmerge -q -o "cut-$part.mkv" --split "parts:$(split_range "$first"),+$(split_range "$second")" \
            "$part.mkv"
        "$chapcat" --format=matroska --join=mkvmerge "--keep=$first" "--keep=$second" "$part.mkv" \
            > "ours-$part.xml" || fail "chapcat --keep=$first --keep=$second $part.mkv"
        mkv_chapters "cut-$part.mkv" > "theirs-$part.txt"
        chapter_lines "ours-$part.xml" > "ours-$part.txt"
        within_a_millisecond "theirs-$part.txt" "ours-$part.txt" "$part.mkv, kept $ranges" ||
            fail "chapcat's list is not where mkvmerge's split puts the chapters"
    done
done
