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
# First-run creation, quiet (its output kept in the log) and bounded.
if ! timeout 240 "$WINE" wineboot -i > "$WIN_BUILD/wine/wineboot.log" 2>&1; then
  echo "wineboot -i failed or took over 240 s:"; tail -20 "$WIN_BUILD/wine/wineboot.log"
  "${WINE}server" -k > /dev/null 2>&1 || true
  exit 1
fi
regfile="$WIN_BUILD/wine/ports.reg"
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for n in 1 2 3 4; do
    printf '"COM%d"="%s"\r\n' "$n" "$PORTS/com$n"
  done
} > "$regfile"
timeout 60 "$WINE" regedit "$(winpath "$regfile")" > /dev/null 2>&1 || { echo "regedit failed"; exit 1; }
timeout 60 "${WINE}server" -w > /dev/null 2>&1 || { echo "the prefix's wineserver did not end"; exit 1; }
echo "prefix ready: $WINEPREFIX"
