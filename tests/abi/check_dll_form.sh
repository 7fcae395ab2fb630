#!/usr/bin/env bash
# dorvane.dll is a 32-bit PE for i386 that exports exactly the names in exports.txt, undecorated,
# and imports from system DLLs only (no libgcc, libstdc++ or winpthread beside it). The import
# library beside it, dorvane.lib, offers each name with the cdecl decoration (a leading underscore,
# no @bytes), dorvane.def lists the same names for Microsoft's tools, and dorvane.exe, when built, needs nothing but system DLLs and dorvane.dll.
# Windows Sockets count as system DLLs for dorvane.exe alone: the driver opens no socket.
set -euo pipefail
dll=$1
expected=$2
folder=$(dirname "$dll")
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
nm=${NM:-i686-w64-mingw32-nm}
dump=$("$objdump" -p "$dll")

system_dll() {
  case "$1" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) return 0 ;;
    *) return 1 ;;
  esac
}

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
  system_dll "$name" || { echo "$dll imports from a non-system DLL: $name"; exit 1; }
done
echo "dorvane.dll: PE32 i386; exports: $(echo "$actual" | tr '\n' ' ')imports: $(echo "$imports" | tr '\n' ' ')"

library=$folder/dorvane.lib
[ -f "$library" ] || { echo "no import library $library"; exit 1; }
symbols=$("$nm" "$library")
if grep -q '@[0-9]' <<<"$symbols"; then
  echo "$library offers stdcall-decorated names:"
  grep '@[0-9]' <<<"$symbols"
  exit 1
fi
for name in $wanted; do
  grep -q " I __imp__$name\$" <<<"$symbols" && grep -q " T _$name\$" <<<"$symbols" ||
    { echo "$library does not offer $name as a cdecl function"; exit 1; }
done
echo "dorvane.lib: the $(wc -w <<<"$wanted") names, cdecl"

definitions=$folder/dorvane.def
[ -f "$definitions" ] || { echo "no module definition file $definitions"; exit 1; }
defined=$(awk '/^EXPORTS/{t=1; next} t && NF{print $1}' "$definitions" | sort)
[ "$defined" = "$wanted" ] || { echo "$definitions lists other names:"; diff <(echo "$wanted") <(echo "$defined") || true; exit 1; }

program=$folder/dorvane.exe
if [ -f "$program" ]; then
  for name in $("$objdump" -p "$program" | awk '/DLL Name:/{print tolower($3)}' | sort -u); do
    # Windows Sockets, system DLLs too, serve the live view.
    system_dll "$name" || [ "$name" = ws2_32.dll ] || [ "$name" = mswsock.dll ] || [ "$name" = dorvane.dll ] ||
      [ "$name" = dorvane_spectra.dll ] || { echo "$program imports from $name"; exit 1; }
  done
  echo "dorvane.exe: imports system DLLs (Windows Sockets among them), dorvane.dll and dorvane_spectra.dll only"
fi

spectra=$folder/dorvane_spectra.dll
if [ -f "$spectra" ]; then
  for name in $("$objdump" -p "$spectra" | awk '/DLL Name:/{print tolower($3)}' | sort -u); do
    system_dll "$name" || { echo "$spectra imports from $name"; exit 1; }
  done
  echo "dorvane_spectra.dll: imports system DLLs only"
fi
