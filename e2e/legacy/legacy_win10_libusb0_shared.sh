#!/usr/bin/env bash
# Windows 10 with an older installation and another device that runs
# libusb0 (an AVR programmer, VID_16C0&PID_05DC, Service = libusb0): the
# run removes the device's own keys, INF copies and libusbDspQx entries,
# and leaves libusb0's service keys, files and PnpLockdownFiles entries
# as they were, so that the other device still starts after the restart.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix legacy_win10_libusb0_shared
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
other='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\VID_16C0&PID_05DC\5&2f3e1d&0&3'
e2e_reg_add "$other" /v Service /d libusb0
e2e_reg_add "$other" /v DeviceDesc /d 'USBasp'
older_libusb0_shared
older_snapshot

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
e2e_assert_exit 3010
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered
for set in CurrentControlSet ControlSet001 ControlSet002; do
    e2e_reg_query "HKEY_LOCAL_MACHINE\\SYSTEM\\$set\\Services\\libusb0" >/dev/null ||
        e2e_fail "the libusb0 service of $set is gone"
done
[[ $(e2e_reg_value "$other" Service) == libusb0 ]] || e2e_fail "the other device changed"

older_assert_removed_after_install
e2e_pass
