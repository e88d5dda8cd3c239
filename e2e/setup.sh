#!/usr/bin/env bash
# Start of a Wine test run: clears the run's work folder, starts Xvfb on a
# free display and makes the one template prefix every scenario copies.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
E2E_NAME=setup
: "${QX_E2E_WORK:?}" "${QX_E2E_TEMPLATE:?}" "${QX_E2E_DISPLAY_FILE:?}"

state=$(dirname "$QX_E2E_DISPLAY_FILE")
# Whatever an interrupted earlier run left running goes first.
e2e_stop_xvfb "$state"
for p in "$QX_E2E_TEMPLATE" "$QX_E2E_WORK"/*/prefix; do
    # shellcheck disable=SC2015 # neither a missing prefix nor a failed kill matters
    [[ -d $p ]] && WINEPREFIX=$p wineserver -k </dev/null >/dev/null 2>&1 || true
done
case $QX_E2E_WORK in
*/e2e-work) rm -rf "$QX_E2E_WORK" ;;
*) e2e_fail "refusing to clear $QX_E2E_WORK: not an e2e-work folder" ;;
esac
mkdir -p "$QX_E2E_WORK" "$state"

# Every scenario runs on every machine: one that cannot start Wine's 32-bit
# part fails here, and with it every scenario of the run.
e2e_can_run_win32 ||
    e2e_fail "this machine cannot run 32-bit programs (the kernel refuses i386 code) and no emulator is registered for them: run scripts/bootstrap"
e2e_win32_mode >"$E2E_MODE_FILE"
e2e_log "32-bit programs run $(<"$E2E_MODE_FILE") here; time factor $QX_E2E_TIME_FACTOR"

start=$SECONDS
e2e_start_xvfb "$state" || e2e_fail "could not start Xvfb"
e2e_log "Xvfb on $DISPLAY"
e2e_make_template "$QX_E2E_TEMPLATE" || e2e_fail "could not make the template prefix"
e2e_log "template prefix $QX_E2E_TEMPLATE made in $((SECONDS - start)) s"
