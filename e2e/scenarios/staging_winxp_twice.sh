#!/usr/bin/env bash
# Windows XP, two runs.  The first stages the package and reports success;
# the second finds the staged copy identical and only registers the staged
# INF again: no box, exit code 0, staging folder untouched.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix staging_winxp_twice
e2e_set_version winxp
e2e_stage_package "$QX_PACKAGE_DIR"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_SUCCESS_EN"
e2e_assert_exit 0
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered

# Take the INF out of the INF folder, so the second run shows whether it
# registers it again, and leave a marker that a refresh of the staging
# folder would delete.
e2e_unregister_inf
e2e_assert_inf_not_registered
staging=$(e2e_c_path "$E2E_STAGING_WIN")
echo "left by the scenario" >"$staging/marker.txt"

e2e_run_installer
e2e_assert_no_boxes
e2e_assert_exit 0
e2e_assert_file "$staging/marker.txt" "marker in the staging folder (the silent run must not refresh it)"
rm "$staging/marker.txt"
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
