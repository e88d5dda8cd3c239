#!/usr/bin/env bash
# A package without USB_DSP.cat: the copy fails and is reported; the
# installer ends with exit code 0 and registers nothing.  The staging folder
# keeps what was copied.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix staging_missing_catalogue
e2e_set_version win10
pkg=$E2E_DIR/package-without-cat
e2e_copy_package "$pkg"
rm "$pkg/USB_DSP.cat"
e2e_stage_package "$pkg"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "${E2E_FAILURE_PREFIX_EN}Copy PreInstall File Error."
e2e_assert_exit 2 # ERROR_FILE_NOT_FOUND: the catalogue that did not open
e2e_assert_prompt_exit
files=()
for rel in "${E2E_PACKAGE_FILES[@]}"; do
    [[ $rel == USB_DSP.cat ]] || files+=("$rel")
done
e2e_assert_staged_files "${files[@]}"
e2e_assert_inf_not_registered
e2e_pass
