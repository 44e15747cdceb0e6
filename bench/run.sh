#!/usr/bin/env bash
# Measures chapcat against cat and an awk script on generated chapter lists and prints
# medians and ratios. Usage: bench/run.sh [path/to/chapcat] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
chapcat=$(realpath "${1:-$here/../build/chapcat}")
runs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 3 files, 1,000,000 lines in all, half time lines and half name lines, CRLF in the second.
for i in 1 2 3; do
    awk -v seed="$i" -v n=166667 -v crlf=$((i == 2)) -f "$here/generate.awk" > "big$i.txt"
done
for i in 1 2 3; do awk -v seed="$i" -v n=20 -f "$here/generate.awk" > "small$i.txt"; done

# Median wall time of a command over $runs runs, in milliseconds: hyperfine's when it is
# installed (apt-get install hyperfine), else a shell loop, which adds a few ms of its own.
median_ms() {
    if command -v hyperfine > /dev/null; then
        hyperfine -N -w 2 -r "$runs" --output=null --export-csv times.csv "$*" > /dev/null 2>&1
        awk -F, 'NR == 2 { printf "%.2f", $4 * 1000 }' times.csv
        return
    fi
    local times=() start end
    "$@" > /dev/null # warm-up
    for ((r = 0; r < runs; r++)); do
        start=$(date +%s%N)
        "$@" > /dev/null
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { printf "%.2f", t[int((NR + 1) / 2)] / 1000 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak_kib() { { /usr/bin/time -f %M "$@" 2>&1 > /dev/null || true; } | tail -1; }

big=(big1.txt big2.txt big3.txt)
small=(small1.txt small2.txt small3.txt)
cat_big=$(median_ms cat "${big[@]}")
chapcat_big=$(median_ms "$chapcat" "${big[@]}")
converted_big=$(median_ms "$chapcat" -p -t "${big[@]}")
cut_big=$(median_ms "$chapcat" --cut=0-1:00:00 big1.txt --keep=1:00:00- big2.txt \
    --keep=-10:00 --keep=20:00- big3.txt)
ffmetadata_big=$(median_ms "$chapcat" --format=ffmetadata "${big[@]}")
matroska_big=$(median_ms "$chapcat" --format=matroska "${big[@]}")
awk_big=$(median_ms mawk -f "$here/chapcat.awk" "${big[@]}")
# The same chapters given as the other formats chapcat reads (it writes them itself).
for i in 1 2 3; do
    "$chapcat" --format=matroska "big$i.txt" > "big$i.xml" 2> /dev/null
    "$chapcat" --format=ffmetadata "big$i.txt" > "big$i.meta" 2> /dev/null
    "$chapcat" --format=timestamps-ms "big$i.txt" > "big$i.stamps" 2> /dev/null
    "$chapcat" --format=webvtt "big$i.txt" > "big$i.vtt" 2> /dev/null
done
read_xml_big=$(median_ms "$chapcat" big1.xml big2.xml big3.xml)
read_meta_big=$(median_ms "$chapcat" big1.meta big2.meta big3.meta)
read_stamps_big=$(median_ms "$chapcat" big1.stamps big2.stamps big3.stamps)
read_vtt_big=$(median_ms "$chapcat" big1.vtt big2.vtt big3.vtt)
cat_small=$(median_ms cat "${small[@]}")
chapcat_small=$(median_ms "$chapcat" "${small[@]}")

printf '%-40s %10s\n' "median of $runs runs" "ms"
printf '%-40s %10s\n' "cat, 1,000,000 lines" "$cat_big" \
    "chapcat, 1,000,000 lines" "$chapcat_big" \
    "chapcat -p -t, 1,000,000 lines" "$converted_big" \
    "chapcat --keep/--cut, 1,000,000 lines" "$cut_big" \
    "chapcat --format=ffmetadata, 1,000,000" "$ffmetadata_big" \
    "chapcat --format=matroska, 1,000,000" "$matroska_big" \
    "mawk script, 1,000,000 lines" "$awk_big" \
    "chapcat reading them as Matroska XML" "$read_xml_big" \
    "chapcat reading them as FFmpeg metadata" "$read_meta_big" \
    "chapcat reading them as timestamp lines" "$read_stamps_big" \
    "chapcat reading them as WebVTT" "$read_vtt_big" \
    "cat, 3 x 20 chapters" "$cat_small" \
    "chapcat, 3 x 20 chapters" "$chapcat_small"
echo
printf '%-40s %10s\n' "chapcat / cat (target <= 8)" "$(ratio "$chapcat_big" "$cat_big")" \
    "mawk / chapcat (target >= 20)" "$(ratio "$awk_big" "$chapcat_big")" \
    "chapcat -p -t / chapcat (target <= 1.3)" "$(ratio "$converted_big" "$chapcat_big")" \
    "cut parts / whole parts (target <= 1.3)" "$(ratio "$cut_big" "$chapcat_big")" \
    "ffmetadata / simple (target <= 1.5)" "$(ratio "$ffmetadata_big" "$chapcat_big")" \
    "matroska / simple (target <= 1.5)" "$(ratio "$matroska_big" "$chapcat_big")" \
    "reading XML / simple (target <= 2)" "$(ratio "$read_xml_big" "$chapcat_big")" \
    "reading metadata / simple (target <= 2)" "$(ratio "$read_meta_big" "$chapcat_big")" \
    "reading timestamp lines / simple (target <= 3)" "$(ratio "$read_stamps_big" "$chapcat_big")" \
    "reading WebVTT / simple (target <= 3)" "$(ratio "$read_vtt_big" "$chapcat_big")" \
    "start-up: chapcat / cat (target <= 1.5)" "$(ratio "$chapcat_small" "$cat_small")"

# Media parts: chapcat reads all three in one run where scripts run ffprobe once a part. Text
# with a NUL in a title is where chapcat loads libavformat only to probe; plain text never does.
if command -v ffmpeg > /dev/null && command -v ffprobe > /dev/null; then
    printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=a\n' > meta.txt
    for i in 1 2 3; do
        ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=24000/1001:duration=20 \
            -f lavfi -i sine=duration=20 -i meta.txt -map 0 -map 1 -map_chapters 2 \
            -c:v libx264 -c:a aac "part$i.mp4"
    done
    { cat small1.txt; printf 'CHAPTER99=00:00:00.000\nCHAPTER99NAME=a\0b\n'; } > nul.txt
    for i in 1 2 3; do
        echo "ffprobe -v error -show_chapters -show_entries format=duration part$i.mp4"
    done > ffprobe3.sh
    if ! "$chapcat" --format=ffmetadata part1.mp4 part2.mp4 part3.mp4 > /dev/null 2>&1; then
        echo "chapcat does not read these media parts; the media case is skipped" >&2
    else
        chapcat_media=$(median_ms "$chapcat" --format=ffmetadata part1.mp4 part2.mp4 part3.mp4)
        ffprobe_media=$(median_ms sh ffprobe3.sh)
        chapcat_nul=$(median_ms "$chapcat" nul.txt small2.txt small3.txt)
        echo
        printf '%-40s %10s\n' "chapcat, 3 media parts" "$chapcat_media" \
            "ffprobe once a part, 3 media parts" "$ffprobe_media" \
            "chapcat, 3 x 20 chapters, NUL in one" "$chapcat_nul"
        printf '%-40s %10s\n' \
            "ffprobe x 3 / chapcat, media parts" "$(ratio "$ffprobe_media" "$chapcat_media")" \
            "start-up: a NUL in text / text" "$(ratio "$chapcat_nul" "$chapcat_small")"
        # 100 parts of each container: what a part costs beyond the libraries' loading, once.
        ffmpeg -v error -y -i part1.mp4 -c copy part1.mkv
        for i in $(seq 100); do ln -f part1.mp4 "many$i.mp4" && ln -f part1.mkv "many$i.mkv"; done
        for i in $(seq 100); do
            echo "ffprobe -v error -show_chapters -show_entries format=duration many$i.mp4"
        done > ffprobe100.sh
        # By the container's duration (ffmpeg's rule), and by the last frame (mkvmerge's), which
        # reads the frames of a part's last seconds.
        one_part=$(median_ms "$chapcat" --join=ffmpeg many1.mp4)
        mp4_100=$(median_ms "$chapcat" --join=ffmpeg many{1..100}.mp4)
        mkv_100=$(median_ms "$chapcat" --join=ffmpeg many{1..100}.mkv)
        mkv_100_frames=$(median_ms "$chapcat" --join=mkvmerge many{1..100}.mkv)
        ffprobe_100=$(median_ms sh ffprobe100.sh)
        per_part() { awk -v all="$1" -v one="$one_part" 'BEGIN { printf "%.2f", (all - one) / 99 }'; }
        echo
        printf '%-40s %10s\n' "chapcat, 1 MP4 part" "$one_part" \
            "chapcat, 100 MP4 parts" "$mp4_100" \
            "chapcat, 100 Matroska parts" "$mkv_100" \
            "chapcat, 100 Matroska parts, mkvmerge's rule" "$mkv_100_frames" \
            "ffprobe once a part, 100 MP4 parts" "$ffprobe_100"
        printf '%-40s %10s\n' "a further MP4 part (target < 1)" "$(per_part "$mp4_100")" \
            "a further Matroska part (target < 1)" "$(per_part "$mkv_100")" \
            "the same by mkvmerge's rule" "$(per_part "$mkv_100_frames")" \
            "ffprobe, a part" "$(awk -v t="$ffprobe_100" 'BEGIN { printf "%.2f", t / 100 }')"
    fi
fi

if [ -x /usr/bin/time ]; then
    awk -v seed=9 -v n=2800 -f "$here/generate.awk" > mb.txt                   # about 1 MB
    for i in $(seq 500); do cat mb.txt; done > large.txt                        # about 500 MB
    { printf 'CHAPTER01NAME='; head -c 400M /dev/zero | tr '\0' x; echo; } > longline.txt
    # One document each, written as it is generated: about 314 bytes a chapter in XML and 85 in
    # metadata make some 500 MB. Copies of one document would be read only up to the second.
    awk -v seed=9 -v n=1600000 -f "$here/generate.awk" |
        "$chapcat" --format=matroska - > large.xml 2> /dev/null
    awk -v seed=9 -v n=5900000 -f "$here/generate.awk" |
        "$chapcat" --format=ffmetadata - > large.meta 2> /dev/null
    mb() { echo $(($(wc -c < "$1") / 1000000)); }
    chapters() { "$chapcat" "$1" 2> /dev/null | grep -c '^CHAPTER[0-9]*='; }
    echo
    printf '%-40s %10s\n' "peak RSS, 1 MB input (KiB)" "$(peak_kib "$chapcat" mb.txt)" \
        "peak RSS, 500 MB input (KiB)" "$(peak_kib "$chapcat" large.txt)" \
        "peak RSS, 500 MB input as XML (KiB)" "$(peak_kib "$chapcat" --format=matroska large.txt)" \
        "peak RSS, one 400 MB line (KiB)" "$(peak_kib "$chapcat" longline.txt)" \
        "peak RSS, 3 s of /dev/zero (KiB)" "$(peak_kib timeout 3 "$chapcat" /dev/zero)" \
        "peak RSS, reading $(mb large.xml) MB of XML (KiB)" "$(peak_kib "$chapcat" large.xml)" \
        "peak RSS, reading $(mb large.meta) MB of metadata (KiB)" "$(peak_kib "$chapcat" large.meta)"
    # The peaks mean something only where the whole document was read.
    printf '%-40s %10s\n' "chapters read of 1,600,000 in the XML" "$(chapters large.xml)" \
        "chapters read of 5,900,000 in metadata" "$(chapters large.meta)"
    rm -f large.txt longline.txt large.xml large.meta
fi
