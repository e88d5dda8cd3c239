#!/usr/bin/env bash
# Installed, then removed as an administrator's tool removes it: the
# install leaves the installer's copy and the Apps & features entry; the
# entry's quiet uninstall command, run as it stands, removes the package's
# INF copy, the staging folder, the entry and the copy without a box and
# exits 0; run again, /uninstall finds nothing to remove and says so.
# Wine 8's Setup keeps the package INF's own name where Windows gives it
# an oemNN.inf name, which is all the uninstall looks for: the scenario
# renames Wine's copy as Windows would have named it.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

entry='HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\QxDspDriver'
copy='C:\Program Files (x86)\Quorvantix\QxDspInstaller.exe'

e2e_new_prefix uninstall_win10
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
e2e_watch "$E2E_PKG_WIN\\QxDspInstaller.exe" /quiet
e2e_assert_exit 3010
cmp -s "$QX_INSTALLER_EXE" "$(e2e_c_path "$copy")" ||
    e2e_fail "the installed copy $copy is not the installer"
e2e_assert_eq "QX DSP USB Driver" "$(e2e_reg_value "$entry" DisplayName)" DisplayName
e2e_assert_eq 1.2.6.0 "$(e2e_reg_value "$entry" DisplayVersion)" DisplayVersion
quiet=$(e2e_reg_value "$entry" QuietUninstallString) ||
    e2e_fail "the entry has no QuietUninstallString"
e2e_assert_eq "\"$copy\" /uninstall /quiet" "$quiet" QuietUninstallString

inf=$(e2e_c_path 'C:\windows\inf')
for ext in inf pnf; do
    mv "$(find "$inf" -maxdepth 1 -iname "QX_DSP_USB.$ext")" "$inf/oem42.$ext" ||
        e2e_fail "Wine's copy QX_DSP_USB.$ext is not in the INF folder"
done
# The command as the entry gives it: the quoted copy, then its switches.
exe=${quiet#\"}
exe=${exe%%\"*}
read -ra switches <<<"${quiet#\""$exe"\"}"
e2e_watch "$exe" "${switches[@]}"
e2e_assert_no_boxes
e2e_assert_exit 0
e2e_assert_no_file 'C:\windows\inf\oem42.inf' "the package's INF copy"
e2e_assert_no_dir "$E2E_STAGING_WIN" "the staging folder"
e2e_reg_absent "$entry" || e2e_fail "the entry is still there"
e2e_assert_no_file "$copy" "the installed copy"

e2e_watch "$E2E_PKG_WIN\\QxDspInstaller.exe" /uninstall
e2e_assert_boxes "$E2E_CAPTION_EN" "Driver Uninstall Success!"
e2e_assert_exit 0
tr -d '\r' <"$(e2e_c_path 'C:\windows\QxDspInstaller.log')" |
    grep -qF 'Outcome: nothing to remove; exit code 0' ||
    e2e_fail "the second uninstall's log does not say there was nothing to remove"
e2e_pass
