#!/usr/bin/env bash
# The main job: installs what is missing, configures and builds, then runs the
# xmlutil tool on the bundled menu sample: queries, an edit and a menu merge
# (on a copy in a temporary folder; the bundled files are never changed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target xmlutil_cli quickstart
tool=$build/tools/xmlutil/xmlutil

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlutil-main.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp examples/data/menu.xml "$work/menu.xml"
menu=$work/menu.xml

quote() {  # an argument as it would be typed into the shell
    case $1 in
        *[][\ \"\'\$\*\?\(\)\<\>\|\&\;]*) printf " '%s'" "$1" ;;
        *) printf ' %s' "$1" ;;
    esac
}
show() {  # prints the command line, then runs it
    echo
    printf '$ xmlutil'
    for arg in "$@"; do quote "$arg"; done
    echo
    "$tool" "$@"
}

echo
echo "== Query the bundled sample (examples/data/menu.xml)"
show count examples/data/menu.xml /Root/Menu/Item
show values examples/data/menu.xml /Root/Menu/Item/Name
show get examples/data/menu.xml '/Root/Menu/Item[@id="edit"]/@shortcut'
show attrs examples/data/menu.xml '/Root/Menu/Item[1]'
show children examples/data/menu.xml '/Root/Menu/Item[1]'
echo
echo "== The GB2312 variant reads the same, printed as UTF-8"
show values examples/data/menu-gb2312.xml /Root/Menu/Item/Name

echo
echo "== Edit a copy: $menu"
show set "$menu" /Root/Config/Theme 现代
show set-attr "$menu" '/Root/Menu/Item[@id="view"]' shortcut Alt+V
show append "$menu" '/Root/Menu/Item[@id="help"]' Tooltip 显示帮助
show xml "$menu" '/Root/Menu/Item[@id="help"]'
show get "$menu" /Root/Config/Theme

echo
echo "== Merge examples/data/extra-menu.xml into the copy"
show merge-menu "$menu" /Root/Menu examples/data/extra-menu.xml
show values "$menu" /Root/Menu/Item/Name
show count "$menu" /Root/Menu/Item

echo
echo "== The quick-start program on the bundled sample"
echo "\$ $build/examples/quickstart examples/data/menu.xml"
"$build/examples/quickstart" examples/data/menu.xml
