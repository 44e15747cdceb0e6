#!/usr/bin/env bash
# Joins parts of three formats into WebVTT and checks it as ffmpeg reads it, a subtitle track:
# each chapter a cue with its start, its end (the next start, the last one the joined video's
# end) and its title as ffmpeg decodes the text, a chapter without a title an empty cue. Then
# reads it back: every start and title as the parts gave them, and the same WebVTT again, the
# last cue's end standing for the part's length. Exits 77 (skipped) without ffmpeg.
# Usage: webvtt_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$1
source "$(dirname "$0")/scratch.sh"
need ffmpeg ffmpeg ffprobe
enter_scratch

# Titles with markup to escape, a '-->', two lines, none at all; a WebVTT part with tags.
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Anfang & <Ende> --> é\nCHAPTER02=00:00:01.250\nCHAPTER02NAME=Zwei\n' \
    > one.txt
printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=Zwei Zeilen\\\nzweite 終\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=900\n' \
    > two.meta
printf 'WEBVTT\n\n00:00.000 --> 00:00.700\n<b>Fett</b> &amp; mager\n\n00:00.700 --> 00:01.900 align:start\nSchluss\n' \
    > three.vtt
parts=(--length=3.2 one.txt --length=2.54 two.meta three.vtt)
# Each cue as 'start<TAB>end<TAB>text', in seconds, the lines of its text joined by '|'.
cat > expected.txt << 'EOF'
0.000	1.250	Anfang & <Ende> --> é
1.250	3.200	Zwei
3.200	3.700	Zwei Zeilen|zweite 終
3.700	5.740	
5.740	6.440	Fett & mager
6.440	7.640	Schluss
EOF

"$chapcat" --format=webvtt "${parts[@]}" > whole.vtt 2> warnings.txt

# The cues' times as ffprobe gives its packets, the texts as ffmpeg decodes them (to SubRip,
# which leaves an empty cue out).
ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 whole.vtt |
    awk -F, '{ printf "%.3f\t%.3f\n", $1, $1 + ($2 == "N/A" ? 0 : $2) }' > times.txt
ffmpeg -v error -i whole.vtt -f srt - | tr -d '\r' |
    awk '/^[0-9:,]+ --> [0-9:,]+$/ {
             sub(/,/, ".", $1)
             split($1, t, ":")
             start = sprintf("%.3f", t[1] * 3600 + t[2] * 60 + t[3])
             text = ""
             next
         }
         /^$/ { if (start != "") print start "\t" text; start = ""; next }
         start != "" { text = text (text == "" ? "" : "|") $0 }
         END { if (start != "") print start "\t" text }' > texts.txt
awk -F'\t' 'NR == FNR { text[$1] = $2; next }
            { print $1 "\t" $2 "\t" ($1 in text ? text[$1] : "") }' texts.txt times.txt > read.txt
if ! diff expected.txt read.txt ||
    [ "$(cat warnings.txt)" != "chapcat: two.meta:10: chapter 04 has no title" ]; then
    cat warnings.txt
    echo "FAILED: ffmpeg reads other cues from chapcat's WebVTT than the joined chapters"
    exit 1
fi
echo "ok: ffmpeg reads the $(wc -l < read.txt) chapters of three parts as cues"

# Read back: the starts and titles the parts give, and the same document.
"$chapcat" "${parts[@]}" > joined.txt 2> /dev/null
"$chapcat" whole.vtt > back.txt 2> /dev/null
"$chapcat" --format=webvtt whole.vtt > again.vtt 2> /dev/null
if ! diff joined.txt back.txt || ! cmp whole.vtt again.vtt; then
    echo "FAILED: chapcat does not read its own WebVTT back as the chapters it joined"
    exit 1
fi
echo "ok: chapcat reads its WebVTT back, every start and title and the last end"
