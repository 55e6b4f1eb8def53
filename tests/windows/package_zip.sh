#!/usr/bin/env bash
# The zip of a Windows set (win64 or win32) as cpack makes it: exactly the kit's files under one top
# folder, the DLLs stripped but exporting what the built ones export, and
# tovctl.exe there exactly when this build has it.
# usage: package_zip.sh CPACK WIN_BUILD OBJDUMP VERSION HAS_TOVCTL(0|1) [SET(win64|win32)]
set -euo pipefail
cpack=$1 build=$2 objdump=$3 version=$4 has_tovctl=$5 set_name=${6:-win64}
fail=0
expect() { # label actual expected
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1"; echo "--- expected"; echo "$3"; echo "--- in the zip"; echo "$2"; fail=1
  else
    echo "ok: $1"
  fi
}
zip="$build/packages/tq318-kit-$version-$set_name.zip"
rm -f "$zip"
(cd "$build" && "$cpack" -G ZIP > "$build/cpack-zip.log" 2>&1) || { cat "$build/cpack-zip.log"; exit 1; }
[[ -f "$zip" ]] || { echo "FAIL: no $zip"; cat "$build/cpack-zip.log"; exit 1; }

top="tq318-kit-$version-$set_name"
expected="$top/README-windows.txt
$top/bin/tovrane.dll
$top/bin/uart.dll
$top/include/tovrane.h
$top/include/uart.h
$top/lib/tovrane.lib
$top/lib/uart.lib"
if [[ $has_tovctl == 1 ]]; then expected+=$'\n'"$top/bin/tovctl.exe"; fi
expect "the zip's files" "$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)" "$(LC_ALL=C sort <<< "$expected")"

out="$build/package-check"
rm -rf "$out"; mkdir -p "$out"
unzip -q "$zip" -d "$out"
exports() { "$objdump" -p "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p'; }
for dll in tovrane.dll uart.dll; do
  packed="$out/$top/bin/$dll"
  expect "$dll in the zip exports what the built one does" "$(exports "$packed")" "$(exports "$build/bin/$dll")"
  if "$objdump" -h "$packed" | grep -q '\.debug_'; then
    echo "FAIL: $dll in the zip still has debug sections"; fail=1
  else
    echo "ok: $dll in the zip is stripped"
  fi
done
for h in tovrane.h uart.h; do
  cmp -s "$out/$top/include/$h" "$(dirname "$0")/../../library/$([[ $h == uart.h ]] && echo uart/)include/$h" ||
    { echo "FAIL: $h in the zip differs from the source"; fail=1; }
done
grep -q 'Load Process' "$out/$top/README-windows.txt" || { echo "FAIL: README-windows.txt"; fail=1; }
exit $fail
