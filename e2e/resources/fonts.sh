# shellcheck shell=bash
# Helpers of the scenarios that look at what the screen shows.

# resources_require_screenshots: fails the scenario unless ImageMagick and
# an X display are there to take and cut screenshots with.
resources_require_screenshots() {
    local tool
    for tool in import convert identify; do
        command -v "$tool" >/dev/null || e2e_fail "$tool (ImageMagick) is not installed"
    done
    [[ -n ${DISPLAY:-} ]] || e2e_fail "no X display to take a screenshot of"
}

# resources_add_wine_fonts: copies Wine's own fonts (Marlett for the caption
# buttons, Tahoma for "MS Shell Dlg") into the prefix's Fonts folder.  This
# Wine build does not read them from where Debian's fonts-wine puts them,
# and without Marlett the caption's close button shows the letter "r".
resources_add_wine_fonts() {
    local dir=/usr/share/wine/fonts f
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$fonts"
    for f in marlett.ttf tahoma.ttf tahomabd.ttf; do
        [[ -f $dir/$f ]] && cp "$dir/$f" "$fonts/$f"
    done
    return 0
}
