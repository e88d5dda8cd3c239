#!/usr/bin/env bash
# Windows 10, the installer started E2E_RUNS times (2 or 3) at the same
# moment, as a user who double-clicks more than once starts it: each run
# waits for the run lock while another holds it, so they take turns, each
# doing its whole job with boxes of its own, and the staging folder holds
# the package.  With three, the first run to end is the one that created
# the lock file; the two after it must still take turns on it.  Wine
# reports the file's owner as the running user, which the runs accept as
# their own.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
: "${E2E_RUNS:?}"

e2e_new_prefix "$E2E_NAME"
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

installer="$E2E_PKG_WIN\\QxDspInstaller.exe"
programs=()
for ((run = 1; run <= E2E_RUNS; run++)); do
    programs+=("$installer")
done
e2e_watch_together "${programs[@]}"
for ((run = 1; run <= E2E_RUNS; run++)); do
    e2e_together_run "$run"
    e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
    e2e_assert_exit 3010
done
e2e_assert_took_turns
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
