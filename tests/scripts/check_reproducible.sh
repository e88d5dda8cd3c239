#!/usr/bin/env bash
# Two clean builds of the same sources give the same QxDspInstaller.exe,
# byte for byte, so that a shipped (and signed) executable can be shown to
# come from a given commit: the windows preset is built twice, in two
# scratch folders of different names and depths, one of them with
# SOURCE_DATE_EPOCH set, and the two images are compared.
#
#   tests/scripts/check_reproducible.sh SOURCE_DIR
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

build() { # DIR [ENV...]
    local dir=$1
    shift
    (cd "$src" && env "$@" cmake --preset windows -B "$dir" >"$tmp/configure.log" 2>&1 &&
        env "$@" cmake --build "$dir" --target QxDspInstaller >"$tmp/build.log" 2>&1) ||
        { echo "FAIL: the build in $dir failed:"; cat "$tmp/configure.log" "$tmp/build.log"; exit 1; }
}

build "$tmp/a"
# Another second, another folder: a time stamp or a build path in the
# image would show.
sleep 1
build "$tmp/second/build-folder" SOURCE_DATE_EPOCH=1
a=$tmp/a/QxDspInstaller.exe
b=$tmp/second/build-folder/QxDspInstaller.exe
if ! cmp -s "$a" "$b"; then
    echo "FAIL: two builds differ at $(cmp -l "$a" "$b" | wc -l) byte(s); first (offset, octal a, octal b):"
    cmp -l "$a" "$b" | head -5
    exit 1
fi
echo "ok: two builds are identical ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -d' ' -f1))"
