#!/usr/bin/env bash
# Makes the driver harness's seeds of whole documents, one of each format chapcat reads, with
# ffmpeg and mkvtoolnix: a tiny MP4, Matroska file and MP3 with two titled chapters, the
# chapters XML mkvextract writes, FFmpeg metadata with titles, timestamp lines in a description
# and a WebVTT chapters track. Each seed is the document followed by the two bytes the harness
# reads first, from the end: one argument (1), a whole document (7). Usage: make_seeds.sh
# CORPUS_FOLDER
set -euo pipefail
corpus=$(realpath "$1")
source "$(dirname "$0")/../scratch.sh"
need "ffmpeg mkvtoolnix" ffmpeg mkvmerge mkvextract
enter_scratch

printf ';FFMETADATA1\ntitle=Ganz\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=100\ntitle=Eins\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=100\nEND=200\ntitle=Zwei – 終\n' \
    > meta.txt
for container in mp4 mkv mp3; do
    codec=aac
    [ "$container" = mp3 ] && codec=libmp3lame
    ffmpeg -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -i meta.txt -map 0 -map_chapters 1 \
        -c:a "$codec" -b:a 8k -t 0.2 -fflags +bitexact "seed.$container"
done
printf 'CHAPTER01=00:00:00.000\nCHAPTER01NAME=Eins\nCHAPTER02=00:00:00.100\nCHAPTER02NAME=Zwei\n' \
    > chapters.txt
mkvmerge -q -o muxed.mkv --chapter-charset UTF-8 --chapters chapters.txt --no-chapters seed.mkv
mkvextract muxed.mkv chapters seed.xml > /dev/null
cp meta.txt seed.meta
# Timestamp lines in a description, and a WebVTT chapters track with what its readers pass over.
printf 'My trip (full vlog)\nhttps://example.com/gear?t=1:30\n\nCHAPTERS:\n0:00 Intro\n[0:45] - Town\n1:02:03.500 | Beach \xe2\x80\x93 night\n#travel\n' \
    > seed.description
printf 'WEBVTT Kind: chapters\r\n\r\nNOTE by hand\r\n\r\n1\r\n00:00.000 --> 00:00.100 align:start\r\n<v Host>Eins</v> &amp; &#x7D42;\r\n\r\n00:00.100 --> 00:00:00.200\r\nZwei\r\nzwei\r\n' \
    > seed.vtt
for seed in seed.mp4 seed.mkv seed.mp3 seed.xml seed.meta seed.description seed.vtt; do
    { cat "$seed"; printf '\007\001'; } > "$corpus/whole-${seed#seed.}"
done
ls -l "$corpus"/whole-*
