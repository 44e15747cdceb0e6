#!/usr/bin/env bash
# The audiobook job over many parts: N MP3 parts (LAME, 44.1 kHz; lengths that are no whole
# number of frames, each a 1 kHz onset after 50 ms of silence) joined into one M4B by ffmpeg's
# concat filter with chapcat's chapters (--join=ffmpeg-filter). Prints where the last parts are
# heard against their chapters, and the time chapcat takes for the N parts against one ffprobe
# a part. Usage: bench/audiobook.sh [path/to/chapcat] [N, 300]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
chapcat=$(realpath "${1:-$here/../build/chapcat}")
parts=${2:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

names=() inputs=()
for i in $(seq "$parts"); do
    seconds=$(awk -v i="$i" 'BEGIN { printf "%.4f", 1.0 + 0.0137 * (i % 50) }')
    ffmpeg -v error -y -f lavfi \
        -i "aevalsrc=exprs='if(between(t,0.05,0.25),0.8*sin(2*PI*1000*(t-0.05)),0)':s=44100:d=$seconds" \
        -c:a libmp3lame "p$i.mp3"
    names+=("p$i.mp3")
    inputs+=(-i "p$i.mp3")
done
"$chapcat" --format=ffmetadata --join=ffmpeg-filter --part-chapters "${names[@]}" > chapters.txt
ffmpeg -v error -y "${inputs[@]}" -i chapters.txt -filter_complex "concat=n=$parts:v=0:a=1" \
    -map_chapters "$parts" -c:a aac whole.m4b
ffprobe -v error -show_entries chapter=start_time -of csv=p=0 whole.m4b > starts.txt
ffmpeg -v error -i whole.m4b -f s16le -ac 1 -ar 48000 - | od -An -v -t d2 -w2 |
    awk '{ x = $1 < 0 ? -$1 : $1
           if (x > 13107 && (n == 0 || NR - last > 48000 * 0.9)) { print (NR - 1) / 48000; last = NR; n++ } }' \
        > heard.txt
# Each part's own onset is at 50 ms plus the first samples over the threshold: that of part 1.
paste starts.txt heard.txt | awk -v parts="$parts" '
    NR == 1 { own = $2 - $1 }
    { error = $2 - ($1 + own); size = error < 0 ? -error : error; if (size > largest) largest = size }
    NR >= parts - 2 { printf "part %d: chapter %.3f s, heard %.6f s, error %.3f ms\n", NR, $1, $2, error * 1000 }
    END { printf "largest error over %d parts: %.3f ms\n", NR, largest * 1000 }'
start=$(date +%s%N)
"$chapcat" --format=ffmetadata --join=ffmpeg-filter --part-chapters "${names[@]}" > /dev/null
chapcat_ms=$((($(date +%s%N) - start) / 1000000))
start=$(date +%s%N)
for name in "${names[@]}"; do ffprobe -v error -show_entries format=duration "$name" > /dev/null; done
ffprobe_ms=$((($(date +%s%N) - start) / 1000000))
echo "chapcat, $parts parts: $chapcat_ms ms; ffprobe once a part: $ffprobe_ms ms"
