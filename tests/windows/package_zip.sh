#!/usr/bin/env bash
# The zip of a Windows set (win64 or win32) as cpack makes it: exactly the kit's files under one top
# folder; the DLLs in it stripped, tovrane.dll exporting exactly its 21 names at
# their ordinals and importing uart.dll's five operations by ordinal only,
# uart.dll exporting those five at their ordinals and the rest by name, neither
# needing a runtime DLL of the compiler; tovctl.exe, tq318-make-package.exe and
# Pelorim.exe there exactly when this build has them (the win64 set); Pelorim.exe
# binds the two DLLs at run time, so it imports neither.
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
# "ordinal name" lines of a DLL's export table, and every exported ordinal (named or not).
exports() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^$/ { on = 0 }
    on && /\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $1 + base, $2 }' | sort -n
}
ordinals() { "$objdump" -p "$1" | sed -n 's/.*+base\[ *\([0-9]*\)\].*/\1/p' | sort -n | tr '\n' ' '; }
bin="$out/$top/bin"
tovrane_expected="1 TOV_Get_Dll_Version
17 TOV_Load_File
18 TOV_Update_Tovrane
20 TOV_Del_All_Files
21 TOV_Get_Tovrane_Version
22 TOV_Dir_Tovrane
23 TOV_Get_FreeSize
24 TOV_Set_IP
25 TOV_Get_IP
26 TOV_Set_Mask
27 TOV_Get_Mask
28 TOV_Set_Gateway
29 TOV_Get_Gateway
30 TOV_Set_COM
31 TOV_Get_COM
35 TOV_Set_DiskSize
36 TOV_Get_DiskSize
50 TOV_IsGetErrorString
51 TOV_GetPrompt
60 MakeCRC16Table
61 GetCRC16"
expect "tovrane.dll names at their ordinals" "$(exports "$bin/tovrane.dll")" "$tovrane_expected"
expect "tovrane.dll has no other ordinal" "$(ordinals "$bin/tovrane.dll")" "$(cut -d' ' -f1 <<< "$tovrane_expected" | tr '\n' ' ')"
expect "uart.dll's five at their ordinals" \
  "$(exports "$bin/uart.dll" | grep -E ' (Send_Raw|Read_Reply|Exchange_Cmd|Read_Until|Read_Raw)$' | tr '\n' ' ')" \
  "9 Send_Raw 10 Read_Reply 30 Exchange_Cmd 32 Read_Until 33 Read_Raw "
expect "uart.dll names" "$(exports "$bin/uart.dll" | cut -d' ' -f2 | sort | tr '\n' ' ')" \
  "Close_Com Exchange_Cmd Open_Com Read_Raw Read_Reply Read_Until Receive_Cmd Send_Cmd Send_Raw Uart_Device_Path Uart_Stop_Next_Send "
expect "uart.dll has no unnamed export" "$(ordinals "$bin/uart.dll" | wc -w)" "$(exports "$bin/uart.dll" | wc -l)"
# The import entries for uart.dll: by ordinal each has the top bit set (80000000
# on 32 bits, 8000000000000000 on 64) and the ordinal in its low 16 bits.
imports=$("$objdump" -p "$bin/tovrane.dll" | awk '/DLL Name: / { on = ($3 == "uart.dll"); next }
  on && /^$/ { on = 0 }
  on && /^\t[0-9a-f]+/ { print $1 }')
expect "tovrane.dll imports from uart.dll by ordinal only" "$(while read -r e; do
  [[ $e =~ ^(8000|800000000000)[0-9a-f]{4}$ ]] && echo $((16#${e: -4})) || echo "by name: $e"; done <<< "$imports" |
  sort -n | tr '\n' ' ')" "9 10 30 32 33 "
for dll in tovrane.dll uart.dll; do
  if "$objdump" -h "$bin/$dll" | grep -q '\.debug_'; then
    echo "FAIL: $dll in the zip still has debug sections"; fail=1
  fi
  deps=$("$objdump" -p "$bin/$dll" | awk '/DLL Name:/ { print tolower($3) }' | tr '\n' ' ')
  [[ $deps != *libstdc++* && $deps != *libgcc* && $deps != *libwinpthread* ]] ||
    { echo "FAIL: $dll needs a runtime DLL: $deps"; fail=1; }
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
