#!/usr/bin/env bash
# Windows 10 on which the device's enumeration key has three instances:
# one bound as a composite device to Windows' own usb.inf, one to WinUSB
# through winusb.inf, and one installed from the older package, oem21.inf.
# The run uninstalls and deletes oem21.inf alone: usb.inf, winusb.inf and
# their PNF files stay exactly as they were (without them no composite or
# WinUSB device on the machine would install again), and the box is the
# restart notice.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix legacy_win10_windows_infs
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

inf_dir=$(e2e_c_path "$E2E_INF_DIR_WIN")
windows_own=(usb.inf usb.PNF winusb.inf winusb.PNF)
kept=$E2E_DIR/windows-own
mkdir -p "$kept"
for f in "${windows_own[@]}" oem21.inf oem21.PNF; do
    printf '; %s as the machine had it\r\n' "$f" >"$inf_dir/$f"
done
for f in "${windows_own[@]}"; do
    cp -p "$inf_dir/$f" "$kept/$f"
done

device='HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_3C7E&PID_51B8'
e2e_reg_add "$device\\5&1a2b3c4d&0&1" /v DeviceDesc /t REG_SZ \
    /d '@usb.inf,%usb\composite.devicedesc%;USB Composite Device'
e2e_reg_add "$device\\5&1a2b3c4d&0&2" /v DeviceDesc /t REG_SZ \
    /d '@winusb.inf,%usb\ms_comp_winusb.devicedesc%;WinUsb Device'
e2e_reg_add "$device\\5&1a2b3c4d&0&3" /v DeviceDesc /t REG_SZ \
    /d '@oem21.inf,%QxDsp.DeviceDesc%;QX DSP USB'

WINEDEBUG=trace+setupapi e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
e2e_assert_exit 3010
e2e_assert_prompt_exit
grep -q 'trace:setupapi:SetupUninstallOEMInfW L"oem21.inf", 0x00000001,' "$E2E_WINE_LOG" ||
    e2e_fail "oem21.inf was not uninstalled through Setup (trace in $E2E_WINE_LOG)"
if grep -Eiq 'trace:setupapi:SetupUninstallOEMInfW L"(win)?usb\.inf"' "$E2E_WINE_LOG"; then
    e2e_fail "Windows' own INF went to Setup's uninstall (trace in $E2E_WINE_LOG)"
fi
for f in "${windows_own[@]}"; do
    e2e_assert_same_file "$kept/$f" "$inf_dir/$f" "Windows' own $f"
done
e2e_assert_no_file "$inf_dir/oem21.inf" "the older package's INF"
e2e_assert_no_file "$inf_dir/oem21.PNF" "its precompiled companion"
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
