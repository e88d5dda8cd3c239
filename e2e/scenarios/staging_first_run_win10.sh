#!/usr/bin/env bash
# A first run on a fresh Windows 10 machine: the package is staged, the INF
# reaches the driver store, one box reports it and the installer ends
# within about a second of that box.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

# From Vista on every run removes older installations first, and a
# successful run ends with the restart notice.
FINAL_TEXT=$E2E_RESTART_EN

e2e_new_prefix staging_first_run_win10
e2e_set_version win10
e2e_assert_no_dir "$E2E_STAGING_WIN" "staging folder before the run"
e2e_assert_inf_not_registered

e2e_stage_package "$QX_PACKAGE_DIR"
e2e_run_installer

e2e_assert_boxes "$E2E_CAPTION_EN" "$FINAL_TEXT"
e2e_assert_exit 3010
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
