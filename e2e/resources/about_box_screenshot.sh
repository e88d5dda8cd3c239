#!/usr/bin/env bash
# A screenshot of the About box on a Chinese (PRC) system, kept as
# about-box.png (and the whole screen as screen.png) in this scenario's
# folder, for a look at how the Chinese texts render.  Checks that the box
# was shown and captured, and that the capture is not blank.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/fonts.sh"

resources_require_screenshots

e2e_new_prefix about_box_screenshot
resources_add_wine_fonts
e2e_set_locale zh_CN.UTF-8
report=$E2E_DIR/aboutbox.report
ready=$E2E_DIR/ready
done_file=$E2E_DIR/shot-taken
rm -f "$ready" "$done_file"
screen=$E2E_DIR/screen.png
shot=$E2E_DIR/about-box.png

( e2e_wine "$QX_E2E_BIN/aboutbox.exe" --show "$(e2e_win_path "$report")" \
    "$(e2e_win_path "$ready")" "$(e2e_win_path "$done_file")" ) &
box=$!
# Whatever happens below, let the box close.
e2e_on_exit touch "$done_file"

for ((i = 0; i < 300; i++)); do
    [[ -s $ready ]] && break
    kill -0 "$box" 2>/dev/null || break
    sleep 0.1
done
[[ -s $ready ]] || e2e_fail "the About box did not appear"
read -r x y w h <"$ready"
import -window root "$screen" || e2e_fail "import could not capture the screen"
touch "$done_file"
rc=0
wait "$box" || rc=$?
[[ -f $report ]] && sed 's/^/    /' "$report" >&2
grep -q '^DONE 0' "$report" || e2e_fail "aboutbox --show failed (exit code $rc)"

convert "$screen" -crop "${w}x${h}+${x}+${y}" +repage "$shot" ||
    e2e_fail "could not cut the About box ($w x $h at $x, $y) out of $screen"
size=$(identify -format '%w %h' "$shot")
e2e_assert_eq "$w $h" "$size" "size of the About box capture"
# A painted box has its caption, texts and button: many colours, not one.
colours=$(identify -format '%k' "$shot")
(( colours > 8 )) || e2e_fail "the About box capture has only $colours colour(s)"
e2e_log "About box captured: $shot ($w x $h, $colours colours)"
e2e_pass
