#!/usr/bin/env bash
# Muxes chapcat's output into a Matroska file with mkvmerge, reads the chapters back with
# mkvextract and checks every time and name. Exits 77 (skipped) without mkvtoolnix.
# Usage: mkv_roundtrip.sh CHAPCAT SOURCE_DIR
set -euo pipefail
chapcat=$1 examples=$2/examples
if ! command -v mkvmerge > /dev/null || ! command -v mkvextract > /dev/null; then
    echo "SKIPPED: mkvtoolnix is not installed (apt-get install --no-install-recommends mkvtoolnix)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

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
    "$chapcat" "$@" > "$work/merged.txt"
    mkvmerge -q -o "$work/out.mkv" --chapter-charset UTF-8 --chapters "$work/merged.txt"
    mkvextract "$work/out.mkv" chapters --simple --output-charset UTF-8 "$work/back.txt" > /dev/null
    if ! diff <(chapters "$work/merged.txt") <(chapters "$work/back.txt"); then
        echo "FAILED: $what: chapters read back differ"
        exit 1
    fi
    echo "ok: $what ($(grep -c NAME= "$work/merged.txt") chapters)"
}

cd "$examples"
check "plain merge, non-ASCII names" part1.txt part2.txt part3.txt
check "merge with delays" part1.txt -d=00:02:32.900 part2.txt -d=00:09:15.000 part3.txt
check "PAL to film merge" -p part1.txt -d=00:02:32.900 part2.txt part3.txt
