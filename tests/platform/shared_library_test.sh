#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared library as a loader sees it: no static TLS (so dlopen works),
# only the public API exported, dlopen from the main thread and from a second
# thread, and ctypes from Python.
# Usage: shared_library_test.sh LIBRARY DLOPEN_PROBE [PYTHON]
set -euo pipefail
library=$1
probe=$2
python=${3:-}
fail() { echo "shared library test: $*" >&2; exit 1; }

if readelf -d "$library" | grep -q STATIC_TLS; then
    fail "$library is marked STATIC_TLS: dlopen may fail with 'cannot allocate memory in static TLS block'"
fi
echo "ok: no STATIC_TLS flag"

# Every exported symbol is a public name; no standard-library template leaks.
leaked=$(nm -D --defined-only "$library" | awk '{print $3}' | c++filt |
    grep -vE '^(CXMLUtil::|typeinfo (name )?for CXMLUtil$|vtable for CXMLUtil$|_com_|LoadMenuXml$|Sys|Variant|Co|IID_|CLSID_)' || true)
[ -z "$leaked" ] || fail "symbols exported beyond the public API:
$leaked"
echo "ok: only the public API is exported"

"$probe" main "$library"
"$probe" thread "$library"

if [ -n "$python" ]; then
    "$python" - "$library" <<'PY'
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
lib.SysAllocString.restype = ctypes.c_void_p
lib.SysAllocString.argtypes = [ctypes.c_wchar_p]
lib.SysStringLen.argtypes = [ctypes.c_void_p]
lib.SysFreeString.argtypes = [ctypes.c_void_p]
text = lib.SysAllocString("ctypes")
assert lib.SysStringLen(text) == 6, "SysStringLen through ctypes"
lib.SysFreeString(text)
# The entry point initialised COM on the loading thread: asking again only counts.
assert lib.CoInitializeEx(None, 0) == 1, "CoInitializeEx on the loading thread"
print("ok: ctypes.CDLL")
PY
fi
