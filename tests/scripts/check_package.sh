#!/usr/bin/env bash
# scripts/check-package passes the bundled package and names, one line each,
# what is wrong with damaged copies of it: the problems a release engineer
# makes (a file left out, the INF saved as UTF-8, markers moved or cut,
# the older driver mentioned, the wrong catalogue, a file changed after
# the catalogue was made or left out of it, a catalogue that is none); a
# catalogue member of a hash algorithm Windows does not use is no problem.
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

out=
fresh() { rm -rf "$tmp/p"; cp -r "$package" "$tmp/p"; }
write_inf() { # TEXT (UTF-8), written as UTF-16LE with a byte order mark
    { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; } >"$tmp/p/QX_DSP_USB.inf"
}
# CASE PATTERN...: the check fails and prints a line matching each pattern.
expect() {
    local name=$1 rc p
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

# CASE FILE: the check fails with exactly one problem, naming FILE.
expect_one() {
    expect "$1" "^$tmp/p/$2" "^package NOT ready: 1 problem(s)"
}

fresh; write_inf "${inf_text/Installs the/installs the}"
cmp -s "$package/QX_DSP_USB.inf" "$tmp/p/QX_DSP_USB.inf" &&
    { echo "FAIL the INF edit changed nothing"; failures=$((failures + 1)); }
# cmp -l: the first differing byte's offset, in no language of its own.
if ! [[ $(cmp -l "$package/QX_DSP_USB.inf" "$tmp/p/QX_DSP_USB.inf" | head -1) =~ ^\ *([0-9]+) ]] ||
    (( BASH_REMATCH[1] > 3200 )); then
    echo "FAIL the INF edit is not in the first 3200 bytes"; failures=$((failures + 1))
fi
expect_one "one byte of the INF changed, markers kept" "QX_DSP_USB.inf: its hash is not one USB_DSP.cat lists"

fresh; printf 'Q' | dd of="$tmp/p/amd64/libusbDspQx.sys" bs=1 seek=1536 conv=notrunc status=none
expect_one "one byte of the 64-bit driver changed" "amd64/libusbDspQx.sys: its hash is not one USB_DSP.cat lists"

# A catalogue made without the x86 library, by the same code make-catalog uses.
fresh; /usr/bin/python3 - "$here/../../scripts" "$tmp/p" <<'PY'
import datetime, os, sys
sys.path.insert(0, sys.argv[1])
import qxcatalog
root = sys.argv[2]
files = [(os.path.basename(rel), open(os.path.join(root, rel), "rb").read())
         for rel in qxcatalog.member_files() if rel != "x86/libusbDspQx_x86.dll"]
der = qxcatalog.make_catalogue(files, ["2:5.1", "2:10.0"], [],
                               datetime.datetime(2024, 3, 14, tzinfo=datetime.timezone.utc))
open(os.path.join(root, "USB_DSP.cat"), "wb").write(der)
PY
expect_one "a file missing from the catalogue" "x86/libusbDspQx_x86.dll: is not listed in USB_DSP.cat"

# The catalogue's SHA-1 members and one more of an algorithm Windows'
# catalogues do not use (MD5): the files still match their members.
fresh; /usr/bin/python3 - "$here/../../scripts" "$tmp/p" <<'PY'
import datetime, os, sys
sys.path.insert(0, sys.argv[1])
import qxcatalog
from asn1crypto import cms
root = sys.argv[2]
when = datetime.datetime(2024, 3, 14, tzinfo=datetime.timezone.utc)
files = [(os.path.basename(rel), open(os.path.join(root, rel), "rb").read())
         for rel in qxcatalog.member_files()]
def ctl_of(der):
    info = cms.ContentInfo.load(der)
    return info, info["content"]["encap_content_info"]["content"].parse(qxcatalog.CertificateTrustList)
info, ctl = ctl_of(qxcatalog.make_catalogue(files, ["2:5.1"], [], when))
_, extra = ctl_of(qxcatalog.make_catalogue([("readme.txt", b"read me")], ["2:5.1"], [], when, "md5"))
ctl["trusted_subjects"].append(extra["trusted_subjects"][0])
open(os.path.join(root, "USB_DSP.cat"), "wb").write(info.dump(force=True))
PY
if out=$(python3 "$check" "$tmp/p" 2>&1); then
    echo "ok   a member of another hash algorithm leaves the SHA-1 members matched"
else
    echo "FAIL a member of another hash algorithm:"
    # shellcheck disable=SC2001 # indents every line, which ${//} cannot
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
fi

fresh; printf 'Catalogue to come.\r\n' >"$tmp/p/USB_DSP.cat"
expect_one "a text file for a catalogue" "USB_DSP.cat: is not a PKCS#7 catalogue"
grep -q Traceback <<<"$out" && { echo "FAIL a traceback for a text catalogue"; failures=$((failures + 1)); }

fresh; openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=x -keyout /dev/null -outform DER \
    -out "$tmp/p/USB_DSP.cat" 2>/dev/null
expect_one "a certificate for a catalogue" "USB_DSP.cat: is not a PKCS#7 catalogue"

(( failures == 0 )) || exit 1
echo "check-package named every problem"
