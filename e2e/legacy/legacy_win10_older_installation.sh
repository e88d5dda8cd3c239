#!/usr/bin/env bash
# Windows 10 with a complete older installation left on it: the class
# instance names oem13.inf, the enumeration instances name oem12.inf in
# their DeviceDesc.  One run finds both, removes every leftover and
# nothing else, stages and registers the package and asks for a restart.
# Both INF copies go through Setup (SetupUninstallOEMInfW, forced), as
# Setup's own trace shows, and both before the driver store is searched,
# while their packages are still whole: Wine's file trace shows the
# search.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix legacy_win10_older_installation
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
older_snapshot

WINEDEBUG=trace+setupapi,trace+file e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
# Wine's trace doubles every backslash of a path.
store_search=$(grep -n -m1 -F 'FindFirstFileExW L"C:\\Windows\\System32\\DriverStore\\FileRepository\\*.*"' \
    "$E2E_WINE_LOG" | cut -d: -f1)
[[ -n $store_search ]] ||
    e2e_fail "no search of the driver store in Wine's trace ($E2E_WINE_LOG)"
for inf in oem12.inf oem13.inf; do
    line=$(grep -n -m1 "trace:setupapi:SetupUninstallOEMInfW L\"$inf\", 0x00000001," \
        "$E2E_WINE_LOG" | cut -d: -f1)
    [[ -n $line ]] ||
        e2e_fail "$inf was not uninstalled through Setup (trace in $E2E_WINE_LOG)"
    (( line < store_search )) ||
        e2e_fail "$inf was uninstalled (trace line $line) after the driver store search (line $store_search)"
done
e2e_assert_exit 0
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered

# Registering the package adds its INF (and precompiled form) to the INF
# folder, beside what the sweep left alone.
registered=$(e2e_registered_inf "$QX_PACKAGE_DIR/QX_DSP_USB.inf")
added=()
for f in "${registered%.*}".*; do
    added+=("windows/inf/${f##*/}")
done
older_assert_removed "${added[@]}"
e2e_pass
