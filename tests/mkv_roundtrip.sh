#!/usr/bin/env bash
# Muxes chapcat's output into a Matroska file with mkvmerge, reads the chapters back with
# mkvextract and checks every time and name. Then joins real parts (made with ffmpeg) with
# mkvmerge's append and checks that a merge by the parts' probed lengths puts every chapter where
# mkvmerge puts it. Exits 77 (skipped) without mkvtoolnix; without ffmpeg the join is skipped.
# Usage: mkv_roundtrip.sh CHAPCAT SOURCE_DIR
set -euo pipefail
chapcat=$1 examples=$2/examples
source "$(dirname "$0")/scratch.sh"
need mkvtoolnix mkvmerge mkvextract
enter_scratch

# One line per chapter, 'time<TAB>name', sorted: chapters that share a start time compare as
# a set, since mkvextract orders those by name.
chapters() {
    awk -F= '
        /^CHAPTER[0-9]+NAME=/ { n = $1; sub(/^CHAPTER/, "", n); sub(/NAME$/, "", n)
                                name[n + 0] = substr($0, index($0, "=") + 1); next }
        /^CHAPTER[0-9]+=/     { n = $1; sub(/^CHAPTER/, "", n); time[n + 0] = $2; order[++count] = n + 0 }
        END { for (i = 1; i <= count; i++) print time[order[i]] "\t" name[order[i]] }' "$1" |
        sort
}

check() {
    local what=$1
    shift
    "$chapcat" "$@" > "$work/merged.txt" 2> "$work/warnings.txt" # joins without delays warn
    mkvmerge -q -o "$work/out.mkv" --chapter-charset UTF-8 --chapters "$work/merged.txt"
    mkvextract "$work/out.mkv" chapters --simple --output-charset UTF-8 "$work/back.txt" > /dev/null
    if ! diff <(chapters "$work/merged.txt") <(chapters "$work/back.txt"); then
        echo "FAILED: $what: chapters read back differ"
        exit 1
    fi
    echo "ok: $what ($(grep -c NAME= "$work/merged.txt") chapters)"
}

# One line per chapter atom of a chapters XML document, 'start<TAB>end<TAB>name', sorted; times
# in milliseconds as the simple format writes them, entities decoded.
xml_chapters() {
    awk '
        function text(line) { sub(/^[^>]*>/, "", line); sub(/<[^<]*$/, "", line)
                              gsub(/&lt;/, "<", line); gsub(/&gt;/, ">", line)
                              gsub(/&quot;/, "\"", line); gsub(/&apos;/, "\047", line)
                              gsub(/&amp;/, "\\&", line); return line }
        /<ChapterAtom>/      { start = end = name = "" }
        /<ChapterTimeStart>/ { start = substr(text($0), 1, 12) }
        /<ChapterTimeEnd>/   { end = substr(text($0), 1, 12) }
        /<ChapterString>/    { name = text($0) }
        /<\/ChapterAtom>/    { print start "\t" end "\t" name }' "$1" |
        sort
}

# The same merge as Matroska XML: well-formed to an XML parser, read by mkvmerge as written, and
# with the simple format's starts and names.
check_xml() {
    local what=$1
    shift
    "$chapcat" --format=matroska "$@" > "$work/merged.xml" 2> "$work/warnings.txt" || true
    # mkvmerge parses it too, but may be lenient.
    if command -v xmllint > /dev/null && ! xmllint --noout "$work/merged.xml"; then
        echo "FAILED: $what: chapcat's XML is not well-formed"
        exit 1
    fi
    mkvmerge -q -o "$work/out.mkv" --chapters "$work/merged.xml"
    mkvextract "$work/out.mkv" chapters "$work/back.xml" > /dev/null
    if ! diff <(xml_chapters "$work/merged.xml") <(xml_chapters "$work/back.xml"); then
        echo "FAILED: $what: chapters read back from Matroska XML differ"
        exit 1
    fi
    "$chapcat" "$@" > "$work/merged.txt" 2> /dev/null || true
    # The XML has U+FFFD where the simple format keeps bytes that are not text.
    if ! ${raw_names:-false} && ! diff <(chapters "$work/merged.txt") <(xml_chapters "$work/back.xml" | cut -f1,3); then
        echo "FAILED: $what: Matroska XML chapters differ from the simple format's"
        exit 1
    fi
    echo "ok: $what as Matroska XML ($(grep -c '<ChapterAtom>' "$work/merged.xml") chapters)"
}

cd "$examples"
check "plain merge, non-ASCII names" part1.txt part2.txt part3.txt
check "merge with delays" part1.txt -d=00:02:32.900 part2.txt -d=00:09:15.000 part3.txt
check "PAL to film merge" -p part1.txt -d=00:02:32.900 part2.txt part3.txt
check_xml "merge by lengths" --length=1450 part1.txt --length=21:20 part2.txt --length=20:00 \
    part3.txt
check_xml "PAL to film merge" -p part1.txt -d=00:02:32.900 part2.txt part3.txt
printf 'CHAPTER01=00:00:01.000\nCHAPTER01NAME=<a & "b">\n' > "$work/markup.txt"
check_xml "markup in names" "$work/markup.txt"
printf 'CHAPTER01=00:00:01.000\nCHAPTER01NAME=x\001\377\355\240\200y\nCHAPTER02=00:00:02.000\n' \
    > "$work/hostile.txt"
raw_names=true check_xml "names that are not XML text" "$work/hostile.txt"

if ! command -v ffmpeg > /dev/null || ! command -v ffprobe > /dev/null; then
    echo "SKIPPED: join of real parts: ffmpeg is not installed"
    exit 0
fi
# Parts of odd lengths with audio and video, each with its own chapters from 00:00:00.000.
cd "$work"
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Anfang\nCHAPTER02=00:00:01.250\nCHAPTER02NAME=Mitte\n' \
    > one.txt
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Zweiter Teil\n' > two.txt
parts=(one:3.2 two:2.54 one:1.9)
joined=()
lengths=()
for i in "${!parts[@]}"; do
    chapters=${parts[i]%:*} seconds=${parts[i]#*:}
    mkv_part "$i" "$seconds" "$chapters.txt"
    joined+=(${joined:++} "part$i.mkv")
    lengths+=("--length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "part$i.mkv")"
              "$chapters.txt")
done
mkvmerge -q -o joined.mkv "${joined[@]}"
mkvextract joined.mkv chapters --simple --output-charset UTF-8 muxed.txt > /dev/null
"$chapcat" "${lengths[@]}" > merged.txt 2> warnings.txt
if ! diff <(chapters merged.txt) <(chapters muxed.txt) || [ -s warnings.txt ]; then
    cat warnings.txt
    echo "FAILED: join by lengths (${lengths[*]}): chapters differ from mkvmerge's append"
    exit 1
fi
echo "ok: join of ${#parts[@]} real parts by their probed lengths matches mkvmerge's append"
