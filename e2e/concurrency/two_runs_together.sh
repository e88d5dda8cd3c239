#!/usr/bin/env bash
# Windows 10, the installer started twice at the same moment, as a user who
# double-clicks twice starts it: the second run waits until the first has
# ended and then does its whole job with boxes of its own.  Both end with
# the restart notice, and the staging folder holds the package.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"

e2e_new_prefix concurrency_two_runs_together
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

installer="$E2E_PKG_WIN\\QxDspInstaller.exe"
e2e_watch_together "$installer" "$installer"
for run in 1 2; do
    e2e_together_run "$run"
    e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
    e2e_assert_exit 0
done
e2e_assert_took_turns
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
