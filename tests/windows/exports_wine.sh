#!/usr/bin/env bash
# exports_wine.exe under Wine against a simulator paced at 115200 baud on
# COM1, whose upload report names a CRC16 that differs from the image's; then
# the loaded file compared byte for byte with the simulator's flash folder.
# usage: exports_wine.sh WIN_BUILD HOST_BIN
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2
WORKDIR="$WIN_BUILD/wine/exports"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash"
# 20 KiB of every byte value (CR, LF, ^Z and NUL included), and an image.
head -c 20480 /dev/urandom > "$WORKDIR/Paced.BIN"
for b in 0 10 13 26 255; do printf "$(printf '\\%03o' $b)%.0s" {1..64} >> "$WORKDIR/Paced.BIN"; done
head -c 3000 /dev/urandom > "$WORKDIR/os.img"
start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash" \
  --upload-report $'\r\nImage received, 3000 bytes, CRC16=0000\r\nTQ318-5314A>'
start_wineserver
set +e
(cd "$WIN_BUILD/bin" && env -u DISPLAY "$WINE" exports_wine.exe "$(winpath "$WORKDIR/Paced.BIN")" \
   "$(winpath "$WORKDIR/os.img")")
rc=$?
set -e
if cmp "$WORKDIR/Paced.BIN" "$WORKDIR/flash/A/paced.bin"; then
  echo "ok: the simulator's flash holds paced.bin byte for byte"
else
  echo "FAIL: paced.bin on the simulator's flash differs from the file sent"; rc=$((rc + 1))
fi
exit $rc
