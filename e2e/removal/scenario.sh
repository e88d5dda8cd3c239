#!/usr/bin/env bash
# Removal on a machine that a full older installation has been left on, as
# a 32-bit process on 64-bit Windows sees it, beside look-alikes of every
# target.  sweepprobe runs the removal sweep with the candidate INF list
# oem12.inf oem13.inf; afterwards every target is gone and everything else
# in the places the sweep touches is as it was, file for file and value
# for value.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

e2e_new_prefix removal
older_seed
older_snapshot
e2e_wine "$QX_E2E_BIN/sweepprobe.exe" oem12.inf oem13.inf || e2e_fail "sweepprobe failed"
older_assert_removed
e2e_pass
