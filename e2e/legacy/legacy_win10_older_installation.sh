#!/usr/bin/env bash
# Windows 10 with a complete older installation left on it: the class
# instance names oem13.inf, the enumeration instances name oem12.inf in
# their DeviceDesc.  One run finds both, removes every leftover but what
# Setup refuses and nothing else, stages and registers the package and
# asks for a restart.  Both INF copies go to Setup (SetupUninstallOEMInfW,
# forced), each after asking where its package lives, as Setup's trace
# shows; oem13.inf is read-only, which Wine's Setup refuses, so it and its
# PNF stay.  Wine names no store folder, so the store folders stay too.
# The device's one earlier instance goes to Configuration Manager after
# them, as Wine's relay trace shows: Wine 8 finds it
# neither plugged in nor as a phantom (CR_FAILURE, 0x13, to both
# lookups), so it is never uninstalled; Wine's CM_Uninstall_DevNode
# would end the run before its box.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix legacy_win10_older_installation
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
older_setup_refuses oem13.inf
older_snapshot

# Relay only Configuration Manager's functions: a full relay trace of the
# run would be huge.  GetProcAddress on cfgmgr32 hands out setupapi's
# CM_Locate_DevNodeW (a forward) and cfgmgr32's own unimplemented
# CM_Uninstall_DevNode.
e2e_reg_add 'HKCU\Software\Wine\Debug' /v RelayInclude /d \
    'setupapi.CM_Locate_DevNodeW;setupapi.CM_Uninstall_DevNode;cfgmgr32.CM_Uninstall_DevNode'
WINEDEBUG=trace+setupapi,trace+file,+relay e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
last_uninstall=0
for inf in oem12.inf oem13.inf; do
    asked=$(grep -n -m1 "fixme:setupapi:SetupGetInfDriverStoreLocationW stub: L\"$inf\"" \
        "$E2E_WINE_LOG" | cut -d: -f1)
    line=$(grep -n -m1 "trace:setupapi:SetupUninstallOEMInfW L\"$inf\", 0x00000001," \
        "$E2E_WINE_LOG" | cut -d: -f1)
    (( ${asked:-0} > 0 && ${line:-0} > asked )) ||
        e2e_fail "$inf was not asked for its store folder (line ${asked:-none}) before its uninstall through Setup (line ${line:-none}; trace in $E2E_WINE_LOG)"
    (( line > last_uninstall )) && last_uninstall=$line
done
# Wine's trace doubles every backslash of a path.  Setup deletes
# C:\windows\inf\oem13.inf; the sweep would name C:\Windows\INF.
if grep -qF 'DeleteFileW L"C:\\Windows\\INF\\oem13' "$E2E_WINE_LOG"; then
    e2e_fail "the copy Setup refused was deleted by hand (trace in $E2E_WINE_LOG)"
fi
instance='USB\\\\VID_3C7E&PID_51B8\\\\5&1a2b3c4d&0&1'
locate=$(grep -n -m1 'Call setupapi\.CM_Locate_DevNodeW' "$E2E_WINE_LOG" | cut -d: -f1)
(( ${locate:-0} > last_uninstall )) ||
    e2e_fail "the instance lookup (trace line ${locate:-none}) is not after the Setup uninstalls (last at $last_uninstall)"
for flags in 00000000 00000001; do
    n=$(grep -c "Call setupapi\.CM_Locate_DevNodeW([0-9a-f]*,[0-9a-f]* \?L\"$instance\",$flags)" "$E2E_WINE_LOG")
    [[ $n == 1 ]] ||
        e2e_fail "$n lookups of $instance with flags $flags, not 1 (trace in $E2E_WINE_LOG)"
done
[[ $(grep -c 'Ret  setupapi\.CM_Locate_DevNodeW() retval=00000013' "$E2E_WINE_LOG") == 2 ]] ||
    e2e_fail "Wine's lookups did not both answer CR_FAILURE (trace in $E2E_WINE_LOG)"
if grep -qiE 'Call [a-z0-9]+\.CM_Uninstall_DevNode|unimplemented function.*CM_Uninstall_DevNode' "$E2E_WINE_LOG"; then
    e2e_fail "an instance was uninstalled on a failed lookup (trace in $E2E_WINE_LOG)"
fi
# The native System32's copies, by the path the run reached them through.
grep -qF 'Deleted C:\Windows\Sysnative\drivers\libusb0.sys (the 64-bit System32)' \
    "$(e2e_c_path 'C:\windows\QxDspInstaller.log')" ||
    e2e_fail "the log does not name the native libusb0.sys it deleted"
e2e_assert_exit 3010
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered

older_assert_removed_after_install
e2e_pass
