#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layering rule: only src/platform/xmldom/engine/ includes libxml2. Lists
# every other library or tool source that does and fails when there is one.
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"
offenders=$(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]libxml/' src tools include \
  | grep -v '^src/platform/xmldom/engine/' || true)
if [ -n "$offenders" ]; then
  echo "libxml2 included outside src/platform/xmldom/engine/:" >&2
  echo "$offenders" >&2
  exit 1
fi
echo "layering: libxml2 is included only in src/platform/xmldom/engine/"
