#!/usr/bin/env bash
# Builds the Debian package twice (it must come out the same), checks it with lintian where
# installed, unpacks it into a scratch root and runs the installed binary and bash completion.
# Exits 77 (skipped) without cpack, dpkg-deb or dpkg-shlibdeps.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" > /dev/null ||
        { echo "SKIPPED: $tool is not installed (apt-get install cmake dpkg-dev)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

# The package's own date must be used, not the clock: the second build is a second later.
for run in 1 2; do
    mkdir "$work/$run"
    (cd "$work/$run" && env -u SOURCE_DATE_EPOCH cpack -G DEB --config "$build/CPackConfig.cmake" \
        > cpack.log) || { cat "$work/$run/cpack.log"; exit 1; }
    ((run == 2)) || sleep 1
done
deb=$(ls "$work"/1/chapcat_*.deb)
cmp "$deb" "$work"/2/chapcat_*.deb || fail "two builds of the package differ"
test "$(dpkg-deb --field "$deb" Package)" = chapcat

if command -v lintian > /dev/null; then
    # lintian warns that it runs as root, which CI does; that is no finding about the package.
    lintian --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2) |
        tee "$work/lintian.log" || fail "lintian found errors in the package"
    [[ -s $work/lintian.log ]] || echo "lintian: no errors, no warnings"
else
    echo "lintian is not installed: the package was not checked by it"
fi

# libavformat is loaded at run time, so it is recommended, not depended on; the runtime to
# recommend is the one the development files here point at.
[[ $(dpkg-deb --field "$deb" Depends) != *libavformat* ]] ||
    fail "the package depends on libavformat"
if dev=$(dpkg-query -S '*/libavformat.so' 2> /dev/null); then
    runtime=$(dpkg-query -S "$(readlink -f "${dev#*: }")")
    test "$(dpkg-deb --field "$deb" Recommends)" = "${runtime%%:*}" ||
        fail "the package should recommend ${runtime%%:*}"
fi

[[ $(dpkg-deb --field "$deb" Suggests) == *bash-completion* ]] ||
    fail "the package ships a bash completion but does not suggest bash-completion"

dpkg -x "$deb" "$work/root"
test -x "$work/root/usr/bin/chapcat"
# Its files carry the date of the last changelog entry, which configure reads without GNU date.
changed=$(sed -n 's/^ -- .*>  //p' "$source/packaging/changelog" | head -1)
if epoch=$(date -u -d "$changed" +%s 2> /dev/null); then
    test "$(stat -c %Y "$work/root/usr/bin/chapcat")" = "$epoch" ||
        fail "the packaged files are not dated $changed"
fi
! readelf -S "$work/root/usr/bin/chapcat" | grep -q '\.symtab' ||
    fail "the packaged binary is not stripped"
gzip -dc "$work/root/usr/share/man/man1/chapcat.1.gz" | cmp - "$source/chapcat.1"
gzip -dc "$work/root/usr/share/doc/chapcat/changelog.gz" | cmp - "$source/packaging/changelog"
cmp "$work/root/usr/share/doc/chapcat/copyright" "$source/packaging/copyright"
test "$(gzip -dc "$work/root/usr/share/doc/chapcat/changelog.gz" | sed -n '1s/.*(\(.*\)).*/\1/p')" = \
    "$(dpkg-deb --field "$deb" Version)" || fail "the changelog has no entry for this version"
"$work/root/usr/bin/chapcat" --version
cd "$source/examples"
"$work/root/usr/bin/chapcat" part1.txt -d=00:02:32.900 part2.txt -d=00:09:15.000 part3.txt |
    cmp - merged.txt

completion=$work/root/usr/share/bash-completion/completions/chapcat
bash -c 'source "$1" && complete -p chapcat' _ "$completion"
# Each row: the words on the command line, the last one being completed; what it offers.
# Readline splits a word at '=' by default ('--format' '=' 'm'); some users turn that off.
while IFS='|' read -r line expected; do
    read -ra words <<< "$line"
    got=$(bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                   _chapcat; echo "${COMPREPLY[*]}"' _ "$completion" "${words[@]}")
    test "$got" = "$expected" || fail "completing '$line' offers '$got', not '$expected'"
done << 'EOF'
chapcat --fo|--format=
chapcat --format = m|matroska
chapcat --format=ffm|--format=ffmetadata
chapcat --format s|simple
chapcat -- --he|
EOF
# Every format the completion offers after '--format=' is one the installed binary writes.
formats=$(bash -c 'source "$1"; COMP_WORDS=(chapcat --format =); COMP_CWORD=2
                   _chapcat; echo "${COMPREPLY[*]}"' _ "$completion")
[[ -n $formats ]] || fail "completing '--format=' offers nothing"
# A refused format is a usage error (2); a concat script of a text part is only a failed run.
for format in $formats; do
    status=0
    "$work/root/usr/bin/chapcat" --format="$format" part1.txt > /dev/null 2>&1 || status=$?
    ((status != 2)) || fail "completion offers --format=$format, which chapcat refuses"
done
echo "installed package runs: ok"
