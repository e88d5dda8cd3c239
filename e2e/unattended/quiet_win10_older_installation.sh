#!/usr/bin/env bash
# Windows 10 with an older installation, the installer started with
# /quiet on the visible desktop, as psexec -i or a deployment tool that
# lets a program interact starts it: no box, exit code 3010 (installed, a
# restart is needed), the whole job done, and the log in the Windows
# folder naming the older OEM INF copies it removed and the new one.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix quiet_win10_older_installation
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
older_snapshot

e2e_watch "$E2E_PKG_WIN\\QxDspInstaller.exe" /quiet
e2e_assert_no_boxes
e2e_assert_exit 3010
e2e_assert_staged
e2e_assert_inf_registered
older_assert_removed_after_install

log=$(e2e_c_path 'C:\windows\QxDspInstaller.log')
e2e_assert_file "$log" "the run's log"
[[ $(head -c 3 "$log" | od -An -tx1 | tr -d ' ') == efbbbf ]] ||
    e2e_fail "the log does not start with a UTF-8 byte-order mark"
new=$(e2e_registered_inf "$QX_PACKAGE_DIR/QX_DSP_USB.inf")
for line in 'Command line: C:\pkg\QxDspInstaller.exe /quiet' \
    'Anyone can see the run: yes; quiet: yes' \
    'Setup uninstalled oem12.inf' 'Setup uninstalled oem13.inf' \
    "Windows named it C:\\windows\\inf\\${new##*/}" \
    "Box not shown (quiet, or nobody can see the run): $E2E_RESTART_EN" \
    'Outcome: installed, a restart is needed; exit code 3010'; do
    tr -d '\r' <"$log" | grep -qF -- "$line" ||
        e2e_fail "the log lacks '$line'; it holds:
$(cat "$log")"
done
e2e_log "the log's block: $(wc -l <"$log") lines"
e2e_pass
