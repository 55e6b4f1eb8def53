#!/usr/bin/env bash
# The export and import tables of the Windows DLLs as built:
#   tovrane.dll exports exactly the 21 names at their ordinals;
#   uart.dll exports Send_Raw 9, Read_Reply 10, Exchange_Cmd 30, Read_Until 32,
#   Read_Raw 33 and the rest by name, nothing else;
#   tovrane.dll imports from uart.dll exactly ordinals 9, 10, 30, 32, 33, by ordinal.
# usage: check_exports.sh OBJDUMP DIR
set -euo pipefail
objdump=$1 dir=$2
fail=0

# "ordinal name" lines of a DLL's export table, sorted by ordinal.
exports() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^$/ { on = 0 }
    on && /\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $1 + base, $2 }
  ' | sort -n
}
# Every exported ordinal (named or not).
ordinals() {
  "$objdump" -p "$1" | awk '
    /^Export Address Table -- Ordinal Base/ { on = 1; next }
    on && /^$/ { on = 0 }
    on && /\+base\[/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); print $0 + 0 }
  ' | sort -n
}
expect() { # what label actual expected
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1"; echo "--- expected"; echo "$3"; echo "--- as built"; echo "$2"; fail=1
  else
    echo "ok: $1"
  fi
}

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
expect "tovrane.dll names at their ordinals" "$(exports "$dir/tovrane.dll")" "$tovrane_expected"
expect "tovrane.dll has no other ordinal" "$(ordinals "$dir/tovrane.dll" | tr '\n' ' ')" \
  "$(cut -d' ' -f1 <<< "$tovrane_expected" | tr '\n' ' ')"

uart_fixed=$(exports "$dir/uart.dll" | grep -E ' (Send_Raw|Read_Reply|Exchange_Cmd|Read_Until|Read_Raw)$' || true)
expect "uart.dll ordinals of the five" "$uart_fixed" "9 Send_Raw
10 Read_Reply
30 Exchange_Cmd
32 Read_Until
33 Read_Raw"
expect "uart.dll names" "$(exports "$dir/uart.dll" | cut -d' ' -f2 | sort | tr '\n' ' ')" \
  "Close_Com Exchange_Cmd Open_Com Read_Raw Read_Reply Read_Until Receive_Cmd Send_Cmd Send_Raw Uart_Device_Path Uart_Stop_Next_Send "
expect "uart.dll has no unnamed export" "$(ordinals "$dir/uart.dll" | wc -l)" "$(exports "$dir/uart.dll" | wc -l)"

# The import directory entry for uart.dll: every entry an ordinal, no hint/name.
imports=$("$objdump" -p "$dir/tovrane.dll" | awk '
  /DLL Name: / { on = ($3 == "uart.dll"); next }
  on && /^$/ { on = 0 }
  on && /^\t[0-9a-f]+/ { print }
')
# An entry by ordinal has the top bit set (80000000 on 32 bits, 8000000000000000
# on 64) and the ordinal in its low 16 bits.
by_ordinal_entry='^(8000|800000000000)[0-9a-f][0-9a-f][0-9a-f][0-9a-f]$'
by_ordinal=$(awk -v re="$by_ordinal_entry" '$1 ~ re { print substr($1, length($1) - 3) }' <<< "$imports" |
  while read -r hex; do echo $((16#$hex)); done | sort -n | tr '\n' ' ')
expect "tovrane.dll imports from uart.dll by ordinal" "$by_ordinal" "9 10 30 32 33 "
expect "tovrane.dll imports nothing from uart.dll by name" "$(awk -v re="$by_ordinal_entry" '$1 !~ re' <<< "$imports" | wc -l)" "0"
# No C++ runtime DLL is needed beside ours.
for dll in uart.dll tovrane.dll; do
  deps=$("$objdump" -p "$dir/$dll" | awk '/DLL Name:/ { print tolower($3) }' | sort | tr '\n' ' ')
  case "$deps" in
    *libstdc++*|*libgcc*|*libwinpthread*) expect "$dll needs no runtime DLL" "$deps" "(system DLLs only)";;
    *) echo "ok: $dll imports only $deps";;
  esac
done
exit $fail
