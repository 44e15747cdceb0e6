# The same renumbering and shifting as chapcat without options, as a straightforward awk
# script: the baseline chapcat is measured against.
function flushOffsets() { chapterOffset = nextChapter; timeOffset = nextTime }
function render(t,    h, m, s) {
    h = int(t / 3600000); m = int(t / 60000) % 60; s = int(t / 1000) % 60
    return sprintf("%02d:%02d:%02d.%03d", h, m, s, t % 1000)
}
FNR == 1 && NR > 1 { flushOffsets() }
{ gsub(/\r/, "") }
substr($0, 1, 7) == "CHAPTER" && (eq = index($0, "=")) > 0 {
    key = substr($0, 8, eq - 8); value = substr($0, eq + 1)
    if ((namePos = index(key, "NAME")) > 0) {
        nextChapter = substr(key, 1, namePos - 1) + chapterOffset
        printf "CHAPTER%02dNAME=%s\n", nextChapter, value
    } else {
        split(value, part, /[:.]/)
        nextChapter = key + chapterOffset
        nextTime = timeOffset + part[1] * 3600000 + part[2] * 60000 + part[3] * 1000 + part[4]
        printf "CHAPTER%02d=%s\n", nextChapter, render(nextTime)
    }
}
