#!/usr/bin/env bash
# Joins twelve Matroska parts with mkvmerge's append, each with audio and video, a length that is
# no whole number of frames and chapters of its own, once as ffmpeg muxes them and once as
# mkvmerge does, and checks that chapcat's list (--join=mkvmerge, the default for matroska) lies
# within 1 ms of the chapters mkvmerge writes itself, and that the README's recipe, mkvmerge
# --chapters with chapcat's list, puts them there.
# Exits 77 (skipped) without ffmpeg or mkvtoolnix.
# Usage: mkv_append_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$(realpath "$1")
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg
need mkvtoolnix mkvmerge mkvextract
enter_scratch

parts=()
for i in $(seq 1 12); do
    video=$(awk -v i="$i" 'BEGIN { printf "%.3f", 1.07 + 0.113 * i }')
    printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=400\ntitle=Teil %d\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=400\nEND=900\ntitle=Mitte %d\n' \
        "$i" "$i" > "c$i.txt"
    ffmpeg -v error -y -f lavfi -i "testsrc=size=64x48:rate=25:duration=$video" \
        -f lavfi -i "sine=duration=$video:sample_rate=48000" -i "c$i.txt" -map 0 -map 1 \
        -map_chapters 2 -c:v libx264 -preset ultrafast -c:a aac "f$i.mkv"
    mkvmerge -q -o "m$i.mkv" "f$i.mkv"
    parts+=("$i")
done

for muxer in f m; do
    names=() appended=()
    for i in "${parts[@]}"; do
        names+=("$muxer$i.mkv")
        appended+=(${appended:++} "$muxer$i.mkv")
    done
    mkvmerge -q -o "theirs-$muxer.mkv" "${appended[@]}"
    "$chapcat" --format=matroska "${names[@]}" > "ours-$muxer.xml" ||
        fail "chapcat --format=matroska on the parts muxed by ${muxer/f/ffmpeg}"
    mkv_chapters "theirs-$muxer.mkv" > "theirs-$muxer.txt"
    chapter_lines "ours-$muxer.xml" > "ours-$muxer.txt"
    within_a_millisecond "theirs-$muxer.txt" "ours-$muxer.txt" "list, parts muxed by $muxer" ||
        fail "chapcat's list is not where mkvmerge puts the chapters"
    # The README's recipe: the parts appended without their chapters, chapcat's list instead.
    recipe=()
    for name in "${names[@]}"; do recipe+=(${recipe:++} --no-chapters "$name"); done
    mkvmerge -q -o "recipe-$muxer.mkv" --chapters "ours-$muxer.xml" "${recipe[@]}"
    mkv_chapters "recipe-$muxer.mkv" > "recipe-$muxer.txt"
    within_a_millisecond "theirs-$muxer.txt" "recipe-$muxer.txt" "recipe, parts muxed by $muxer" ||
        fail "the recipe does not put the chapters where mkvmerge does"
done
