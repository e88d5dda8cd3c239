#!/usr/bin/env bash
# Windows XP with an older, libusb0-based package already staged in amd64:
# the run reports success at once and changes nothing on the machine, no
# file and no registry key, but the run lock it holds and its log.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix legacy_winxp_older_staged
e2e_set_version winxp
e2e_stage_package "$QX_PACKAGE_DIR"

amd64=$(e2e_c_path "$E2E_STAGING_WIN")/amd64
mkdir -p "$amd64"
echo "older driver library" >"$amd64/libusb0.dll"
echo "older driver" >"$amd64/libusb0.sys"
# Something the sweep would delete, were it to run.
syswow64=$(e2e_c_path 'C:\windows\syswow64')
echo "older driver library" >"$syswow64/libusb0.dll"

# snapshot FILE: every file of drive C with size and time (a folder by its
# name: the lock file's and the log's creation change their times), and
# the keys the installer could touch.
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./users -prune -o -path ./windows/temp -prune \
        -o -name QxDspInstaller.lock -prune -o -path ./windows/QxDspInstaller.log -prune \
        -o -type d -printf '%p\n' \
        -o -printf '%p %s %T@\n' | sort) >"$1.files"
    e2e_reg_export 'HKLM\SYSTEM' "$1.system"
    e2e_reg_export 'HKLM\SOFTWARE' "$1.software"
}
snapshot "$E2E_DIR/before"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_SUCCESS_EN"
e2e_assert_exit 0

snapshot "$E2E_DIR/after"
for part in files system software; do
    diff -u "$E2E_DIR/before.$part" "$E2E_DIR/after.$part" >"$E2E_DIR/diff.$part" ||
        e2e_fail "the run changed the machine ($part): $(head -20 "$E2E_DIR/diff.$part")"
done
e2e_assert_inf_not_registered
grep -q 'An older package is staged: nothing to do' "$(e2e_c_path 'C:\windows\QxDspInstaller.log')" ||
    e2e_fail "the log does not tell the early end"
e2e_pass
