#!/usr/bin/env bash
# Windows 10 with an older installation, the installer started on a window
# station without WSF_VISIBLE (made by the watcher, the installer's
# desktop named through STARTUPINFOW.lpDesktop), as a deployment tool
# running as SYSTEM starts it.  Nobody could press OK there: the run shows
# no box, ends by itself with the exit code of an attended run, and has
# done the whole job.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix unattended_win10_older_installation
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
older_snapshot

export E2E_DESKTOP='QxUnseen\Deploy'

# What a process started there is told about its station and session.
probe_out=$E2E_DIR/station.txt
e2e_watch "$(e2e_win_path "$QX_E2E_BIN/stationprobe.exe")" "$(e2e_win_path "$probe_out")"
e2e_assert_exit 0
e2e_log "the watcher's new station reports flags 0x$E2E_STATION_FLAGS; inside it: $(cat "$probe_out")"
(( (0x$E2E_STATION_FLAGS & 1) == 0 )) ||
    e2e_fail "Wine reports the new station visible (flags 0x$E2E_STATION_FLAGS)"
grep -q '^flags=0 ' "$probe_out" ||
    e2e_fail "a process on the new station sees it as: $(cat "$probe_out")"

# An attended run shows one box; the watcher presses it, and the installer
# ends about a second later.  Here nobody presses anything.
e2e_run_installer
e2e_assert_no_boxes
e2e_assert_exit 3010
# The same bound as after a box: a run takes 2.3 to 3 s emulated.
limit=$(e2e_scaled 10000)
(( E2E_RUN_MS <= limit )) ||
    e2e_fail "the unattended run took $E2E_RUN_MS ms (limit $limit ms)"
e2e_assert_staged
e2e_assert_inf_registered

older_assert_removed_after_install
e2e_pass
