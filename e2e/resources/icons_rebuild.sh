#!/usr/bin/env bash
# usage: icons_rebuild.sh PYTHON3 SOURCE_DIR WORK_DIR
# Draws the icons afresh into WORK_DIR and compares them byte for byte with
# the committed res/installer.ico and res/small.ico.
set -o errexit -o nounset -o pipefail
python=$1 src=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
"$python" "$src/scripts/make-icons" "$work"
status=0
for icon in installer.ico small.ico; do
    if cmp -s "$work/$icon" "$src/res/$icon"; then
        echo "PASS res/$icon is what scripts/make-icons draws"
    else
        echo "FAIL res/$icon differs from what scripts/make-icons draws ($work/$icon)"
        status=1
    fi
done
exit $status
