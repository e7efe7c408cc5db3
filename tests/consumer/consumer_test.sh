#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a user of the installed package does: installs the built tree into a
# temporary prefix, builds examples/ against it once with CMake's
# find_package(xmlutil) and once with pkg-config (--static when the library is
# a static archive), runs both programs and the installed xmlutil tool,
# compiles each installed public header on its own, and builds a C++20
# program with the pkg-config flags.
# Then the Windows-style programs of wincompat/, built unchanged once with
# find_package + xmlutil::wincompat and once with pkg-config xmlutil-wincompat,
# must print what wincompat/*.expected holds; and the plain package must give
# no Windows header (windows.h, atl.h, wintypes.h) while <X11/Xmd.h> and the
# library headers compile together.
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

# 5. The plain package: only the folder holding xmlutil/ is on the path, and
# no Windows typedef collides with X11's (BOOL).
for header in windows.h atl.h wintypes.h atlbase.h tchar.h; do
    if echo "#include <$header>" | "$cxx" "${cflags[@]}" -fsyntax-only -x c++ - 2>/dev/null; then
        fail "pkg-config xmlutil puts $header on the include path"
    fi
done
if [ -f /usr/include/X11/Xmd.h ]; then
    printf '#include <X11/Xmd.h>\n#include <xmlutil/XMLUtil.h>\n' |
        "$cxx" "${cflags[@]}" -Wall -Wextra -Werror -fsyntax-only -x c++ - ||
        fail "<X11/Xmd.h> and <xmlutil/XMLUtil.h> do not compile together"
    echo "ok: <X11/Xmd.h> with <xmlutil/XMLUtil.h>"
fi
echo "ok: the plain package gives no Windows headers"

# 6. Windows-style programs, with no source edit.
wincompat=$source/tests/consumer/wincompat
read -r -a wc_cflags <<<"$(pkg-config --define-prefix --cflags xmlutil-wincompat)"
for header in "$prefix"/include/xmlutil/wincompat/*.h; do
    echo "#include <$(basename "$header")>" |
        "$cxx" "${wc_cflags[@]}" -Wall -Wextra -Werror -Wshadow -fsyntax-only -x c++ - ||
        fail "wincompat/$(basename "$header") does not compile on its own"
done
echo "ok: the installed Windows include lines compile on their own"
"$cmake" -S "$wincompat" -B "$work/wincompat-build" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="${flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${flags[*]}" \
    >"$work/wincompat.log" 2>&1 || { cat "$work/wincompat.log" >&2; fail "configuring wincompat/ failed"; }
"$cmake" --build "$work/wincompat-build" >>"$work/wincompat.log" 2>&1 ||
    { cat "$work/wincompat.log" >&2; fail "building wincompat/ with xmlutil::wincompat failed"; }
read -r -a wc_libs <<<"$(pkg-config --define-prefix --cflags --libs xmlutil-wincompat)"
run_program() {  # HOW PROGRAM
    local how=$1 program=$2 binary out
    if [ "$how" = cmake ]; then
        binary=$work/wincompat-build/$program
    else
        binary=$work/$program-pkg-config
        "$cxx" "${flags[@]}" "$wincompat/$program.cpp" "${wc_libs[@]}" -Wl,-rpath,"$libdir" \
            -o "$binary" || fail "$program does not build with pkg-config xmlutil-wincompat"
    fi
    out=$("$binary" "$sample") || fail "$program ($how) exited with status $?"
    [ "$out" = "$(cat "$wincompat/$program.expected")" ] ||
        fail "$program ($how) printed:
$out
expected:
$(cat "$wincompat/$program.expected")"
    echo "ok: $program built with $how"
}
for program in menu_report settings; do
    run_program cmake "$program"
    run_program pkg-config "$program"
done
