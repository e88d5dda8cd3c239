#!/usr/bin/env bash
# scripts/check-package passes the bundled package and names, one line each,
# what is wrong with damaged copies of it: the problems a release engineer
# makes (a file left out, the INF saved as UTF-8, markers moved or cut,
# the older driver mentioned, the wrong catalogue).
#
#   tests/scripts/check_package.sh PACKAGE_DIR
set -uo pipefail
package=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
check=$here/../../scripts/check-package
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
inf_text=$(tail -c +3 "$package/QX_DSP_USB.inf" | iconv -f UTF-16LE -t UTF-8)

fresh() { rm -rf "$tmp/p"; cp -r "$package" "$tmp/p"; }
write_inf() { # TEXT (UTF-8), written as UTF-16LE with a byte order mark
    { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; } >"$tmp/p/QX_DSP_USB.inf"
}
# CASE PATTERN...: the check fails and prints a line matching each pattern.
expect() {
    local name=$1 out rc p
    shift
    out=$(python3 "$check" "$tmp/p" 2>&1)
    rc=$?
    local ok=1
    (( rc == 1 )) || ok=0
    for p in "$@"; do grep -q -- "$p" <<<"$out" || ok=0; done
    if (( ok )); then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc, expected lines matching: $*"
        # shellcheck disable=SC2001 # indents every line, which ${//} cannot
        sed 's/^/    /' <<<"$out"
        failures=$((failures + 1))
    fi
}

fresh
out=$(python3 "$check" "$tmp/p") || { echo "FAIL the bundled package does not pass:"; echo "$out"; exit 1; }
echo "ok   the bundled package passes"

fresh; rm "$tmp/p/USB_DSP.cat" "$tmp/p/x86/libusbDspQx_x86.dll"
expect "two files left out" "USB_DSP.cat: missing" "x86/libusbDspQx_x86.dll: missing" "2 problem"

fresh; rm -r "$tmp/p/ia64"
expect "a folder left out" "ia64/: missing; add the ia64 folder"

fresh; : >"$tmp/p/amd64/libusbDspQx.sys"
expect "an empty driver" "amd64/libusbDspQx.sys: is empty"

fresh; printf '%s' "$inf_text" >"$tmp/p/QX_DSP_USB.inf"
expect "the INF saved as UTF-8" "QX_DSP_USB.inf: is not UTF-16LE"

fresh; write_inf "; QX_DSP_USB.inf QUORVANTIX VID_3C7E&PID_51B8
[Version]
CatalogFile=USB_DSP.cat
"
expect "a short INF" "QX_DSP_USB.inf: is [0-9]* bytes; installed copies are read only above 1600 bytes"

fresh; write_inf "$(printf '; padding line\r\n%.0s' {1..150})$inf_text"
expect "markers pushed past 3200 bytes" \
    '"; QX_DSP_USB.inf" appears only after the first 3200 bytes' \
    '"VID_3C7E&PID_51B8" appears only after the first 3200 bytes'

fresh; write_inf "${inf_text//QUORVANTIX/Quorvantix}"
expect "a marker in another case" '"QUORVANTIX" appears only in another case'

fresh; write_inf "; libusb0 replaced
$inf_text"
expect "the older driver mentioned" 'mentions "libusb0" in its first 3200 bytes'

fresh; { printf '\xff\xfe; \x00\x00\x00'; tail -c +3 "$package/QX_DSP_USB.inf"; } >"$tmp/p/QX_DSP_USB.inf"
expect "a zero unit before the markers" "a zero unit at byte 4 ends the text" 'lacks "QUORVANTIX"'

fresh
# shellcheck disable=SC2001 # a case-blind match at a line's start, which ${//} cannot
write_inf "$(sed 's/^CatalogFile *=.*/CatalogFile=QX.cat\r/I' <<<"$inf_text")"
expect "the wrong catalogue" "names the catalogue QX.cat"

(( failures == 0 )) || exit 1
echo "check-package named every problem"
