#!/usr/bin/env bash
# Screenshots of the message boxes a user sees, each cut out of the screen
# while the box waits for its OK: the restart notice in English and in
# Chinese (PRC), and the failure when the package lacks its catalogue.
# Saved as box-restart-en.png, box-restart-zh.png and
# box-copy-failure-en.png in QX_SHOT_OUT (default: this scenario's
# folder); scripts/screenshots saves them in docs/.  Checks that each box
# showed the expected text and that its picture is the box's size and not
# blank.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/fonts.sh"

resources_require_screenshots

# shoot NAME LOCALE TEXT PACKAGE_DIR: runs the installer on PACKAGE_DIR and
# saves its one box, which must show TEXT, as NAME.png.
shoot() {
    local name=$1 locale=$2 text=$3 package=$4
    e2e_new_prefix "box_screenshots_$name"
    resources_add_wine_fonts
    e2e_set_version win10
    e2e_set_locale "$locale"
    e2e_stage_package "$package"
    local out=${QX_SHOT_OUT:-$E2E_DIR}
    mkdir -p "$out"
    export E2E_SHOT_DIR=$E2E_DIR/shots
    mkdir -p "$E2E_SHOT_DIR"
    e2e_run_installer &
    local run=$! rect=$E2E_SHOT_DIR/box-1.rect i
    # Whatever happens below, let the box go.
    e2e_on_exit touch "$E2E_SHOT_DIR/box-1.taken"
    # As long as the watcher would wait for the installer.
    for ((i = 0; i < ${E2E_TIMEOUT:-60} * 10; i++)); do
        [[ -s $rect ]] && break
        kill -0 "$run" 2>/dev/null || break
        sleep 0.1
    done
    [[ -s $rect ]] || e2e_fail "$name: no box appeared"
    local x y w h
    read -r x y w h <"$rect"
    # A box may still be painting when its rectangle is known.
    sleep 0.5
    import -window root "$E2E_DIR/screen.png" || e2e_fail "import could not capture the screen"
    touch "$E2E_SHOT_DIR/box-1.taken"
    wait "$run" || e2e_fail "$name: the installer run failed"
    unset E2E_SHOT_DIR
    local report
    report=$(cat "$E2E_DIR"/run-*.report)
    grep -qF "$text" <<<"$report" || e2e_fail "$name: the box did not show \"$text\":
$report"
    convert "$E2E_DIR/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" ||
        e2e_fail "$name: could not cut the box ($w x $h at $x, $y) out of the screen"
    e2e_assert_eq "$w $h" "$(identify -format '%w %h' "$out/$name.png")" "size of the $name picture"
    local colours
    colours=$(identify -format '%k' "$out/$name.png")
    (( colours > 8 )) || e2e_fail "$name: the picture has only $colours colour(s)"
    e2e_log "$name: $out/$name.png ($w x $h, $colours colours)"
    WINEPREFIX=$E2E_DIR/prefix wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$E2E_DIR/prefix"
}

shoot box-restart-en "" "$E2E_RESTART_EN" "$QX_PACKAGE_DIR"
shoot box-restart-zh zh_CN.UTF-8 "$E2E_RESTART_ZH" "$QX_PACKAGE_DIR"
broken=$QX_E2E_WORK/box_screenshots-package
e2e_copy_package "$broken"
rm "$broken/USB_DSP.cat"
shoot box-copy-failure-en "" "${E2E_FAILURE_PREFIX_EN}Copy PreInstall File Error." "$broken"
rm -rf "$broken"
e2e_pass
