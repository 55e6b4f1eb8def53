#!/usr/bin/env bash
# The Windows test programs under Wine (told in CMakeLists.txt).
# usage: programs_wine.sh WIN_BUILD HOST_BIN exports|cab
WIN_BUILD=$1 HOST_BIN=$2 MODE=$3
WORKDIR="$WIN_BUILD/wine/$MODE"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash" "$WORKDIR/in"
start_wineserver
cd "$WIN_BUILD/bin"
if [[ $MODE == cab ]]; then
  # Cabinets, stored and MSZIP, of the members a firmware package has, one of them empty.
  printf 'tq318.exe\r\nauth.key\r\n' > "$WORKDIR/in/file.lst"
  head -c 200000 /dev/urandom > "$WORKDIR/in/tq318.exe"
  head -c 50 /dev/urandom > "$WORKDIR/in/auth.key"
  : > "$WORKDIR/in/zero.bin"
  names=(file.lst tq318.exe auth.key zero.bin)
  (cd "$WORKDIR/in" && gcab -c "$WORKDIR/stored.cab" "${names[@]}" && gcab -c -z "$WORKDIR/mszip.cab" "${names[@]}")
  exec env -u DISPLAY "$WINE" cab_wine.exe "$(winpath "$WORKDIR")"
fi
# 20 KiB of every byte value (CR, LF, ^Z and NUL included), an image, several blocks.
head -c 20480 /dev/urandom > "$WORKDIR/Paced.BIN"
for b in 0 10 13 26 255; do printf "$(printf '\\%03o' $b)%.0s" {1..64} >> "$WORKDIR/Paced.BIN"; done
head -c 3000 /dev/urandom > "$WORKDIR/os.img"
head -c 2000 /dev/urandom > "$WORKDIR/blocks.bin"
start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash" \
  --upload-report $'\r\nImage received, 3000 bytes, CRC16=0000\r\nTQ318-5314A>'
start_sim 2 --hangup-after-block 1
rc=0
UART_COM3='\\.\COM2' UART_COM7='\\.\COM200' UART_COM6= env -u DISPLAY "$WINE" exports_wine.exe \
   "$(winpath "$WORKDIR/Paced.BIN")" "$(winpath "$WORKDIR/os.img")" "$(winpath "$WORKDIR/blocks.bin")" || rc=$?
cmp "$WORKDIR/Paced.BIN" "$WORKDIR/flash/A/paced.bin" || { echo "FAIL: paced.bin on the flash differs"; rc=$((rc + 1)); }
exit $rc
