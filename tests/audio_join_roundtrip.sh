#!/usr/bin/env bash
# The audiobook job: twelve MP3 parts (LAME, 44.1 kHz) and twelve M4A parts (AAC, 48 kHz), each a
# length that is no whole number of frames and a sharp onset after a little silence, joined into
# one M4B by ffmpeg's concat filter with chapcat's chapters (--join=ffmpeg-filter). The joined
# file is decoded and each onset found: every chapter lies within 2 ms of where its part is
# heard, and the error does not grow from part 2 to part 12 (by more than the rounding of a
# chapter start to the millisecond).
# Exits 77 (skipped) without ffmpeg or its LAME encoder.
# Usage: audio_join_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$(realpath "$1")
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg ffprobe
enter_scratch
[[ $(ffmpeg -hide_banner -encoders 2> /dev/null) == *libmp3lame* ]] ||
    { echo "SKIPPED: ffmpeg has no LAME encoder"; exit 77; }

fail() {
    echo "FAILED: $*"
    exit 1
}

# The times in seconds at which FILE's sound rises past 40 % of full scale, at least a second
# apart, decoded to mono at RATE.
onsets() {
    ffmpeg -v error -i "$1" -f s16le -ac 1 -ar "$2" - | od -An -v -t d2 -w2 |
        awk -v rate="$2" '{ x = $1 < 0 ? -$1 : $1
                            if (x > 13107 && (n == 0 || NR - last > rate)) { print (NR - 1) / rate; last = NR; n++ } }'
}

join_parts() { # EXT CODEC RATE
    local ext=$1 codec=$2 rate=$3 names=() inputs=() i
    for i in $(seq 1 12); do
        local seconds
        seconds=$(awk -v i="$i" 'BEGIN { printf "%.4f", 2.0 + 0.1371 * i }')
        ffmpeg -v error -y -f lavfi \
            -i "aevalsrc=exprs='if(between(t,0.05,0.25),0.8*sin(2*PI*1000*(t-0.05)),0)':s=$rate:d=$seconds" \
            -c:a "$codec" "p$i.$ext"
        names+=("p$i.$ext")
        inputs+=(-i "p$i.$ext")
    done
    "$chapcat" --format=ffmetadata --join=ffmpeg-filter --part-chapters "${names[@]}" \
        > "chapters-$ext.txt" || fail "chapcat on the $ext parts"
    ffmpeg -v error -y "${inputs[@]}" -i "chapters-$ext.txt" \
        -filter_complex "concat=n=12:v=0:a=1" -map_chapters 12 -c:a aac "whole-$ext.m4b"
    ffprobe -v error -show_entries chapter=start_time -of csv=p=0 "whole-$ext.m4b" > "starts-$ext.txt"
    onsets "whole-$ext.m4b" 48000 > "heard-$ext.txt"
    for name in "${names[@]}"; do onsets "$name" 48000 | head -1; done > "own-$ext.txt"
    paste "starts-$ext.txt" "own-$ext.txt" "heard-$ext.txt" | awk -v what="$ext" '
        { error = $3 - ($1 + $2); size = error < 0 ? -error : error
          if (NR == 2) second = size
          printf "%s part %d: chapter %.6f, heard %.6f, error %.3f ms\n", what, NR, $1, $3, error * 1000
          if (size > 0.002) bad = 1 }
        END { if (NR != 12) { print "expected 12 parts"; bad = 1 }
              # Chapter starts are written to the millisecond: half of one is no growth.
              if (size > second + 0.0005) { print "the error grows with the parts"; bad = 1 }
              exit bad }' || fail "$ext parts are not heard where their chapters start"
}

join_parts mp3 libmp3lame 44100
join_parts m4a aac 48000
