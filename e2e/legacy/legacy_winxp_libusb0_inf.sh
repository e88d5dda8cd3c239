#!/usr/bin/env bash
# Windows XP whose INF folder holds an installed copy of the older package
# INF (the three package markers and "libusb0"): the run sweeps the older
# installation away, stages the package and reports success, not the
# restart notice.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix legacy_winxp_libusb0_inf
e2e_set_version winxp
e2e_stage_package "$QX_PACKAGE_DIR"

inf_dir=$(e2e_c_path "$E2E_INF_DIR_WIN")
pkg_text=$(iconv -f UTF-16 -t UTF-8 "$QX_PACKAGE_DIR/QX_DSP_USB.inf" | tr -d '\r')
older_text=$(sed '2a ; Replaces the libusb0 (libusb-win32) driver of earlier versions.' <<<"$pkg_text")
# shellcheck disable=SC2001 # a CR at the end of every line, the last one too
{ printf '\xff\xfe'; sed 's/$/\r/' <<<"$older_text" | iconv -f UTF-8 -t UTF-16LE; } >"$inf_dir/oem21.inf"
echo "precompiled" >"$inf_dir/oem21.pnf"
# A look-alike without "libusb0" stays: it does not belong to the device.
echo "another vendor's driver" >"$inf_dir/oem22.inf"
syswow64=$(e2e_c_path 'C:\windows\syswow64')
echo "older driver library" >"$syswow64/libusb0.dll"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_SUCCESS_EN"
e2e_assert_exit 0
e2e_assert_prompt_exit
e2e_assert_no_file "$inf_dir/oem21.inf" "installed older INF"
e2e_assert_no_file "$inf_dir/oem21.pnf" "its precompiled companion"
e2e_assert_no_file "$syswow64/libusb0.dll" "older driver library"
e2e_assert_file "$inf_dir/oem22.inf" "another vendor's INF"
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
