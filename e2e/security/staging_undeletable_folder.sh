#!/usr/bin/env bash
# Windows 10, a staging folder the run cannot delete: another program holds
# a stale file in it open.  The failed deletion is reported, the run sets
# the staging folder's own DACL on the folder it did not create (Wine
# accepts the call and keeps no DACL) and fills it; the package is staged
# beside the stale file and registered, and the restart notice follows.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"

e2e_new_prefix staging_undeletable_folder
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

staging=$(e2e_c_path "$E2E_STAGING_WIN")
mkdir -p "$staging"
echo "left by an earlier run" >"$staging/stale.txt"
ready=$E2E_DIR/held.ready
rm -f "$ready"
# The hold outlasts the run; the prefix's end stops the holder.
(e2e_wine "$QX_E2E_BIN/holder.exe" "$E2E_STAGING_WIN\\stale.txt" \
    "$(e2e_win_path "$ready")" "$(e2e_scaled 60)") >/dev/null 2>&1 &
for ((i = 0; i < $(e2e_scaled 600); i++)); do
    [[ -e $ready ]] && break
    sleep 0.1
done
[[ -e $ready ]] || e2e_fail "the holder did not open the stale file"

e2e_run_installer

(( E2E_BOXES == 2 )) || e2e_fail "expected 2 boxes, got $E2E_BOXES: ${E2E_BOX_TEXT[*]}"
delete_failure="${E2E_FAILURE_PREFIX_EN}Delete PreInstall File Folder Error."
[[ ${E2E_BOX_TEXT[0]} == "$delete_failure"+([0-9])" " ]] ||
    e2e_fail "box 1: expected the delete-folder failure with its number, got '${E2E_BOX_TEXT[0]}'"
e2e_assert_eq "$E2E_RESTART_EN" "${E2E_BOX_TEXT[1]}" "text of box 2"
e2e_assert_exit 3010
e2e_assert_prompt_exit
for rel in "${E2E_PACKAGE_FILES[@]}"; do
    e2e_assert_same_file "$E2E_PKG_DIR/$rel" "$staging/$rel" "staged file"
done
[[ -f $staging/stale.txt ]] || e2e_fail "the held stale file is gone"
e2e_assert_inf_registered
e2e_pass
