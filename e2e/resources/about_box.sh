#!/usr/bin/env bash
# The window class and About box in a test build (aboutbox.exe: the
# product's ui code and resource script): start-up, a window of the class,
# command 104 and both accelerators open the box, and it closes on OK, on
# Escape and on the caption's close button with the right result.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/fonts.sh"

e2e_new_prefix about_box
resources_add_wine_fonts
report=$E2E_DIR/aboutbox.report
rc=0
e2e_wine "$QX_E2E_BIN/aboutbox.exe" "$(e2e_win_path "$report")" || rc=$?
[[ -f $report ]] || e2e_fail "aboutbox wrote no report (exit code $rc)"
sed 's/^/    /' "$report" >&2
grep -q '^DONE 0' "$report" || e2e_fail "$(grep -c '^FAIL' "$report") About box check(s) failed"
e2e_assert_eq 0 "$rc" "aboutbox exit code"
e2e_log "$(grep -c '^PASS' "$report") About box checks passed"
e2e_pass
