#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a user of the installed package does: installs the built tree into a
# temporary prefix, builds examples/ against it once with CMake's
# find_package(xmlutil) and once with pkg-config (--static when the library is
# a static archive), runs both programs and the installed xmlutil tool,
# compiles each installed public header on its own, and builds a C++20
# program with the pkg-config flags.
#
# Usage: consumer_test.sh BUILD_DIR SOURCE_DIR [PREFIX]
# With PREFIX (an unpacked package, for example), nothing is installed: the
# files already under PREFIX are used.
# Environment: CMAKE, CXX (default cmake, c++); CONSUMER_FLAGS, extra compile
# and link flags (the sanitizer flags when the tree was built with them).
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
cmake=${CMAKE:-cmake}
cxx=${CXX:-c++}
read -r -a flags <<<"${CONSUMER_FLAGS:-}"

work=$(mktemp -d "${TMPDIR:-/tmp}/xmlutil-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=${3:-$work/prefix}
sample=$source/examples/data/menu.xml
expected="$sample: 4 menu items
  文件
  编辑
  视图
  帮助"

fail() { echo "consumer test: $*" >&2; exit 1; }
expect_output() {  # NAME COMMAND...
    local name=$1 out
    shift
    out=$("$@") || fail "$name exited with status $?"
    [ "$out" = "$expected" ] || fail "$name printed:
$out
expected:
$expected"
    echo "ok: $name"
}

if [ $# -lt 3 ]; then
    "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
        { cat "$work/install.log" >&2; fail "cmake --install failed"; }
fi
pc_file=$(find "$prefix" -name xmlutil.pc -print -quit)
[ -n "$pc_file" ] || fail "no xmlutil.pc installed"
libdir=$(dirname "$(dirname "$pc_file")")
[ -x "$prefix/bin/xmlutil" ] || fail "the xmlutil tool is not installed"
pc_static=()
if [ ! -e "$libdir/libxmlutil.so" ]; then
    [ -e "$libdir/libxmlutil.a" ] || fail "neither libxmlutil.so nor libxmlutil.a under $libdir"
    pc_static=(--static)
fi

# 1. CMake: the examples as a project of their own, finding the package.
"$cmake" -S "$source/examples" -B "$work/cmake-build" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" \
    >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "configuring examples/ failed"; }
"$cmake" --build "$work/cmake-build" >>"$work/cmake.log" 2>&1 ||
    { cat "$work/cmake.log" >&2; fail "building examples/ with find_package failed"; }
expect_output "quickstart built with find_package(xmlutil)" "$work/cmake-build/quickstart" "$sample"

# 2. pkg-config. --define-prefix takes the prefix from where the .pc file
# lies, as the package was installed to a prefix other than the configured one.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
read -r -a pc_flags <<<"$(pkg-config --define-prefix "${pc_static[@]}" --cflags --libs xmlutil)"
"$cxx" "${flags[@]}" "$source/examples/quickstart.cpp" "${pc_flags[@]}" \
    -Wl,-rpath,"$libdir" -o "$work/quickstart-pkg-config"
expect_output "quickstart built with pkg-config ${pc_static[*]}" "$work/quickstart-pkg-config" "$sample"

# A C++20 program: the flags neither pin an older standard nor need libxml2's.
cat >"$work/span.cpp" <<'CPP'
#include <xmlutil/XMLUtil.h>
#include <span>
int main() {
    CXMLUtil doc;
    if (doc.LoadXML(L"<r><i>1</i><i>2</i></r>") != S_OK) return 1;
    std::vector<CComPtr<IXMLDOMNode>> nodes;
    doc.GetNodes(L"/r/i", nodes);
    const std::span<CComPtr<IXMLDOMNode>> items(nodes);
    return items.size() == 2 ? 0 : 1;
}
CPP
"$cxx" -std=c++20 "${flags[@]}" "$work/span.cpp" "${pc_flags[@]}" -Wl,-rpath,"$libdir" \
    -o "$work/span" || fail "a C++20 program does not build with the pkg-config flags"
"$work/span" || fail "the C++20 program failed"
echo "ok: C++20 program with std::span built with pkg-config"

# 3. The installed tool finds the installed library.
count=$("$prefix/bin/xmlutil" count "$sample" /Root/Menu/Item) || fail "installed xmlutil failed"
[ "$count" = 4 ] || fail "installed xmlutil counted '$count' items, expected 4"
echo "ok: installed xmlutil tool"

# 4. Each installed public header compiles on its own.
read -r -a cflags <<<"$(pkg-config --define-prefix --cflags xmlutil)"
headers=("$prefix"/include/xmlutil/*.h)
[ ${#headers[@]} -ge 4 ] || fail "public headers missing under $prefix/include/xmlutil"
for header in "${headers[@]}"; do
    name=$(basename "$header")
    echo "#include <xmlutil/$name>" |
        "$cxx" "${cflags[@]}" -Wall -Wextra -Werror -Wshadow -fsyntax-only -x c++ - ||
        fail "xmlutil/$name does not compile on its own"
done
echo "ok: ${#headers[@]} installed headers compile on their own"
