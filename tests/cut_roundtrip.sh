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

# Parts cut and joined by ffmpeg's concat demuxer (-c copy) from chapcat's own ffconcat list, with
# chapcat's chapters: each chapter that starts in a kept range starts within 1 ms of where the
# frame it starts on is shown, into MP4 and into Matroska. The first part's ffmpeg starts at the
# packets before its inpoint.
need ffmpeg ffprobe

# Makes NAME.mp4: 20 s of the test pattern SOURCE (frames that all differ), keyframes every 2 s,
# with chapters titled "NAME START" at STARTS, in tenths of seconds.
# Usage: make_mp4 NAME SOURCE STARTS...
make_mp4() {
    local name=$1 source=$2
    shift 2
    local starts=("$@" 200) i
    {
        printf ';FFMETADATA1\n'
        for ((i = 0; i + 1 < ${#starts[@]}; i++)); do
            printf '[CHAPTER]\nTIMEBASE=1/10\nSTART=%d\nEND=%d\ntitle=%s %d\n' "${starts[i]}" \
                "${starts[i + 1]}" "$name" "${starts[i]}"
        done
    } > "$name.meta"
    ffmpeg -v error -y -f lavfi -i "$source=size=160x120:rate=25:duration=20" -f lavfi \
        -i sine=duration=20 -i "$name.meta" -map 0 -map 1 -map_chapters 2 -c:v libx264 \
        -preset ultrafast -g 50 -keyint_min 50 -sc_threshold 0 -c:a aac "$name.mp4"
}
# The decoded frames of FILE, as a player shows them: "PTS CHECKSUM" lines.
shown_frames() {
    ffmpeg -hide_banner -copyts -i "$1" -map 0:v:0 -vsync passthrough -vf showinfo -f null - 2>&1 |
        sed -n 's/.*pts_time:\([-0-9.e]*\).* checksum:\([0-9A-F]*\).*/\1 \2/p'
}

make_mp4 a testsrc 0 44 92 156
make_mp4 b testsrc2 0 32 88 140
for part in a b; do shown_frames "$part.mp4" | sed "s/^/$part /"; done > sources.txt
args=(--keep=3.3-12.1 a.mp4 --keep=1.5-10.5 --keep=13.1- b.mp4)
"$chapcat" --format=ffconcat "${args[@]}" > list.ffconcat || fail "chapcat --format=ffconcat"
"$chapcat" --format=ffmetadata "${args[@]}" > chapters.meta || fail "chapcat --format=ffmetadata"
for ext in mp4 mkv; do
    ffmpeg -v error -y -f concat -safe 0 -i list.ffconcat -i chapters.meta -map 0:v -map 0:a \
        -map_chapters 1 -c copy "joined.$ext" 2> /dev/null
    shown_frames "joined.$ext" > "joined-$ext.txt"
    ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of csv=p=0 \
        "joined.$ext" > "chapters-$ext.txt"
    # Chapters at a part's 0 start in a removed stretch: they start the range after it instead.
    awk -v what="joined.$ext" '
        FILENAME == "sources.txt" { frame[$1 " " $2 * 10] = $3; next }
        FILENAME ~ /^joined/      { if (!($2 in shown)) shown[$2] = $1; next }
        { split($2, t, " "); if (t[2] == 0) next
          ++checked; sum = frame[t[1] " " t[2]]
          if (!(sum in shown)) { printf "chapter \"%s\": its frame is not shown\n", $2; bad = 1; next }
          off = shown[sum] - $1; if (off < 0) off = -off; if (off > largest) largest = off
          if (off >= 0.001) { printf "chapter \"%s\" at %s, its frame shown at %s\n", $2, $1,
                                     shown[sum]; bad = 1 } }
        END { printf "%s: %d chapters, largest difference from their frames %.3f ms\n", what,
                     checked, largest * 1000
              exit bad || checked != 5 }' sources.txt "joined-$ext.txt" FS=, "chapters-$ext.txt" ||
        fail "chapcat's chapters are not where their frames are shown"
done
