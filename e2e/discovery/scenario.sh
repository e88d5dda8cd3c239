#!/usr/bin/env bash
# Discovery on a machine that earlier installations have left their marks
# on: a class instance key, a USB enumeration instance and OEM INF copies.
# scanprobe runs the scans as the installer's legacy stage does and reports
# the candidate INF list and the legacy-driver flag.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix discovery

# ---- registry, in one .reg import.  HKLM\SYSTEM is shared by the two
# registry views, and CurrentControlSet is Wine's link to ControlSet001.
# Wine 8 enumerates a key's values sorted by name, not in the order they
# were created as Windows does, so here DriverDesc always comes before
# InfPath; the opposite order is covered by the host tests only.
CLASS='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{eb781aaf-9c70-4523-a5df-642a87eca567}'
ENUM='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\VID_3C7E&PID_51B8'
reg_file=$E2E_DIR/seed.reg
{
    printf '\xff\xfe'
    sed 's/$/\r/' <<EOF | iconv -f UTF-8 -t UTF-16LE
Windows Registry Editor Version 5.00

; The device installed from oem12.inf.
[$CLASS\\0000]
"DriverDesc"="QX DSP USB"
"InfPath"="oem12.inf"

; A path instead of a file name: never taken.
[$CLASS\\0001]
"DriverDesc"="QX DSP USB"
"InfPath"="..\\\\System32"

[$ENUM\\5&1a2b3c4d&0&1]
"DeviceDesc"="@oem13.inf,%QxDsp.DeviceDesc%;QX DSP USB"

[$ENUM\\5&1a2b3c4d&0&2]
"DeviceDesc"="@*.inf,%QxDsp.DeviceDesc%;QX DSP USB"
EOF
} >"$reg_file"
e2e_wine reg import "$(e2e_win_path "$reg_file")" || e2e_fail "reg import failed"
e2e_reg_query "$CLASS\\0000" /v InfPath | grep -q 'oem12\.inf' ||
    e2e_fail "the class instance was not seeded"

# ---- INF folder: copies of package INFs under oem names.
inf_dir=$(e2e_c_path "$E2E_INF_DIR_WIN")
pkg_text=$(iconv -f UTF-16 -t UTF-8 "$QX_PACKAGE_DIR/QX_DSP_USB.inf" | tr -d '\r')
# utf16 NAME: standard input as UTF-16LE with a byte order mark and CRLF.
utf16() {
    { printf '\xff\xfe'; sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$inf_dir/$1"
}
# The older package: the same INF, mentioning libusb0 near its start.
older_text=$(sed '2a ; Replaces the libusb0 (libusb-win32) driver of earlier versions.' <<<"$pkg_text")

utf16 oem16.inf <<<"$pkg_text"                           # current package
utf16 oem15.inf <<<"${older_text//QUORVANTIX/Quorvantix}" # marker in another case
printf '%s\r\n' "$older_text" >"$inf_dir/oem17.inf"      # 8-bit code page
# All markers, but exactly 1600 bytes: too small to be opened.
printf '; QX_DSP_USB.inf\nQUORVANTIX\nVID_3C7E&PID_51B8\nlibusb0\n' | utf16 oem18.inf
truncate -s 1600 "$inf_dir/oem18.inf"
(( $(stat -c %s "$inf_dir/oem16.inf") > 1600 )) || e2e_fail "oem16.inf is too small to be read"

# run_probe: runs scanprobe; sets CANDIDATES (one per line) and LEGACY.
run_probe() {
    local report=$E2E_DIR/probe.txt tag field
    rm -f "$report"
    e2e_wine "$QX_E2E_BIN/scanprobe.exe" "$(e2e_win_path "$report")" ||
        e2e_fail "scanprobe failed"
    [[ $(tail -n1 "$report") == DONE ]] || e2e_fail "scanprobe's report is incomplete"
    CANDIDATES=""
    LEGACY=""
    while IFS=$'\t' read -r tag field; do
        case $tag in
        CANDIDATE) CANDIDATES+="$field"$'\n' ;;
        LEGACY) LEGACY=$field ;;
        esac
    done <"$report"
    e2e_log "candidates: $(tr '\n' ' ' <<<"$CANDIDATES")legacy-driver flag: $LEGACY"
}

# The class key, then the enumeration key, then the folder; each name once
# although CurrentControlSet and both views show the keys again.
run_probe
e2e_assert_eq $'oem12.inf\noem13.inf\noem16.inf\n' "$CANDIDATES" "candidate INF list"
e2e_assert_eq 0 "$LEGACY" "legacy-driver flag without an older package INF"

# With the older package's INF installed as well.  The INF folder's names
# come in the directory search's order, which under Wine follows the host
# directory and need not be sorted, so they are compared as a set.
utf16 oem14.inf <<<"$older_text"
run_probe
e2e_assert_eq $'oem12.inf\noem13.inf' "$(head -n2 <<<"$CANDIDATES")" "names from the registry"
e2e_assert_eq $'oem14.inf\noem16.inf' "$(tail -n+3 <<<"$CANDIDATES" | grep . | sort)" \
    "names from the INF folder"
e2e_assert_eq 1 "$LEGACY" "legacy-driver flag with the older package INF"
e2e_pass
