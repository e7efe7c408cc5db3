#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times `xmlutil get` against `xmllint --xpath` on one large menu file with
# hyperfine (installed with apt-get when missing; not a test dependency).
#
# Usage: tools/xmlutil/compare_xmllint.sh [XMLUTIL] [MEGABYTES]
#   XMLUTIL    the tool to time (default: build-release/tools/xmlutil/xmlutil,
#              built in Release when missing)
#   MEGABYTES  size of the generated file (default 50)
set -euo pipefail
cd "$(dirname "$0")/../.."
tool=${1:-build-release/tools/xmlutil/xmlutil}
megabytes=${2:-50}
if [ -z "${1:-}" ] && [ ! -x "$tool" ]; then
    scripts/deps.sh
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DXMLUTIL_BUILD_TESTS=OFF \
        -DXMLUTIL_BUILD_EXAMPLES=OFF >/dev/null
    cmake --build build-release --target xmlutil_cli
fi
command -v hyperfine >/dev/null || scripts/deps.sh hyperfine
command -v xmllint >/dev/null || scripts/deps.sh libxml2-utils

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlutil-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
big=$work/big.xml
python3 - "$big" "$megabytes" <<'PY'
import sys
path, limit = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
with open(path, "w", encoding="utf-8") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<Root>\n  <Menu>\n')
    written, i = 0, 0
    while written < limit:
        item = ('    <Item id="item%d" shortcut="Ctrl+%d">\n      <Name>菜单项 %d</Name>\n'
                '      <Command>menu.command.%d</Command>\n    </Item>\n') % (i, i % 10, i, i)
        f.write(item)
        written += len(item.encode("utf-8"))
        i += 1
    f.write("  </Menu>\n</Root>\n")
PY
query='/Root/Menu/Item[last()]/Name'
echo "file: $(du -h "$big" | cut -f1), query: $query"
echo "xmlutil: $("$tool" get "$big" "$query")"
echo "xmllint: $(xmllint --xpath "$query/text()" "$big")"
hyperfine --warmup 2 --runs 20 --export-json "$work/times.json" \
    "$tool get $big '$query'" "xmllint --xpath '$query' $big"
python3 - "$work/times.json" <<'PY'
import json, sys
tool, lint = json.load(open(sys.argv[1]))["results"]
print("ratio xmlutil/xmllint: mean %.2f, median %.2f, fastest %.2f" % (
    tool["mean"] / lint["mean"], tool["median"] / lint["median"], tool["min"] / lint["min"]))
PY
