#!/usr/bin/env bash
# scripts/make-catalog makes the same catalogue twice from the same
# package; signed with a throwaway certificate it verifies with
# osslsigncode, whose image hashes agree with ours, and
# scripts/check-package names that certificate's subject as the signer,
# says that Windows asks the user, notes a time stamp, verifies it with
# --ca, and takes a certificate bearing Microsoft's publisher name by that
# name; a catalogue changed after it was signed is one problem.  A PE
# image signed after the catalogue was made still matches its member; a
# catalogue for Windows 7 and later passes with a warning about XP.
#
#   tests/scripts/make_catalog.sh PACKAGE_DIR
set -uo pipefail
package=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

ok() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    local line
    if [[ -n ${2:-} ]]; then
        while IFS= read -r line; do echo "    $line"; done <<<"$2"
    fi
    failures=$((failures + 1))
}

# expect_check RC PATTERN WHAT ARGS...: scripts/check-package ARGS exits
# with RC and prints a line that PATTERN (grep's) matches.
expect_check() {
    local want=$1 pattern=$2 what=$3 out rc
    shift 3
    out=$("$scripts/check-package" "$@" 2>&1)
    rc=$?
    if (( rc == want )) && grep -q -- "$pattern" <<<"$out"; then
        ok "$what"
    else
        fail "$what (exit $rc)" "$out"
    fi
}

# A code-signing certificate of its own, another one to refuse, and one
# that merely bears the name of Microsoft's hardware signing publisher,
# with the attestation signing usage.
printf 'catalogue test password\n' >"$tmp/password"
declare -A subject=([signer]="/CN=QxDsp Catalogue Test signer/O=Quorvantix"
    [stranger]="/CN=QxDsp Catalogue Test stranger/O=Quorvantix"
    [lookalike]="/CN=Microsoft Windows Hardware Compatibility Publisher/O=Not Microsoft")
declare -A usage=([signer]=codeSigning [stranger]=codeSigning
    [lookalike]="codeSigning,1.3.6.1.4.1.311.10.3.5.1")
for who in signer stranger lookalike; do
    if ! { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "${subject[$who]}" \
        -addext "extendedKeyUsage=${usage[$who]}" -addext keyUsage=digitalSignature \
        -keyout "$tmp/$who.key" -out "$tmp/$who.pem" &&
        openssl pkcs12 -export -inkey "$tmp/$who.key" -in "$tmp/$who.pem" \
            -out "$tmp/$who.pfx" -passout "file:$tmp/password"; } >"$tmp/openssl.log" 2>&1; then
        echo "FAIL: no test certificate:"; cat "$tmp/openssl.log"; exit 1
    fi
done

cp -r "$package" "$tmp/a"
cp -r "$package" "$tmp/b"
if ! { "$scripts/make-catalog" "$tmp/a" && "$scripts/make-catalog" "$tmp/b"; } >/dev/null; then
    echo "FAIL: make-catalog failed"; exit 1
fi
if cmp -s "$tmp/a/USB_DSP.cat" "$tmp/b/USB_DSP.cat" && cmp -s "$tmp/a/USB_DSP.cat" "$package/USB_DSP.cat"; then
    ok "the same package gives the same unsigned catalogue ($(stat -c %s "$tmp/a/USB_DSP.cat") bytes)"
else
    fail "two unsigned catalogues of the same package differ"
fi

# Dates: 2050 and later are written as GeneralizedTime (UTCTime's two
# digits stop at 2049); a DriverVer date that is none is one line, exit 2.
cp -r "$package" "$tmp/d"
if out=$(SOURCE_DATE_EPOCH=2524608000 "$scripts/make-catalog" "$tmp/d" 2>&1) &&
    grep -q 20500101000000Z "$tmp/d/USB_DSP.cat" && out=$("$scripts/check-package" "$tmp/d" 2>&1); then
    ok "a catalogue dated 2050 is written with a four-digit year and reads back"
else
    fail "a catalogue dated 2050" "$out"
fi
tail -c +3 "$package/QX_DSP_USB.inf" | iconv -f UTF-16LE -t UTF-8 |
    sed 's|^DriverVer *= *[0-9/]*|DriverVer = 13/40/2024|' >"$tmp/bad-date.inf"
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$tmp/bad-date.inf"; } >"$tmp/d/QX_DSP_USB.inf"
out=$(env -u SOURCE_DATE_EPOCH "$scripts/make-catalog" "$tmp/d" 2>&1)
rc=$?
if (( rc == 2 )) && [[ $out == "make-catalog: DriverVer date 13/40/2024 is not a date" ]]; then
    ok "a DriverVer date that is none is one line, exit 2"
else
    fail "a DriverVer date that is none: exit $rc" "$out"
fi

cp -r "$package" "$tmp/s"
if ! out=$("$scripts/make-catalog" "$tmp/s" --sign "$tmp/signer.pfx" --password-file "$tmp/password" 2>&1); then
    fail "make-catalog --sign failed" "$out"
fi
printf 'not the password\n' >"$tmp/wrong-password"
out=$("$scripts/make-catalog" "$tmp/s" --sign "$tmp/signer.pfx" --password-file "$tmp/wrong-password" 2>&1)
rc=$?
if (( rc == 2 )) && [[ $out == "make-catalog: signing failed: "* && $out != *$'\n'* ]]; then
    ok "a failed signing is one line, exit 2"
else
    fail "a failed signing: exit $rc" "$out"
fi
# osslsigncode verifies a catalogue by way of a PE image it lists from
# version 2.8 (-catalog), computing the image's Authenticode hash itself;
# older ones verify the catalogue alone.
verify_catalogue() { # PACKAGE: every PE image of it, or the catalogue alone
    local image out
    if osslsigncode --help 2>&1 | grep -q -- '-catalog'; then
        for image in amd64/libusbDspQx.dll amd64/libusbDspQx.sys x86/libusbDspQx.sys x86/libusbDspQx_x86.dll; do
            out=$(osslsigncode verify -CAfile "$tmp/signer.pem" -catalog "$1/USB_DSP.cat" \
                -in "$1/$image" 2>&1) || { echo "$image: $out"; return 1; }
        done
    else
        osslsigncode verify -CAfile "$tmp/signer.pem" -in "$1/USB_DSP.cat" 2>&1
    fi
}
version=$(osslsigncode --version | head -1 | cut -d, -f1)
if out=$(verify_catalogue "$tmp/s"); then
    ok "the signed catalogue verifies with $version, with the same image hashes"
else
    fail "the signed catalogue does not verify with $version" "$out"
fi

expect_check 0 "USB_DSP.cat: signed by CN=QxDsp Catalogue Test signer, O=Quorvantix (self-signed), not time-stamped: .*Windows asks the user" \
    "check-package names the test certificate as the signer and says Windows asks the user" "$tmp/s"

# The INF edited after signing and its member's hash patched to match it
# inside the signed catalogue: every member matches, but the signature no
# longer covers the catalogue, with or without --ca.
cp -r "$tmp/s" "$tmp/x"
old_hash=$(sha1sum <"$tmp/x/QX_DSP_USB.inf" | cut -c1-40)
printf ';\0\r\0\n\0' >>"$tmp/x/QX_DSP_USB.inf"
new_hash=$(sha1sum <"$tmp/x/QX_DSP_USB.inf" | cut -c1-40)
/usr/bin/python3 -c 'import sys
path, old, new = sys.argv[1], bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3])
data = open(path, "rb").read()
assert data.count(old) == 1, "the INF member hash is not in the catalogue once"
open(path, "wb").write(data.replace(old, new))' "$tmp/x/USB_DSP.cat" "$old_hash" "$new_hash" ||
    { echo "FAIL: could not patch the signed catalogue"; exit 1; }
for ca in "" "$tmp/signer.pem"; do
    out=$("$scripts/check-package" ${ca:+--ca "$ca"} "$tmp/x" 2>&1)
    rc=$?
    if (( rc == 1 )) && grep -q "^$tmp/x/USB_DSP.cat: its signature does not match its content .*make and sign it again" <<<"$out" &&
        grep -qx "package NOT ready: 1 problem(s) in $tmp/x" <<<"$out"; then
        ok "a catalogue patched after signing is one problem${ca:+ (with --ca)}"
    else
        fail "a catalogue patched after signing${ca:+ (with --ca)}" "$out"
    fi
done

# The same catalogue signed with a time stamp of a local time-stamping
# authority (osslsigncode -TSA-*, no network).
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QxDsp Test TSA" \
    -addext "extendedKeyUsage=critical,timeStamping" -keyout "$tmp/tsa.key" -out "$tmp/tsa.pem" \
    >"$tmp/openssl.log" 2>&1 || { echo "FAIL: no TSA certificate:"; cat "$tmp/openssl.log"; exit 1; }
cp -r "$package" "$tmp/t"
rm "$tmp/t/USB_DSP.cat"
osslsigncode sign -pkcs12 "$tmp/signer.pfx" -readpass "$tmp/password" -h sha256 \
    -TSA-certs "$tmp/tsa.pem" -TSA-key "$tmp/tsa.key" -TSA-time 1765000000 \
    -in "$package/USB_DSP.cat" -out "$tmp/t/USB_DSP.cat" >"$tmp/sign.log" 2>&1 ||
    { echo "FAIL: could not time-stamp the catalogue:"; cat "$tmp/sign.log"; exit 1; }
expect_check 0 "USB_DSP.cat: signed by CN=QxDsp Catalogue Test signer, O=Quorvantix (self-signed), time-stamped: " \
    "a time-stamped signature is noted as time-stamped" "$tmp/t"

expect_check 0 "the signature verifies against the root certificate $tmp/signer.pem" \
    "--ca with the signer's root verifies the signature" --ca "$tmp/signer.pem" "$tmp/s"
expect_check 1 "USB_DSP.cat: its signature does not verify against $tmp/stranger.pem" \
    "--ca with another root is a problem" --ca "$tmp/stranger.pem" "$tmp/s"

cp -r "$package" "$tmp/m"
"$scripts/make-catalog" "$tmp/m" --sign "$tmp/lookalike.pfx" --password-file "$tmp/password" >/dev/null
expect_check 0 "USB_DSP.cat: signed through Microsoft's hardware signing by CN=Microsoft Windows Hardware Compatibility Publisher, O=Not Microsoft, not time-stamped; an attestation signature: installs without a question on Windows 10 and 11 only, and only on the versions its OSAttr names: .*; the publisher is told by the certificate's name, not verified" \
    "a signer bearing Microsoft's publisher name is taken for an attestation signature, told by its name only" "$tmp/m"

# Signing the 64-bit driver itself (an embedded signature) after the
# catalogue was made leaves its Authenticode hash as it was.
rm "$tmp/a/amd64/libusbDspQx.sys"
if ! osslsigncode sign -pkcs12 "$tmp/signer.pfx" -readpass "$tmp/password" -h sha256 \
    -in "$package/amd64/libusbDspQx.sys" -out "$tmp/a/amd64/libusbDspQx.sys" >"$tmp/sign.log" 2>&1; then
    echo "FAIL: could not sign the driver:"; cat "$tmp/sign.log"; exit 1
fi
out=$("$scripts/check-package" "$tmp/a" 2>&1)
rc=$?
if (( rc == 0 )) && ! cmp -s "$package/amd64/libusbDspQx.sys" "$tmp/a/amd64/libusbDspQx.sys"; then
    ok "a driver signed after the catalogue was made still matches its member"
else
    fail "a driver signed after the catalogue was made does not match" "$out"
fi

# An image whose size is not a multiple of 8 is hashed with the zeros a
# signing tool pads it with: the same hash before and after its signing.
cp -r "$package" "$tmp/u"
printf 'odd' >>"$tmp/u/x86/libusbDspQx_x86.dll"
"$scripts/make-catalog" "$tmp/u" --sign "$tmp/signer.pfx" --password-file "$tmp/password" >/dev/null
mv "$tmp/u/x86/libusbDspQx_x86.dll" "$tmp/unsigned.dll"
osslsigncode sign -pkcs12 "$tmp/signer.pfx" -readpass "$tmp/password" -h sha256 \
    -in "$tmp/unsigned.dll" -out "$tmp/u/x86/libusbDspQx_x86.dll" >"$tmp/sign.log" 2>&1 ||
    { echo "FAIL: could not sign the library:"; cat "$tmp/sign.log"; exit 1; }
out=$("$scripts/check-package" "$tmp/u" 2>&1)
rc=$?
if (( rc == 0 )) && cp "$tmp/unsigned.dll" "$tmp/u/x86/libusbDspQx_x86.dll" &&
    out=$(verify_catalogue "$tmp/u") && "$scripts/check-package" "$tmp/u" >/dev/null; then
    ok "an image of a size not a multiple of 8 matches its member signed and unsigned"
else
    fail "an image of a size not a multiple of 8 does not match its member" "$out"
fi

# An INF whose models name Windows 7 (6.1) and later.
tail -c +3 "$package/QX_DSP_USB.inf" | iconv -f UTF-16LE -t UTF-8 |
    sed 's/ NTx86, NTamd64, NTia64/ NTx86.6.1, NTamd64.6.1, NTia64.6.1/' >"$tmp/seven.inf"
grep -q 'NTx86\.6\.1' "$tmp/seven.inf" || { echo "FAIL: could not retarget the INF"; exit 1; }
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$tmp/seven.inf"; } >"$tmp/b/QX_DSP_USB.inf"
"$scripts/make-catalog" "$tmp/b" >/dev/null
expect_check 0 "USB_DSP.cat: for Windows 7, .*(OSAttr 2:6.1,2:6.2,2:6.3,2:10.0); warning: Windows XP" \
    "a catalogue for Windows 7 and later passes with a warning about XP" "$tmp/b"

(( failures == 0 )) || exit 1
echo "make-catalog: every check passed"
