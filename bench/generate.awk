# Writes a machine-made chapter list: n chapters, each a time line and a name line.
# Usage: awk -v seed=1 -v n=166667 -v crlf=0 -f generate.awk > out.txt
BEGIN {
    srand(seed)
    eol = crlf ? "\r\n" : "\n"
    t = 0
    for (i = 1; i <= n; i++) {
        h = int(t / 3600000); m = int(t / 60000) % 60; s = int(t / 1000) % 60; f = t % 1000
        printf "CHAPTER%02d=%02d:%02d:%02d.%03d%s", i, h, m, s, f, eol
        printf "CHAPTER%02dNAME=Scene %d, take %d%s", i, int(rand() * 100000), int(rand() * 10), eol
        t += 1000 + int(rand() * 600000)
    }
}
