#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs the installed binary.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log) ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/chapcat_*.deb)
test "$(dpkg-deb --field "$deb" Package)" = chapcat
dpkg -x "$deb" "$work/root"

test -x "$work/root/usr/bin/chapcat"
! readelf -S "$work/root/usr/bin/chapcat" | grep -q '\.symtab' ||
    { echo "the packaged binary is not stripped"; exit 1; }
gzip -dc "$work/root/usr/share/man/man1/chapcat.1.gz" | cmp - "$source/chapcat.1"
cmp "$work/root/usr/share/doc/chapcat/copyright" "$source/packaging/copyright"
"$work/root/usr/bin/chapcat" --version
cd "$source/examples"
"$work/root/usr/bin/chapcat" part1.txt -d=00:02:32.900 part2.txt -d=00:09:15.000 part3.txt |
    cmp - merged.txt
echo "installed package runs: ok"
