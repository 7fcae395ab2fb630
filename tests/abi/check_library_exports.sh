#!/usr/bin/env bash
# The Linux library exports exactly the driver's entry points listed in exports.txt.
set -euo pipefail
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
wanted=$(grep -v '^[[:space:]]*$' "$expected" | sort)
if [ "$actual" != "$wanted" ]; then
  echo "exports of $library differ from $expected:"
  diff <(echo "$wanted") <(echo "$actual") || true
  exit 1
fi
echo "libdorvane.so exports: $(echo "$actual" | tr '\n' ' ')"
