#!/usr/bin/env bash
# Windows 10, the installer started three times at the same moment: each
# run waits for the run mutex while another holds it, so the three take
# turns, each doing its whole job with boxes of its own.  The first run to
# end is the one that made the mutex (and, on Windows, its private
# namespace); the two after it must still find the same one.  Wine 8 has
# no private namespaces (kernel32 lacks CreatePrivateNamespaceW), so under
# Wine the runs take turns on the global mutex the installer falls back to.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"

e2e_new_prefix concurrency_three_runs_together
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

installer="$E2E_PKG_WIN\\QxDspInstaller.exe"
e2e_watch_together "$installer" "$installer" "$installer"
for run in 1 2 3; do
    e2e_together_run "$run"
    e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
    e2e_assert_exit 0
done
e2e_assert_took_turns
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
