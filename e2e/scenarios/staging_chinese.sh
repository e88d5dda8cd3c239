#!/usr/bin/env bash
# A Chinese (PRC) system, Windows 10: the box speaks Chinese, caption
# included; the package is staged and registered as on any system.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

# From Vista on every run removes older installations first, and a
# successful run ends with the restart notice.
FINAL_TEXT=$E2E_RESTART_ZH

e2e_new_prefix staging_chinese
e2e_set_version win10
e2e_set_locale zh_CN.UTF-8
e2e_stage_package "$QX_PACKAGE_DIR"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_ZH" "$FINAL_TEXT"
e2e_assert_exit 3010
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
