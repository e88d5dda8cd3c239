# shellcheck shell=bash
# An older installation of the device's driver, as a 32-bit process on
# 64-bit Windows sees it, beside look-alikes of every target; sourced by
# the scenarios that remove it and by scripts/try --older, after lib.sh.
#
#   older_seed              seeds the prefix (after e2e_new_prefix)
#   older_snapshot          records the places the sweep touches
#   older_assert_removed [C:/REL...]
#                           every target is gone and everything else is as
#                           it was; the REL paths (below drive C) may have
#                           been added by the run
#   older_assert_removed_after_install
#                           older_assert_removed, the run having registered
#                           the package (its INF copies in the INF folder)
#   older_report            prints which targets went and which stayed
#   older_libusb0_shared    makes libusb0's files, lockdown entries and
#                           services no targets (after older_seed: another
#                           device runs libusb0, so they must stay)
#   older_setup_refuses INF makes INF's copy one Setup refuses: it and
#                           the store folders are no targets
#
# Measured under Wine 8.0 in the default 64-bit prefix:
# - a 32-bit process's C:\windows\system32 is syswow64, DriverStore and
#   drivers included, and C:\windows\Sysnative is system32; neither
#   syswow64\DriverStore nor syswow64\drivers exists until made;
# - SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Setup is a link
#   to the native Setup key, so both PnpLockdownFiles trees are one key;
# - CurrentControlSet is a key of its own, and there is no ControlSet001
#   or ControlSet002 until someone makes them;
# - a key's values enumerate sorted by name, so DriverDesc comes before
#   InfPath whatever the order they were written in;
# - SetupGetInfDriverStoreLocationW is not implemented, so a run in which
#   Setup refuses an INF copy deletes no store folder by hand.

HKLM=HKEY_LOCAL_MACHINE
CLASS='Control\Class\{eb781aaf-9c70-4523-a5df-642a87eca567}'
wow=windows/syswow64
store=$wow/DriverStore/FileRepository

# Paths relative to drive C:, as they are on disk.
declare -ga target_files=(
    "$store/qx_dsp_usb.inf_amd64_d4"
    "$store/qx_dsp_usb.inf_x86_b2"
    "$store/qx_dsp_usb.inf"
    "$wow/libusb0.dll"
    "$wow/libusbDspQx.dll"
    # The native System32, which the run reaches through Sysnative.
    windows/system32/drivers/libusb0.sys
    windows/system32/libusb0.dll
    windows/system32/libusbDspQx.dll
    windows/inf/oem12.inf
    windows/inf/oem12.PNF
    windows/inf/oem13.inf
    windows/inf/oem13.pnf # the sweep names it oem13.PNF: case does not matter
)
declare -ga control_files=(
    "$store/QX_DSP_USB.INF_amd64_a1" # another case: not the device's
    "$store/qx_dsp_usb.in"
    "$store/other_usb.inf_x86_c3"
    "$store/qx_dsp_usb.inf_old"      # a file, not a folder
    "$wow/drivers/libusbDspQx.sys"   # no libusbDspQx.sys is ever deleted
    "$wow/drivers/libusb0.sys.bak"
    "$wow/libusbDspQx.sys"
    "$wow/libusb0x.dll"
    "$wow/drivers/libusb0.sys"       # no row names SysWOW64's drivers
    windows/system32/libusb0x.dll
    windows/inf/oem1.inf
    windows/inf/oem1.pnf
    windows/inf/oem120.inf
    windows/inf/oem13.inf.bak
)
LOCKDOWN='SOFTWARE\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles'
LOCKDOWN32='SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Setup\PnpLockdownFiles'
DEVICE='Enum\USB\VID_3C7E&PID_51B8'
declare -ga SETS=(CurrentControlSet ControlSet001 ControlSet002)

declare -ga target_keys=()
declare -ga target_values=() # value names of the PnpLockdownFiles key
for driver in libusb0 libusbDspQx; do
    for f in "system32/drivers/$driver.sys" "system32/$driver.dll" "syswow64/$driver.dll"; do
        for tree in "$LOCKDOWN" "$LOCKDOWN32"; do
            target_keys+=("$HKLM\\$tree\\%SystemRoot%/$f")
        done
        target_values+=("%SystemPath%\\${f//\//\\}")
    done
    for set in "${SETS[@]}"; do
        target_keys+=("$HKLM\\SYSTEM\\$set\\$DEVICE" "$HKLM\\SYSTEM\\$set\\Services\\$driver")
    done
done

# reg_escape TEXT: TEXT as a quoted name or string of a .reg file.
reg_escape() { local t=${1//\\/\\\\}; printf '"%s"' "${t//\"/\\\"}"; }

# Keys whose trees hold the look-alikes above, most of them beside targets.
declare -ga reg_roots=(
    "$HKLM\\$LOCKDOWN"
    "$HKLM\\$LOCKDOWN32"
    "$HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB"
    "$HKLM\\SYSTEM\\ControlSet001"
    "$HKLM\\SYSTEM\\ControlSet002"
    "$HKLM\\SYSTEM\\ControlSet003"
)
# The target services themselves are checked gone by query.
for s in libusb0x libusbK libusbDspQxFilter; do
    reg_roots+=("$HKLM\\SYSTEM\\CurrentControlSet\\Services\\$s")
done


# older_seed: the older installation and its look-alikes, files first.
older_seed() {
    drive=$WINEPREFIX/drive_c
    for f in "${target_files[@]}" "${control_files[@]}"; do
        case $f in
        "$store"/*_old) ;;
        "$store"/*)
            mkdir -p "$drive/$f/amd64"
            printf '[Version]\r\n; %s\r\n' "$f" >"$drive/$f/qx_dsp_usb.inf"
            printf 'driver of %s' "$f" >"$drive/$f/amd64/libusbDspQx.sys"
            continue
            ;;
        esac
        mkdir -p "$(dirname "$drive/$f")"
        printf 'content of %s' "$f" >"$drive/$f"
    done

    # One .reg import: the older installation's keys and values, and
    # look-alikes that differ from a target in one way each.
    reg_file=$E2E_DIR/seed.reg
    # shellcheck disable=SC2028 # bash's echo writes the .reg's backslashes as they are
    {
        echo 'Windows Registry Editor Version 5.00'
        for tree in "$LOCKDOWN" "$LOCKDOWN32"; do
            # libusb0's entries through the native path, libusbDspQx's through
            # WOW6432Node: each reaches the key a 32-bit view names.
            [[ $tree == "$LOCKDOWN" ]] && driver=libusb0 || driver=libusbDspQx
            echo
            echo "[$HKLM\\$tree]"
            for f in "system32/drivers/$driver.sys" "system32/$driver.dll" \
                "syswow64/$driver.dll" "system32/drivers/usbhub$driver.sys"; do
                echo "$(reg_escape "%SystemPath%\\${f//\//\\}")=\"owned\""
                echo "$(reg_escape "%SystemPath%\\${f//\//\\}.old")=\"look-alike\""
                echo "$(reg_escape "%SystemRoot%\\${f//\//\\}")=\"look-alike\""
            done
            for f in "system32/drivers/$driver.sys" "system32/$driver.dll" \
                "syswow64/$driver.dll" "system32/drivers/$driver.sys.bak" \
                "system32/drivers/usbhub.sys"; do
                echo
                echo "[$HKLM\\$tree\\%SystemRoot%/$f]"
                echo '"Class"=dword:00000001'
                echo "\"Owners\"=\"$driver\""
                echo
                echo "[$HKLM\\$tree\\%SystemRoot%/$f\\Owners]"
                echo '"oem12.inf"=""'
            done
        done
        for set in "${SETS[@]}" ControlSet003; do
            for k in "$DEVICE" 'Enum\USB\VID_3C7E&PID_51B9' 'Enum\USB\VID_3C7E&PID_51B8&MI_00'; do
                echo
                echo "[$HKLM\\SYSTEM\\$set\\$k\\5&1a2b3c4d&0&1]"
                echo '"DeviceDesc"="@oem12.inf,%QxDsp.DeviceDesc%;QX DSP USB"'
                echo
                echo "[$HKLM\\SYSTEM\\$set\\$k\\5&1a2b3c4d&0&1\\Device Parameters]"
                echo '"SymbolicName"="\\\\??\\\\USB#VID_3C7E&PID_51B8"'
            done
            for s in libusb0 libusbDspQx libusb0x libusbK libusbDspQxFilter; do
                echo
                echo "[$HKLM\\SYSTEM\\$set\\Services\\$s]"
                echo "\"ImagePath\"=\"System32\\\\drivers\\\\$s.sys\""
                echo '"Start"=dword:00000003'
                echo
                echo "[$HKLM\\SYSTEM\\$set\\Services\\$s\\Enum]"
                echo '"Count"=dword:00000001'
            done
        done
        # What discovery reads: the device's class instance naming the INF
        # it was installed from (the enumeration instances above name
        # oem12.inf in their DeviceDesc).
        for set in "${SETS[@]}"; do
            echo
            echo "[$HKLM\\SYSTEM\\$set\\$CLASS\\0000]"
            echo '"DriverDesc"="QX DSP USB"'
            echo '"InfPath"="oem13.inf"'
        done
    } >"$reg_file.txt"
    { printf '\xff\xfe'; sed 's/$/\r/' "$reg_file.txt" | iconv -f UTF-8 -t UTF-16LE; } >"$reg_file"
    e2e_wine reg import "$(e2e_win_path "$reg_file")" || e2e_fail "reg import failed"
}

# older_libusb0_shared: libusb0's targets become things the run must leave
# as they were.
older_libusb0_shared() {
    local -a files=() keys=() values=()
    local f k v
    for f in "${target_files[@]}"; do
        if [[ ${f,,} == *libusb0.* ]]; then control_files+=("$f"); else files+=("$f"); fi
    done
    for k in "${target_keys[@]}"; do
        [[ ${k,,} == *libusb0.* || ${k,,} == *'\libusb0' ]] || keys+=("$k")
    done
    for v in "${target_values[@]}"; do
        [[ ${v,,} == *libusb0.* ]] || values+=("$v")
    done
    target_files=("${files[@]}")
    target_keys=("${keys[@]}")
    target_values=("${values[@]}")
    # ControlSet001 and ControlSet002 are exported whole already.
    reg_roots+=("$HKLM\\SYSTEM\\CurrentControlSet\\Services\\libusb0")
}

# older_setup_refuses INF: INF's copy read-only, which Wine 8's Setup
# refuses to uninstall (ERROR_ACCESS_DENIED): it and its PNF must stay,
# and so must the store folders (see above).
older_setup_refuses() {
    local f stem=windows/inf/${1%.*} kept=()
    chmod a-w "$WINEPREFIX/drive_c/windows/inf/$1"
    for f in "${target_files[@]}"; do
        if [[ ${f,,} == "${stem,,}".* || $f == "$store"/* ]]; then control_files+=("$f"); else kept+=("$f"); fi
    done
    target_files=("${kept[@]}")
}

# snapshot_files: every file and folder where the sweep deletes, one line
# each: a file with its size, content digest and last-write time; a folder
# by its name only, since deleting in it changes its own time.
snapshot_files() {
    (
        cd "$drive" || exit 1
        find "$store" "$wow/drivers" windows/system32/drivers windows/inf \
            "$wow"/libusb* windows/system32/libusb* \
            -printf '%y %s %T@ %p\n' | LC_ALL=C sort -k4 |
            while read -r type size time path; do
                if [[ $type == f ]]; then
                    printf '%s\tfile %s %s %s\n' "$path" "$size" \
                        "$(md5sum <"$path" | cut -c1-32)" "$time"
                else
                    printf '%s\t%s\n' "$path" "$type"
                fi
            done
    )
}

# without_files TARGET...: standard input without the lines of the targets
# and of everything below them.
without_files() {
    local line path t keep
    while IFS= read -r line; do
        path=${line%%$'\t'*}
        keep=1
        for t in "$@"; do
            [[ $path == "$t" || $path == "$t"/* ]] && keep=0
        done
        (( keep )) && printf '%s\n' "$line"
    done
    return 0
}

# snapshot_registry DIR: each root's export in DIR/N.reg (missing: empty).
snapshot_registry() {
    local dir=$1 i
    rm -rf "$dir"
    mkdir -p "$dir"
    for i in "${!reg_roots[@]}"; do
        e2e_reg_export "${reg_roots[i]}" "$dir/$i.reg" >/dev/null 2>&1 || : >"$dir/$i.reg"
    done
}

# without_registry: an export on standard input without the target keys'
# sections (and those below them) and without the target value lines.
without_registry() {
    local names
    names=$(for v in "${target_values[@]}"; do printf '%s=\n' "$(reg_escape "$v")"; done)
    # Through the environment: awk -v would read backslashes as escapes.
    KEYS=$(printf '%s\n' "${target_keys[@]}") VALUES=$names awk '
        BEGIN {
            nk = split(tolower(ENVIRON["KEYS"]), k, "\n")
            nv = split(tolower(ENVIRON["VALUES"]), v, "\n")
        }
        /^\[/ {
            key = tolower(substr($0, 2, length($0) - 2))
            skip = 0
            for (i = 1; i <= nk; i++)
                if (k[i] != "" && (key == k[i] || index(key, k[i] "\\") == 1))
                    skip = 1
            lockdown = key ~ /\\pnplockdownfiles$/
        }
        skip { next }
        lockdown && !/^\[/ {
            line = tolower($0)
            for (i = 1; i <= nv; i++)
                if (v[i] != "" && index(line, v[i]) == 1)
                    next
        }
        { print }'
}


# older_snapshot: the places the sweep touches, before the run.
older_snapshot() {
    drive=$WINEPREFIX/drive_c
    snapshot_files >"$E2E_DIR/files.before"
    snapshot_registry "$E2E_DIR/reg.before"
    for f in "${target_files[@]}"; do
        [[ -e $drive/$f ]] || e2e_fail "target $f was not seeded"
    done
    for k in "${target_keys[@]}"; do
        e2e_reg_query "$k" >/dev/null || e2e_fail "target key $k was not seeded"
    done
    grep -qi 'libusb0' "$E2E_DIR/reg.before/0.reg" || e2e_fail "PnpLockdownFiles was not seeded"
}

# older_assert_removed [REL...]: every target gone, everything else as
# it was; REL paths (below drive C) may have been added by the run.
# shellcheck disable=SC2120 # the argument is optional; calls without one (SC2119) take the default
older_assert_removed() {
    drive=$WINEPREFIX/drive_c
    for f in "${target_files[@]}"; do
        [[ ! -e $drive/$f ]] || e2e_fail "target C:/$f is still there"
    done
    for k in "${target_keys[@]}"; do
        for view in 32 64; do
            e2e_reg_absent "$k" "/reg:$view" ||
                e2e_fail "target key $k is still there in the $view-bit view"
        done
    done
    for v in "${target_values[@]}"; do
        for tree in "$LOCKDOWN" "$LOCKDOWN32"; do
            e2e_reg_absent "$HKLM\\$tree" /v "$v" ||
                e2e_fail "target value $v of $tree is still there"
        done
    done

    snapshot_files | without_files "$@" >"$E2E_DIR/files.after"
    without_files "${target_files[@]}" <"$E2E_DIR/files.before" >"$E2E_DIR/files.expected"
    if ! diff -u "$E2E_DIR/files.expected" "$E2E_DIR/files.after" >"$E2E_DIR/files.diff"; then
        cat "$E2E_DIR/files.diff" >&2
        e2e_fail "files beside the targets changed"
    fi
    for f in "${control_files[@]}"; do
        [[ -e $drive/$f ]] || e2e_fail "look-alike C:/$f is gone"
    done

    snapshot_registry "$E2E_DIR/reg.after"
    for i in "${!reg_roots[@]}"; do
        without_registry <"$E2E_DIR/reg.before/$i.reg" >"$E2E_DIR/reg.expected.$i"
        if ! diff -u "$E2E_DIR/reg.expected.$i" "$E2E_DIR/reg.after/$i.reg" >"$E2E_DIR/reg.diff.$i"; then
            cat "$E2E_DIR/reg.diff.$i" >&2
            e2e_fail "keys or values beside the targets below ${reg_roots[i]} changed"
        fi
    done
    e2e_log "$(wc -l <"$E2E_DIR/files.after") files and folders and" \
        "$(cat "$E2E_DIR"/reg.after/*.reg | grep -c .) registry lines left as they were"
}

# older_assert_removed_after_install: older_assert_removed, allowing what
# registering the package adds to the INF folder (its INF and PNF).
older_assert_removed_after_install() {
    local registered f added=()
    registered=$(e2e_registered_inf "$QX_PACKAGE_DIR/QX_DSP_USB.inf")
    for f in "${registered%.*}".*; do
        added+=("windows/inf/${f##*/}")
    done
    older_assert_removed "${added[@]}"
}

# _older_left KEY [reg query options...]: "still there", "removed", or
# "unknown" when reg gave no answer.
_older_left() {
    local rc=0
    e2e_reg_query "$@" >/dev/null 2>&1 || rc=$?
    case $rc in
    0) echo "still there" ;;
    1) echo removed ;;
    *) echo unknown ;;
    esac
}

# older_report: each target of the older installation, and whether the run
# removed it.
older_report() {
    local f k v tree left in32 in64
    drive=$WINEPREFIX/drive_c
    for f in "${target_files[@]}"; do
        if [[ -e $drive/$f ]]; then left="still there"; else left=removed; fi
        printf '  %-8s C:\\%s\n' "$left" "${f//\//\\}"
    done
    # Each control set's enumeration key is a target of both drivers.
    while IFS= read -r k; do
        in32=$(_older_left "$k" /reg:32)
        in64=$(_older_left "$k" /reg:64)
        if [[ $in32 == "still there" || $in64 == "still there" ]]; then
            left="still there"
        elif [[ $in32 == unknown || $in64 == unknown ]]; then
            left=unknown
        else
            left=removed
        fi
        printf '  %-8s %s\n' "$left" "$k"
    done < <(printf '%s\n' "${target_keys[@]}" | awk '!seen[$0]++')
    for v in "${target_values[@]}"; do
        for tree in "$LOCKDOWN" "$LOCKDOWN32"; do
            left=$(_older_left "$HKLM\\$tree" /v "$v")
            printf '  %-8s %s value %s\n' "$left" "$HKLM\\$tree" "$v"
        done
    done
}
