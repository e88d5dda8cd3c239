#!/usr/bin/env bash
# scripts/release ships the bundled package signed with a throwaway
# self-signed code-signing certificate: the signature verifies, SHA256SUMS
# checks, the package files are the package's and the zip holds the
# folder; its summary carries the catalogue's signer note.  A broken
# package, a package its catalogue does not cover, a production release
# of a test-signed catalogue, a wrong password and an unreachable
# time-stamp server are refused, and nothing is written then.
#
#   tests/scripts/release.sh SOURCE_DIR RELEASE_DIR
#
# RELEASE_DIR is the good release, kept for the Wine scenario that runs
# its signed installer; its folder also holds the release's build folder,
# kept between runs, and the refused releases' would-be folders.
set -uo pipefail
src=$1
out=$2
work=$(dirname "$out")
release=$src/scripts/release
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

mkdir -p "$work"
rm -rf "$out" "$out.zip" "$work"/refused*

ok() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }

# A code-signing certificate of its own, in a PKCS#12 file with a password.
printf 'release test password\n' >"$tmp/password"
printf 'wrong password\n' >"$tmp/wrong"
# shellcheck disable=SC2015 # either failing is a failure
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QxDsp Release Test/O=Quorvantix" \
    -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
    -keyout "$tmp/key.pem" -out "$tmp/cert.pem" >"$tmp/openssl.log" 2>&1 &&
    openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" -out "$tmp/cert.pfx" \
        -passout "file:$tmp/password" >>"$tmp/openssl.log" 2>&1 ||
    { echo "FAIL: no test certificate:"; cat "$tmp/openssl.log"; exit 1; }
sign=(--sign "$tmp/cert.pfx" --password-file "$tmp/password" --build-dir "$work/build")

# refused CASE STATUS PATTERN ARGS...: the release of ARGS into
# $work/refused exits with STATUS, prints a line matching PATTERN and
# leaves the work folder as it was.
refused() {
    local name=$1 want=$2 pattern=$3 rc before after
    shift 3
    before=$(ls -A "$work")
    "$release" "$@" "$work/refused" >"$tmp/stdout" 2>"$tmp/stderr"
    rc=$?
    after=$(ls -A "$work")
    if (( rc != want )); then
        fail "$name: exit $rc, expected $want"
    elif ! grep -q -- "$pattern" "$tmp/stdout" "$tmp/stderr"; then
        fail "$name: no line matching $pattern"
    elif [[ $before != "$after" ]]; then
        fail "$name: the work folder changed: $(diff <(echo "$before") <(echo "$after") | tr '\n' ' ')"
    else
        ok "$name"
        return
    fi
    sed 's/^/    /' "$tmp/stdout" "$tmp/stderr"
}

cp -r "$src/package" "$tmp/broken"
rm "$tmp/broken/USB_DSP.cat"
refused "a broken package is refused with the checker's lines" 1 "USB_DSP.cat: missing" \
    "$tmp/broken" "${sign[@]}"

cp -r "$src/package" "$tmp/uncovered"
printf 'Q' | dd of="$tmp/uncovered/amd64/libusbDspQx.sys" bs=1 seek=1536 conv=notrunc status=none
refused "a package its catalogue does not cover is refused with the checker's line" 1 \
    "amd64/libusbDspQx.sys: its hash is not one USB_DSP.cat lists" "$tmp/uncovered" "${sign[@]}"

cp -r "$src/package" "$tmp/testsigned"
"$src/scripts/make-catalog" "$tmp/testsigned" --sign "$tmp/cert.pfx" --password-file "$tmp/password" >/dev/null
refused "a production release of a test-signed catalogue is refused" 1 \
    "USB_DSP.cat: is signed by CN=QxDsp Release Test, O=Quorvantix, not through Microsoft's hardware signing" \
    "$tmp/testsigned" --production "${sign[@]}"

refused "a wrong password is refused in one line" 2 "^release: .*wrong password" \
    "$src/package" --sign "$tmp/cert.pfx" --password-file "$tmp/wrong" --build-dir "$work/build"
[[ $(wc -l <"$tmp/stderr") == 1 ]] || fail "the wrong password took more than one line"

if "$release" "${sign[@]}" "$src/package" "$out" >"$tmp/stdout" 2>&1; then
    ok "the bundled package releases signed"
    sed 's/^/    /' "$tmp/stdout"
    grep -q "^  catalogue  *not signed: Windows 10 and 11 refuse the package" "$tmp/stdout" ||
        fail "the summary lacks the catalogue's signer note"
else
    fail "the bundled package did not release:"
    sed 's/^/    /' "$tmp/stdout"
    exit 1
fi

if osslsigncode verify -CAfile "$tmp/cert.pem" -in "$out/QxDspInstaller.exe" >"$tmp/verify" 2>&1 &&
    grep -q "Quorvantix Dsp Usb Driver Installer" "$tmp/verify"; then
    ok "the signature verifies and names the product"
else
    fail "the signature does not verify:"
    sed 's/^/    /' "$tmp/verify"
fi

if (cd "$out" && sha256sum --quiet -c SHA256SUMS) >"$tmp/sums" 2>&1 &&
    [[ $(wc -l <"$out/SHA256SUMS") == $(($(find "$out" -type f | wc -l) - 1)) ]]; then
    ok "SHA256SUMS checks and names every other file"
else
    fail "SHA256SUMS does not check or misses files:"
    sed 's/^/    /' "$tmp/sums" "$out/SHA256SUMS"
fi

kit=() not_kit=()
for f in "$src"/sandbox/*; do kit+=("${f##*/}") not_kit+=(-x "${f##*/}"); done
if diff -r -x QxDspInstaller.exe -x SHA256SUMS "${not_kit[@]}" "$src/package" "$out" >"$tmp/diff"; then
    ok "the release holds the package's files unchanged"
else
    fail "the release's package files differ:"
    sed 's/^/    /' "$tmp/diff"
fi

# The Windows Sandbox kit: each file of sandbox/, every line ending CR LF.
for name in "${kit[@]}"; do
    f=$out/$name
    if [[ -s $f && -z $(tail -c 1 "$f") ]] && ! grep -qv $'\r$' "$f" &&
        diff <(tr -d '\r' <"$f") <(tr -d '\r' <"$src/sandbox/$name") >/dev/null; then
        ok "the release holds $name with CR LF line ends"
    else
        fail "the release lacks $name, or not every line of it ends CR LF"
    fi
done

# The launcher's filling of the template (its own pattern, SecurityElement's
# escaping) for a folder whose path holds &, ', spaces and Chinese: valid
# XML that maps that folder read-only, the results writable, and runs
# sandbox-run.cmd from the bundle.
if python3 - "$out" >"$tmp/wsb" 2>&1 <<'EOF'; then
import re, sys, xml.etree.ElementTree as ET
launcher = open(sys.argv[1] + "/try-in-windows-sandbox.cmd", encoding="utf-8").read()
template = open(sys.argv[1] + "/windows-sandbox.wsb.template", encoding="utf-8").read()
pattern = re.search(r"\[regex\]::Replace\(\$t, '([^']+)'", launcher)[1]
bundle = "C:\\Users\\张三\\R&D 'QX' 驱动\\QxDsp 1.2\\"
env = {name: bundle + "sandbox-results\\" + name for name in re.findall(pattern, template)}
assert env and all(f'set "{name}=' in launcher for name in env), f"not set by the launcher: {env}"
env[re.search(r'set "(\w+)=%~dp0"', launcher)[1]] = bundle
xml_escape = {"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&apos;"}
filled = re.sub(pattern, lambda m: "".join(xml_escape.get(c, c) for c in env[m[1]]), template)
config = ET.fromstring(filled.encode("utf-8"))
folders = {m.findtext("HostFolder"): (m.findtext("SandboxFolder"), m.findtext("ReadOnly"))
           for m in config.iter("MappedFolder")}
writable = [host for host, (_, read_only) in folders.items() if read_only == "false"]
assert folders.get(bundle, ("", ""))[1] == "true", folders
assert len(folders) == 2 and writable and writable[0] in env.values(), folders
assert folders[bundle][0] + "\\sandbox-run.cmd" in config.findtext("LogonCommand/Command"), filled
EOF
    ok "the sandbox configuration is valid XML for a path with &, ' and Chinese, the bundle read-only"
else
    fail "the filled sandbox configuration is wrong:"
    sed 's/^/    /' "$tmp/wsb"
fi

python3 -m zipfile -e "$out.zip" "$tmp/unzipped" &&
    if diff -r "$out" "$tmp/unzipped/$(basename "$out")" >"$tmp/diff" &&
        [[ $(ls -A "$tmp/unzipped") == "$(basename "$out")" ]]; then
        ok "the zip holds the release folder and nothing else"
    else
        fail "the zip differs from the release folder:"
        sed 's/^/    /' "$tmp/diff"
    fi

# A loopback port nothing listens on: the connection is refused at once.
refused "an unreachable time-stamp server is refused" 2 "^release: no time stamp from" \
    "$src/package" "${sign[@]}" --timestamp http://127.0.0.1:9/

(( failures == 0 )) || exit 1
echo "release: every check passed"
