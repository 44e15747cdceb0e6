# Sourced by the tests' scripts: the tools a script needs, and a scratch folder to work in.

# Exits 77, which ctest counts as skipped, unless every TOOL is installed.
# Usage: need "PACKAGE..." TOOL...
need() {
    local packages=$1 tool
    shift
    for tool; do
        command -v "$tool" > /dev/null && continue
        echo "SKIPPED: $tool is not installed (apt-get install --no-install-recommends $packages)"
        exit 77
    done
}

# Makes a fresh folder, $work, removed at exit, the current folder.
enter_scratch() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cd "$work"
    export LC_ALL=C.UTF-8
}
