#!/usr/bin/env bash
# End of a Wine test run: stops the run's Xvfb and every wineserver still
# serving one of its prefixes.  The prefixes stay for inspection.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
E2E_NAME=cleanup
: "${QX_E2E_WORK:?}" "${QX_E2E_DISPLAY_FILE:?}"

for p in "${QX_E2E_TEMPLATE:-}" "$QX_E2E_WORK"/*/prefix; do
    # shellcheck disable=SC2015 # neither a missing prefix nor a failed kill matters
    [[ -n $p && -d $p ]] && WINEPREFIX=$p wineserver -k </dev/null >/dev/null 2>&1 || true
done
e2e_stop_xvfb "$(dirname "$QX_E2E_DISPLAY_FILE")"
for state in "$QX_E2E_WORK"/displays/*/; do
    [[ -d $state ]] && e2e_stop_xvfb "${state%/}"
done
e2e_log "Xvfb and wineservers stopped"
