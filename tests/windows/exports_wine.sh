#!/usr/bin/env bash
# exports_wine.exe under Wine: COM1 a simulator paced at 115200 baud whose
# upload report names a CRC16 that differs from the image's, COM2 one that
# hangs up after block 1 (reached as port 3 through UART_COM3); then the
# loaded file compared byte for byte with COM1's flash folder.
# usage: exports_wine.sh WIN_BUILD HOST_BIN
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2
WORKDIR="$WIN_BUILD/wine/exports"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash"
# 20 KiB of every byte value (CR, LF, ^Z and NUL included), an image, several blocks.
head -c 20480 /dev/urandom > "$WORKDIR/Paced.BIN"
for b in 0 10 13 26 255; do printf "$(printf '\\%03o' $b)%.0s" {1..64} >> "$WORKDIR/Paced.BIN"; done
head -c 3000 /dev/urandom > "$WORKDIR/os.img"
head -c 2000 /dev/urandom > "$WORKDIR/blocks.bin"
start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash" \
  --upload-report $'\r\nImage received, 3000 bytes, CRC16=0000\r\nTQ318-5314A>'
start_sim 2 --hangup-after-block 1
start_wineserver
rc=0
(cd "$WIN_BUILD/bin" && UART_COM3='\\.\COM2' UART_COM7='\\.\COM200' UART_COM6= env -u DISPLAY "$WINE" exports_wine.exe \
   "$(winpath "$WORKDIR/Paced.BIN")" "$(winpath "$WORKDIR/os.img")" "$(winpath "$WORKDIR/blocks.bin")") || rc=$?
cmp "$WORKDIR/Paced.BIN" "$WORKDIR/flash/A/paced.bin" || { echo "FAIL: paced.bin on the flash differs"; rc=$((rc + 1)); }
exit $rc
