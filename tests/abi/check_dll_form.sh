#!/usr/bin/env bash
# dorvane.dll is a 32-bit PE for i386 that exports exactly the names in exports.txt, undecorated,
# and imports from system DLLs only (no libgcc, libstdc++ or winpthread beside it).
set -euo pipefail
dll=$1
expected=$2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")

grep -q 'file format pei-i386' <<<"$dump" || { echo "$dll is not a PE32 i386 image"; exit 1; }
grep -q '^Magic[[:space:]]*010b' <<<"$dump" || { echo "$dll is not PE32 (optional header magic)"; exit 1; }

actual=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && /^[ \t]*\[/{print $NF; next} t{t=0}' <<<"$dump" | sort)
wanted=$(grep -v '^[[:space:]]*$' "$expected" | sort)
if [ "$actual" != "$wanted" ]; then
  echo "exports of $dll differ from $expected:"
  diff <(echo "$wanted") <(echo "$actual") || true
  exit 1
fi

imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u)
for name in $imports; do
  case "$name" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) ;;
    *) echo "$dll imports from a non-system DLL: $name"; exit 1 ;;
  esac
done
echo "dorvane.dll: PE32 i386; exports: $(echo "$actual" | tr '\n' ' ')imports: $(echo "$imports" | tr '\n' ' ')"
