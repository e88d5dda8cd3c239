#!/usr/bin/env bash
# Windows 10 with an older installation, and a DLL planted in the package
# folder under each of 24 names that the installer (setupapi, cfgmgr32),
# the shell's file operation and Setup's pre-installation load by name.
# The run loads none of them, does its whole job (SHFileOperationW and
# SetupCopyOEMInfW work after the search is restricted), and Wine's relay
# trace shows the restriction before the run lock and any load by name.
# Wine prefers its own builtin DLLs, so the planted names stay unloaded
# under Wine whatever the run does; the trace is what shows the mend here.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

planted_names=(setupapi cfgmgr32 version uxtheme dwmapi propsys profapi
    userenv wintrust crypt32 msasn1 cryptsp cryptbase rsaenh devobj drvstore
    newdev sspicli apphelp comctl32 ntmarta winsta wtsapi32 dbghelp)
(( ${#planted_names[@]} == 24 )) || e2e_fail "the list holds ${#planted_names[@]} names"

e2e_new_prefix dllsearch_planted_win10
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"
older_seed
older_snapshot

# The planted DLL works: loaded by path under a name Wine has no builtin
# for, it leaves its marker.
cp "$QX_E2E_BIN/planted.dll" "$E2E_PKG_DIR/plantcheck.dll"
e2e_wine rundll32.exe "$E2E_PKG_WIN\\plantcheck.dll,DllMain" || true
[[ -f $E2E_PKG_DIR/plantcheck.dll.loaded ]] ||
    e2e_fail "the planted DLL leaves no marker when it is loaded"
rm -f "$E2E_PKG_DIR"/plantcheck.dll*

for name in "${planted_names[@]}"; do
    cp "$QX_E2E_BIN/planted.dll" "$E2E_PKG_DIR/$name.dll"
done

# The relay trace of the calls that restrict the search, take the run
# lock and load DLLs by name; +loaddll names every DLL loaded and where
# from.
e2e_reg_add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d \
    'GetModuleHandleW;SetDefaultDllDirectories;SetDllDirectoryW;CreateFileW;LoadLibraryW;LoadLibraryExW;LoadLibraryA;LoadLibraryExA'
WINEDEBUG=+relay,+loaddll e2e_run_installer
trace=$E2E_WINE_LOG
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
e2e_assert_exit 3010
e2e_assert_prompt_exit
e2e_assert_staged
e2e_assert_inf_registered
older_assert_removed_after_install

loaded=$(find "$E2E_PKG_DIR" -maxdepth 1 -name '*.loaded')
[[ -z $loaded ]] || e2e_fail "planted DLLs were loaded: $loaded"
# Wine finds some planted names in the package folder and loads its own
# builtin DLL in their place ("builtin"); a planted DLL's own code would
# show as "native".  Those are the shell's and Setup's loads by bare name;
# setupapi, no import of the executable, is never looked for there.
# shellcheck disable=SC1003 # Wine's trace doubles each backslash of a path
from_pkg=$(grep -i 'trace:loaddll:.*Loaded L"C:\\\\pkg\\\\' "$trace" | grep -iv 'QxDspInstaller.exe' || true)
e2e_log "loaded under a package-folder path: $(sed 's/.*Loaded L"C:\\\\pkg\\\\//; s/".*: / /' <<<"$from_pkg" | tr '\n' ' ')"
if grep -q ': native' <<<"$from_pkg"; then
    e2e_fail "a planted DLL was loaded: $from_pkg"
fi

# The installer's thread is the one that opens the run lock.  Of its
# traced calls, those the executable made (returning into its image at
# 0x00400000) begin with the restriction: kernel32's handle, then
# SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), which succeeds,
# then ntmarta's load by its full path (advapi32's named-security calls
# would load it by bare name), then the run lock's file.
tid=$(grep -m1 'Call .*CreateFileW(.*QxDspInstaller\.lock' "$trace" | cut -d: -f1)
[[ -n $tid ]] || e2e_fail "no CreateFileW of the run lock in the trace $trace"
ours=$(grep -E "^$tid:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.* ret=004[0-9a-f]{5}$" "$trace" |
    sed -E 's/^[0-9a-f]+:Call //; s/\(.*//')
e2e_log "the installer's first traced calls: $(head -n 5 <<<"$ours" | tr '\n' ' ')"
e2e_assert_eq "GetModuleHandleW SetDefaultDllDirectories LoadLibraryExW CreateFileW" \
    "$(head -n 4 <<<"$ours" | sed 's/^[A-Za-z0-9_]*\.//' | tr '\n' ' ' | sed 's/ $//')" \
    "the installer's first traced calls"
grep -q "^$tid:Call [A-Za-z0-9_]*\.SetDefaultDllDirectories(00000800) ret=004" "$trace" ||
    e2e_fail "SetDefaultDllDirectories was not given LOAD_LIBRARY_SEARCH_SYSTEM32 (trace in $trace)"
grep -q "^$tid:Ret  [A-Za-z0-9_]*\.SetDefaultDllDirectories() retval=00000001" "$trace" ||
    e2e_fail "SetDefaultDllDirectories did not succeed (trace in $trace)"
# The run's own loads: each once, by full path, LOAD_WITH_ALTERED_SEARCH_PATH.
loads=$(grep -E "^$tid:Call [A-Za-z0-9_]+\.LoadLibrary[A-Za-z]*\(.* ret=004[0-9a-f]{5}$" "$trace" |
    sed -E 's/^.*L"(.*)",00000000,0*([0-9a-f]+)\).*$/\1 \2/' | LC_ALL=C sort | tr '\n' ' ')
e2e_assert_eq 'C:\\windows\\system32\\advapi32.dll 8 C:\\windows\\system32\\cfgmgr32.dll 8 C:\\windows\\system32\\ntmarta.dll 8 C:\\windows\\system32\\setupapi.dll 8 ' \
    "$loads" "the installer's DLL loads"
e2e_pass
