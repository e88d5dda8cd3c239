#!/usr/bin/env bash
# A staging folder whose copy of one driver file differs from the package
# only in its last-write time (Windows XP, so nothing but the comparison
# decides): the whole staging folder is deleted and written again, and the
# file carries the package's time afterwards.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix staging_stale_time
e2e_set_version winxp
e2e_stage_package "$QX_PACKAGE_DIR"

# Seed the staging folder with an exact copy of the package, then age one
# file by a day.  A file outside the package layout shows whether the
# folder was deleted before the copy.
staging=$(e2e_c_path "$E2E_STAGING_WIN")
for rel in "${E2E_PACKAGE_FILES[@]}"; do
    mkdir -p "$(dirname "$staging/$rel")"
    cp -p "$E2E_PKG_DIR/$rel" "$staging/$rel"
done
stale=amd64/libusbDspQx.sys
touch -m -d "$(stat -c %y "$E2E_PKG_DIR/$stale") - 1 day" "$staging/$stale"
echo "not part of the package" >"$staging/leftover.txt"
cmp -s "$E2E_PKG_DIR/$stale" "$staging/$stale" || e2e_fail "seeded file differs in content"
[[ $(e2e_mtime "$E2E_PKG_DIR/$stale") != "$(e2e_mtime "$staging/$stale")" ]] ||
    e2e_fail "seeded file has the package's time"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_SUCCESS_EN"
e2e_assert_exit 0
e2e_assert_prompt_exit
e2e_assert_no_file "$staging/leftover.txt" "file outside the layout (the staging folder was not deleted)"
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
