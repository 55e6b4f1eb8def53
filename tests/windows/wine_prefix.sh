#!/usr/bin/env bash
# A fresh Wine prefix for this test run (the fixture every Wine test needs):
# wineboot once, and COM1..COM4 pointed at links under the build folder,
# where each test's simulator puts its pty. Wine takes COM ports from
# HKLM\Software\Wine\Ports and remakes dosdevices/com<N> from it at start,
# so a hand-made dosdevices link alone would be replaced by /dev/ttyS<N-1>.
# usage: wine_prefix.sh WIN_BUILD
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=unused WORKDIR=/tmp
source "$(dirname "$0")/wine_env.sh"
command -v "$WINE" >/dev/null || { echo "wine is not installed"; exit 1; }
"${WINE}server" -k > /dev/null 2>&1 || true
rm -rf "$WIN_BUILD/wine"
mkdir -p "$WINEPREFIX" "$PORTS"
start_wineserver
"$WINE" wineboot -i > "$WIN_BUILD/wine/wineboot.log" 2>&1
regfile="$WIN_BUILD/wine/ports.reg"
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for n in 1 2 3 4; do
    printf '"COM%d"="%s"\r\n' "$n" "$PORTS/com$n"
  done
} > "$regfile"
"$WINE" regedit "$(winpath "$regfile")" > /dev/null 2>&1
"${WINE}server" -w > /dev/null 2>&1
echo "prefix ready: $WINEPREFIX"
