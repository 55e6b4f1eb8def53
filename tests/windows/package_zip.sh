#!/usr/bin/env bash
# The zip of a Windows set as cpack makes it (what is checked is told in CMakeLists.txt).
# usage: package_zip.sh CPACK WIN_BUILD OBJDUMP VERSION HAS_TOVCTL(0|1) HAS_PELORIM(0|1) [SET(win64|win32)]
set -euo pipefail
cpack=$1 build=$2 objdump=$3 version=$4 has_tovctl=$5 has_pelorim=${6:-0} set_name=${7:-win64}
fail=0
expect() { # label actual expected
  [[ $2 == "$3" ]] && echo "ok: $1" || { printf 'FAIL: %s\n--- expected\n%s\n--- in the zip\n%s\n' "$1" "$3" "$2"; fail=1; }
}
zip="$build/packages/tq318-kit-$version-$set_name.zip"
rm -f "$zip"
(cd "$build" && "$cpack" -G ZIP > "$build/cpack-zip.log" 2>&1) || { cat "$build/cpack-zip.log"; exit 1; }
[[ -f "$zip" ]] || { echo "FAIL: no $zip"; cat "$build/cpack-zip.log"; exit 1; }

top="tq318-kit-$version-$set_name"
expected=$(printf "$top/%s\n" README-windows.txt bin/tovrane.dll bin/uart.dll include/tovrane.h include/uart.h \
  lib/tovrane.def lib/tovrane.lib lib/uart.def lib/uart.lib samples/os.img samples/tq318.hex)
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
tovrane_expected=$(xargs -n2 <<< "1 TOV_Get_Dll_Version 17 TOV_Load_File 18 TOV_Update_Tovrane 20 TOV_Del_All_Files
  21 TOV_Get_Tovrane_Version 22 TOV_Dir_Tovrane 23 TOV_Get_FreeSize 24 TOV_Set_IP 25 TOV_Get_IP 26 TOV_Set_Mask
  27 TOV_Get_Mask 28 TOV_Set_Gateway 29 TOV_Get_Gateway 30 TOV_Set_COM 31 TOV_Get_COM 35 TOV_Set_DiskSize
  36 TOV_Get_DiskSize 50 TOV_IsGetErrorString 51 TOV_GetPrompt 60 MakeCRC16Table 61 GetCRC16")
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
  expect "$dll has no debug sections" "$("$objdump" -h "$bin/$dll" | grep -c '\.debug_' || true)" 0
  expect "$dll needs no runtime DLL of the compiler" \
    "$("$objdump" -p "$bin/$dll" | grep -iE 'DLL Name: *(libstdc|libgcc|libwinpthread)' || true)" ""
done
for h in tovrane.h uart.h; do
  cmp -s "$out/$top/include/$h" "$(dirname "$0")/../../library/$([[ $h == uart.h ]] && echo uart/)include/$h" ||
    { echo "FAIL: $h in the zip differs from the source"; fail=1; }
done
if [[ $has_pelorim == 1 ]]; then
  expect "Pelorim.exe binds the kit's DLLs at run time (imports neither)" \
    "$("$objdump" -p "$out/$top/bin/Pelorim.exe" | grep -iE 'DLL Name: *(uart|tovrane)\.dll$' || true)" ""
fi
# Every .def file uart.h names is in the zip.
for def in $(grep -o '[a-z_]*\.def' "$out/$top/include/uart.h" | sort -u); do
  [[ -f $out/$top/lib/$def ]] || { echo "FAIL: uart.h names $def, which the zip lacks"; fail=1; }
done
exit $fail
