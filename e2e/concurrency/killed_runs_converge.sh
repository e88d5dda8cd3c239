#!/usr/bin/env bash
# Windows 10 with an older installation: the installer is killed a few
# fixed moments after its start and then run again, each time on the
# machine as it was before any run.  Each time the machine ends as one
# uninterrupted run leaves it: the staging folder, the package INF in the
# INF folder, the older installation removed and everything beside it as
# it was.
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../lib.sh"
source "$here/../older_install.sh"

# Milliseconds after the start, at native speed.  Under qemu's emulation
# (time factor 2) they land in the sweep, in the deletion of the older
# staging folder and at about the box; where each landed is logged.
KILL_MS=(800 1400 1900)
# Files in one driver-store folder of the older installation and in an
# older staging folder: deleting them takes long enough for a kill to land
# inside the sweep and the staging folder's refresh.
BULK_FILES=300

e2e_new_prefix concurrency_killed_runs_converge
e2e_set_version win10
e2e_stage_package "$QX_PACKAGE_DIR"

# The places a run changes, and the older installation's look-alikes.
places=("$E2E_STAGING_WIN" "$E2E_INF_DIR_WIN")
for f in "${target_files[@]}" "${control_files[@]}"; do
    places+=("C:\\${f//\//\\}")
done
places+=("${reg_roots[@]}")
for driver in libusb0 libusbDspQx; do
    places+=("$HKLM\\SYSTEM\\CurrentControlSet\\Services\\$driver")
done

bulk_store=$WINEPREFIX/drive_c/$store/qx_dsp_usb.inf_amd64_d4/bulk
bulk_staged=$(e2e_c_path "$E2E_STAGING_WIN")/older

# add_bulk DIR: BULK_FILES empty files in DIR.
add_bulk() {
    mkdir -p "$1"
    (cd "$1" && seq -f 'old%04g.bin' 1 "$BULK_FILES" | xargs touch)
}

# The machine as it was before any run: the older installation seeded, an
# older staged copy, the package INF not in the INF folder.
before_any_run() {
    older_seed
    add_bulk "$bulk_store"
    e2e_unregister_inf
    rm -rf "$(e2e_c_path "$E2E_STAGING_WIN")"
    add_bulk "$bulk_staged"
}

# count_files DIR: how many files DIR holds (0 when it is gone).
count_files() { find "$1" -type f 2>/dev/null | wc -l; }

# What a killed run left, for the log: how far it got.
log_progress() {
    local staging staged=0 left=0 f registered=no
    staging=$(e2e_c_path "$E2E_STAGING_WIN")
    for f in "${E2E_PACKAGE_FILES[@]}"; do [[ -f $staging/$f ]] && staged=$((staged + 1)); done
    for f in "${target_files[@]}"; do [[ -e $WINEPREFIX/drive_c/$f ]] && left=$((left + 1)); done
    e2e_registered_inf >/dev/null && registered=yes
    e2e_log "it left: $left of ${#target_files[@]} older targets" \
        "($(count_files "$bulk_store") of $BULK_FILES files in the store folder)," \
        "$(count_files "$bulk_staged") of $BULK_FILES older staged files," \
        "$staged of ${#E2E_PACKAGE_FILES[@]} package files staged, package INF registered: $registered"
}

run_to_the_end() {
    e2e_run_installer
    e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
    e2e_assert_exit 3010
}

before_any_run
run_to_the_end
e2e_assert_staged
e2e_assert_inf_registered
e2e_state_digest "${places[@]}" >"$E2E_DIR/state.uninterrupted"

kills=0
for ms in "${KILL_MS[@]}"; do
    before_any_run
    e2e_run_installer_killed "$ms"
    [[ -z $E2E_KILLED_MS ]] || kills=$((kills + 1))
    log_progress
    run_to_the_end
    e2e_state_digest "${places[@]}" >"$E2E_DIR/state.killed-$ms"
    if ! diff -u "$E2E_DIR/state.uninterrupted" "$E2E_DIR/state.killed-$ms" \
        >"$E2E_DIR/state.killed-$ms.diff"; then
        cat "$E2E_DIR/state.killed-$ms.diff" >&2
        e2e_fail "killed after $ms ms (at native speed) and run again, the machine differs from an uninterrupted run's"
    fi
done
(( kills )) || e2e_fail "the installer always ended before its kill: the delays are too long for this machine"
e2e_pass
