#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a user gets it: makes the .deb with cpack, unpacks it
# into a scratch root with dpkg -x, checks that it holds the library, the
# headers, the tool and the license, and builds and runs the examples against
# it (consumer_test.sh on the unpacked /usr).
#
# Usage: deb_test.sh BUILD_DIR SOURCE_DIR
# Environment: CPACK (default cpack), and what consumer_test.sh reads.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
cpack=${CPACK:-cpack}

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlutil-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "deb test: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(find "$work/package" -maxdepth 1 -name '*.deb' -print -quit)
[ -n "$deb" ] || fail "cpack made no .deb"
echo "ok: $(basename "$deb")"
dpkg-deb --field "$deb" Depends | grep -q libxml2 || fail "the package does not depend on libxml2"

root=$work/root
dpkg -x "$deb" "$root"
for wanted in usr/bin/xmlutil usr/include/xmlutil/XMLUtil.h usr/share/doc/xmlutil/LICENSE; do
    [ -e "$root/$wanted" ] || fail "the package has no /$wanted"
done
[ -n "$(find "$root/usr" -name 'libxmlutil.so.*' -print -quit)" ] || fail "the package has no library"
echo "ok: library, headers, tool and license unpacked"

bash "$source/tests/consumer/consumer_test.sh" "$build" "$source" "$root/usr"
