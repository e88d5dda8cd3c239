# shellcheck shell=bash
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
