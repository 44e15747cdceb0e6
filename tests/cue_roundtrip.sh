#!/usr/bin/env bash
# CUE sheets: chapcat's own sheet read back keeps every start to the frame (1/75 s) and every
# title; a sheet of several FILEs places each by the length of its WAV, made by ffmpeg; and
# mkvmerge takes chapcat's sheet as the chapters of a file, which mkvextract gives back with the
# same starts. Exits 77 (skipped) without ffmpeg or mkvtoolnix, after the first check.
# Usage: cue_roundtrip.sh CHAPCAT
set -euo pipefail
chapcat=$1
source "$(dirname "$0")/scratch.sh"
enter_scratch

# One line per chapter, 'milliseconds<TAB>name', from the simple format.
chapters() {
    awk '/^CHAPTER[0-9]+=/ { split(substr($0, index($0, "=") + 1), t, /[:.]/)
                             time = ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000 + t[4] }
         /^CHAPTER[0-9]+NAME=/ { print time "\t" substr($0, index($0, "=") + 1) }' "$1"
}

# Whether every start of the lists A and B lies within a frame (1/75 s) and every title is the
# same; says where not.
same_to_the_frame() {
    paste <(chapters "$1") <(chapters "$2") | awk -F'\t' '
        { d = $1 - $3; if (d < 0) d = -d
          if (NF != 4 || d * 75 >= 1000 || $2 != $4) { print "differs: " $0; bad = 1 } }
        END { exit bad }'
}

printf '%s\n' 'CHAPTER01=00:00:00.000' 'CHAPTER01NAME=Opening' 'CHAPTER02=00:00:01.007' \
    'CHAPTER02NAME=Kapitel 1 – Café' 'CHAPTER03=00:12:34.562' 'CHAPTER03NAME=終わり' \
    'CHAPTER04=01:45:00.993' 'CHAPTER04NAME=Past 99 minutes' > list.txt
"$chapcat" --format=cue --cue-file=book.wav list.txt > book.cue
"$chapcat" book.cue > back.txt 2> warnings.txt # book.wav is not there
if ! same_to_the_frame list.txt back.txt || ! grep -q 'INDEX 01 105:00:74' book.cue; then
    cat book.cue
    echo "FAILED: chapcat's CUE sheet read back differs"
    exit 1
fi
echo "ok: $(grep -c NAME= back.txt) chapters read back from chapcat's CUE sheet, each start within a frame"

need "ffmpeg mkvtoolnix" ffmpeg mkvmerge mkvextract

# A sheet of two FILEs, in a folder of its own: the second starts where the first WAV ends.
mkdir rip
ffmpeg -v error -y -f lavfi -i anullsrc=r=44100:cl=stereo -t 1.5 -c:a pcm_s16le "rip/01 one.wav"
ffmpeg -v error -y -f lavfi -i anullsrc=r=44100:cl=stereo -t 2.25 -c:a pcm_s16le rip/02.wav
printf '%s\r\n' 'REM COMMENT "ripped"' 'TITLE "Album"' 'FILE "01 one.wav" WAVE' \
    '  TRACK 01 AUDIO' '    TITLE "One"' '    INDEX 01 00:00:00' '  TRACK 02 AUDIO' \
    '    TITLE "Two"' '    INDEX 01 00:01:00' 'FILE "02.wav" WAVE' '  TRACK 03 AUDIO' \
    '    TITLE "Three"' '    INDEX 00 00:00:00' '    INDEX 01 00:01:37' > rip/album.cue
"$chapcat" --format=ffmetadata rip/album.cue > album.meta 2> warnings.txt
printf '%s\n' ';FFMETADATA1' '[CHAPTER]' 'TIMEBASE=1/1000' 'START=0' 'END=1000' 'title=One' \
    '[CHAPTER]' 'TIMEBASE=1/1000' 'START=1000' 'END=2993' 'title=Two' \
    '[CHAPTER]' 'TIMEBASE=1/1000' 'START=2993' 'END=3750' 'title=Three' > expected.meta
if ! diff expected.meta album.meta || [ -s warnings.txt ]; then
    cat warnings.txt
    echo "FAILED: a sheet of two FILEs is not placed by the lengths of its WAVs"
    exit 1
fi
echo "ok: a sheet of two FILEs placed by its WAVs' lengths, its end at theirs"

# mkvmerge reads chapcat's sheet as chapters (titles alone, without the performer it would put
# before them); chapcat reads back what mkvextract gives, to the nanosecond, rounded once.
# mkvmerge keeps chapters past the end of the file they are muxed with.
ffmpeg -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 1 -c:a pcm_s16le small.wav
mkvmerge -q -o book.mkv --cue-chapter-name-format '%t' --chapters book.cue small.wav
mkvextract book.mkv chapters book.xml > /dev/null
"$chapcat" book.xml > muxed.txt 2> warnings.txt # mkvmerge nests an INDEX 01 in each, dropped
if ! same_to_the_frame list.txt muxed.txt; then
    echo "FAILED: mkvmerge's chapters from chapcat's CUE sheet differ"
    exit 1
fi
echo "ok: mkvmerge took $(grep -c NAME= muxed.txt) chapters from chapcat's CUE sheet"
