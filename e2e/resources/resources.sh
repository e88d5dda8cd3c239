#!/usr/bin/env bash
# Every resource of the built installer, read through the Win32 resource
# functions by rescheck.exe: strings, menu, accelerators, About box
# template, icons, version and manifest, each in its language.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

e2e_new_prefix resources
[[ -f $QX_INSTALLER_EXE ]] || e2e_fail "installer $QX_INSTALLER_EXE has not been built"
report=$E2E_DIR/rescheck.report
rc=0
e2e_wine "$QX_E2E_BIN/rescheck.exe" "$(e2e_win_path "$report")" \
    "$(e2e_win_path "$QX_INSTALLER_EXE")" || rc=$?
[[ -f $report ]] || e2e_fail "rescheck wrote no report (exit code $rc)"
sed 's/^/    /' "$report" >&2
grep -q '^DONE 0' "$report" || e2e_fail "$(grep -c '^FAIL' "$report") resource check(s) failed"
e2e_assert_eq 0 "$rc" "rescheck exit code"
e2e_log "$(grep -c '^PASS' "$report") resource checks passed"
e2e_pass
