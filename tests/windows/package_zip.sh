#!/usr/bin/env bash
# The zip of a Windows set (win64 or win32) as cpack makes it: exactly the kit's files under one top
# folder, the DLLs stripped but exporting what the built ones export, and
# tovctl.exe, tq318-make-package.exe and Pelorim.exe there exactly when this
# build has them (the win64 set); Pelorim.exe binds the two DLLs at run time,
# so it imports neither.
# usage: package_zip.sh CPACK WIN_BUILD OBJDUMP VERSION HAS_TOVCTL(0|1) HAS_PELORIM(0|1) [SET(win64|win32)]
set -euo pipefail
cpack=$1 build=$2 objdump=$3 version=$4 has_tovctl=$5 has_pelorim=${6:-0} set_name=${7:-win64}
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
$top/lib/tovrane.def
$top/lib/tovrane.lib
$top/lib/uart.def
$top/lib/uart.lib
$top/samples/os.img
$top/samples/tq318.hex"
if [[ $has_tovctl == 1 ]]; then expected+=$'\n'"$top/bin/tovctl.exe"$'\n'"$top/bin/tq318-make-package.exe"; fi
if [[ $has_pelorim == 1 ]]; then expected+=$'\n'"$top/bin/Pelorim.exe"; fi
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
if [[ $has_pelorim == 1 ]]; then
  imports=$("$objdump" -p "$out/$top/bin/Pelorim.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
  if grep -qxE 'uart\.dll|tovrane\.dll' <<< "$imports"; then
    echo "FAIL: Pelorim.exe imports the kit's DLLs:"; echo "$imports"; fail=1
  else
    echo "ok: Pelorim.exe imports only system DLLs ($(tr '\n' ' ' <<< "$imports"))"
  fi
  grep -q 'Pelorim.exe' "$out/$top/README-windows.txt" || { echo "FAIL: README-windows.txt says nothing of Pelorim.exe"; fail=1; }
fi
# The first command a technician runs opens the README.
head -8 "$out/$top/README-windows.txt" | grep -q '^    tovctl.exe ports' ||
  { echo "FAIL: README-windows.txt does not open with the first command"; fail=1; }
# Every .def file uart.h names is in the zip.
for def in $(grep -o '[a-z_]*\.def' "$out/$top/include/uart.h" | sort -u); do
  [[ -f $out/$top/lib/$def ]] || { echo "FAIL: uart.h names $def, which the zip lacks"; fail=1; }
done
# The sample package holds its member list, program and record.
listing=$(gcab -l "$out/$top/samples/tq318.hex")
for member in file.lst tq318.exe auth.key; do
  grep -q "^$member " <<< "$listing" ||
    { echo "FAIL: samples/tq318.hex holds no $member"; fail=1; }
done
exit $fail
