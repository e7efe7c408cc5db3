#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tree follows its .clang-format: lists every C++ file under src, include,
# tools, tests, bench, fuzz and examples that clang-format would change, with
# the differences, and fails when there is one. Fix with clang-format -i.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
command -v clang-format >/dev/null || { echo "check_format: clang-format is not installed" >&2; exit 1; }
folders=(src include tools tests bench fuzz examples)
# Tracked and new (not ignored) files in a checkout; every file otherwise.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list=$(git ls-files --cached --others --exclude-standard -- "${folders[@]}")
else
  list=$(find "${folders[@]}" -type f 2>/dev/null)
fi
mapfile -t files < <(grep -E '\.(c|cc|cpp|cxx|h|hh|hpp)$' <<<"$list" | sort -u)
[ ${#files[@]} -gt 0 ] || { echo "check_format: no sources found" >&2; exit 1; }
if ! clang-format --dry-run -Werror "${files[@]}"; then
  echo "check_format: the files above differ from .clang-format (run clang-format -i on them)" >&2
  exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
