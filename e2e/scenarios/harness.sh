#!/usr/bin/env bash
# The harness itself, on a stand-in program whose boxes and exit are known:
# the watcher reports every box once with its caption and text (Chinese,
# tabs and backslashes intact), presses OK, reports the exit code and the
# time from the last OK to the exit, and kills a program that hangs.  Then
# the library's path and registry helpers.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix harness
boxer=$(e2e_win_path "$QX_E2E_BIN/boxer.exe")

e2e_watch "$boxer" 7 0 "Cap 驱动" "first" $'tab\there C:\\x' "驱动安装成功!"
e2e_assert_boxes "Cap 驱动" "first" $'tab\there C:\\x' "驱动安装成功!"
e2e_assert_exit 7
e2e_assert_prompt_exit 1000

e2e_watch "$boxer" 0 0 "none"
e2e_assert_no_boxes
e2e_assert_exit 0

# A program that lingers 1.5 s after its box (both scaled by the time
# factor, as the bound is): measured, and rejected by a limit of one second.
linger=$(e2e_scaled 1500)
e2e_watch "$boxer" 3 "$linger" "slow" "bye"
e2e_assert_exit 3
(( E2E_AFTER_OK_MS >= linger - 100 )) || e2e_fail "lingering of $linger ms measured as $E2E_AFTER_OK_MS ms"
if (e2e_assert_prompt_exit 1000) 2>/dev/null; then
    e2e_fail "e2e_assert_prompt_exit accepted $E2E_AFTER_OK_MS ms against a limit of $(e2e_scaled 1000)"
fi

E2E_TIMEOUT=2 e2e_watch "$boxer" 0 30000 "hang"
e2e_assert_eq 1 "$E2E_TIMED_OUT" "timeout flag for a program that hangs"
e2e_assert_eq "" "$E2E_EXIT" "exit code of a killed program"
if (e2e_assert_exit 0) 2>/dev/null; then e2e_fail "e2e_assert_exit accepted a killed program"; fi

# Paths: Windows names are found whatever their case.
e2e_assert_eq "$WINEPREFIX/drive_c/windows/inf" "$(e2e_c_path 'C:\WINDOWS\INF')" "e2e_c_path of C:\\WINDOWS\\INF"
e2e_assert_eq "$WINEPREFIX/drive_c/Program Files (x86)/New" "$(e2e_c_path 'c:\program files (x86)\New')" \
    "e2e_c_path of a missing folder"

# Registry: what was written reads back, in both forms; missing keys and
# values are reported as missing.
e2e_set_version winxp
e2e_assert_eq winxp "$(e2e_reg_value 'HKCU\Software\Wine' Version)" "Wine's Version value"
e2e_reg_add 'HKLM\SOFTWARE\QxHarness\Sub' /v Name /d 'two  spaces '
e2e_reg_add 'HKLM\SOFTWARE\QxHarness\Sub' /v Count /t REG_DWORD /d 7
e2e_assert_eq 'two  spaces ' "$(e2e_reg_value 'HKLM\SOFTWARE\QxHarness\Sub' Name)" "a REG_SZ value"
e2e_assert_eq 0x7 "$(e2e_reg_value 'HKLM\SOFTWARE\QxHarness\Sub' Count)" "a REG_DWORD value"
if e2e_reg_value 'HKLM\SOFTWARE\QxHarness\Sub' Missing >/dev/null; then e2e_fail "a missing value was found"; fi
if e2e_reg_query 'HKLM\SOFTWARE\QxHarness\None' >/dev/null; then e2e_fail "a missing key was found"; fi
e2e_reg_absent 'HKLM\SOFTWARE\QxHarness\Sub' /v Missing || e2e_fail "e2e_reg_absent found a missing value"
if e2e_reg_absent 'HKLM\SOFTWARE\QxHarness\Sub' /v Count; then e2e_fail "e2e_reg_absent missed a value"; fi
# reg's answer is read in English whatever locale the installer gets.
e2e_set_locale zh_CN.UTF-8
e2e_reg_absent 'HKLM\SOFTWARE\QxHarness\None' || e2e_fail "e2e_reg_absent found a missing key in a Chinese locale"
e2e_set_locale ""
e2e_reg_export 'HKLM\SOFTWARE\QxHarness' "$E2E_DIR/export.reg" || e2e_fail "export failed"
grep -qxF '[HKEY_LOCAL_MACHINE\SOFTWARE\QxHarness\Sub]' "$E2E_DIR/export.reg" || e2e_fail "export lacks the sub-key"
grep -qxF '"Count"=dword:00000007' "$E2E_DIR/export.reg" || e2e_fail "export lacks the DWORD value"

# A reg that fails without answering starts again, E2E_REG_TRIES times at
# most; one that answers that a key is missing runs once.  A launcher that
# fails, silently or with WORDS, while fewer than SILENT starts were made
# stands in for reg that gave no answer.
starts=$E2E_DIR/flaky.starts
cat >"$E2E_DIR/flaky-wine64" <<FLAKY
#!/bin/bash
echo start >>"$starts"
(( \$(wc -l <"$starts") > SILENT )) || { printf '%s' "\${WORDS:-}"; exit 1; }
exec "$E2E_WINE64" "\$@"
FLAKY
chmod +x "$E2E_DIR/flaky-wine64"
real_wine64=$E2E_WINE64
E2E_WINE64=$E2E_DIR/flaky-wine64
export SILENT=1
e2e_assert_eq 0x7 "$(e2e_reg_value 'HKLM\SOFTWARE\QxHarness\Sub' Count 2>/dev/null)" \
    "a value read after a silent failure"
e2e_assert_eq 2 "$(wc -l <"$starts")" "starts of reg after a silent failure"
if e2e_reg_query 'HKLM\SOFTWARE\QxHarness\None' >/dev/null; then e2e_fail "a missing key was found"; fi
e2e_assert_eq 3 "$(wc -l <"$starts")" "starts of reg after a missing key's"
rm "$starts"
export SILENT=1000
rc=0
e2e_reg_query 'HKLM\SOFTWARE\QxHarness\Sub' >/dev/null 2>&1 || rc=$?
e2e_assert_eq 2 "$rc" "e2e_reg_query's status when reg never answers"
e2e_assert_eq "$E2E_REG_TRIES" "$(wc -l <"$starts")" "starts of a reg that always fails silently"
said=$( (e2e_reg_absent 'HKLM\SOFTWARE\QxHarness\Sub') 2>&1 >/dev/null) &&
    e2e_fail "e2e_reg_absent took no answer for absence"
[[ $said == *"reg gave no answer"* ]] || e2e_fail "e2e_reg_absent without an answer said: $said"
rm "$starts"
export SILENT=1 WORDS='wine: a start that went wrong'
e2e_assert_eq 0x7 "$(e2e_reg_value 'HKLM\SOFTWARE\QxHarness\Sub' Count 2>/dev/null)" \
    "a value read after a failure with words"
e2e_assert_eq 2 "$(wc -l <"$starts")" "starts of reg after a failure with words"
unset WORDS
E2E_WINE64=$real_wine64
e2e_pass
