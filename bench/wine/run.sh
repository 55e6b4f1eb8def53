#!/usr/bin/env bash
# Numbers for the Windows set, beside the Linux build in the same run:
#   a paced 256 KiB TOV_Load_File at 115200 baud, Linux and under Wine (the
#   win64 set, and the win32 set when build-win32/ has it), and the floor: the
#   same transfer by plain Win32 calls (floor_sender.exe);
#   the stripped sizes of uart.dll, tovrane.dll (and tovctl.exe when built).
# Needs both builds (build/ with load_bench and tq318-sim, build-win64/ with
# load_bench.exe and a Wine prefix made by its win_wine_prefix test).
# usage: bench/wine/run.sh [BUILD [WIN_BUILD [WIN32_BUILD]]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build} WIN_BUILD=${2:-$ROOT/build-win64} WIN32_BUILD=${3:-$ROOT/build-win32}
HOST_BIN="$BUILD/bin"
WORKDIR="$WIN_BUILD/wine/bench"
source "$ROOT/tests/windows/wine_env.sh"
[[ -d "$WINEPREFIX" ]] || { echo "no Wine prefix: run (cd $WIN_BUILD && ctest -R win_wine_prefix)"; exit 1; }
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash-linux"
head -c 262144 /dev/urandom > "$WORKDIR/bench.bin"

start_sim 3 --baud 115200 --flash-dir "$WORKDIR/flash-linux"
printf '%-13s' "Linux:"
UART_COM9="$PORTS/com3" "$HOST_BIN/load_bench" 9 "$WORKDIR/bench.bin" 2> /dev/null
stop_sims
cmp -s "$WORKDIR/bench.bin" "$WORKDIR/flash-linux/A/bench.bin" || echo "  (the Linux copy differs!)"

# One paced transfer under Wine: wine_load LABEL FOLDER PROGRAM
wine_load() {
  local label=$1 folder=$2 program=$3 flash="$WORKDIR/flash-${1// /-}"
  mkdir -p "$flash"
  start_sim 3 --baud 115200 --flash-dir "$flash"
  start_wineserver
  printf '%-13s' "$label:"
  (cd "$folder" && env -u DISPLAY "$WINE" "$program" 3 "$(winpath "$WORKDIR/bench.bin")" 2> /dev/null) || true
  stop_sims
  cmp -s "$WORKDIR/bench.bin" "$flash/A/bench.bin" || echo "  (the $label copy differs!)"
}
wine_load "Wine win64" "$WIN_BUILD/bin" load_bench.exe
if [[ -f "$WIN32_BUILD/bin/load_bench.exe" ]]; then
  wine_load "Wine win32" "$WIN32_BUILD/bin" load_bench.exe
else
  echo "Wine win32:  no $WIN32_BUILD/bin/load_bench.exe (the 32-bit set is not built)"
fi
# The floor: the same transfer through plain Win32 calls.
wine_load "Floor" "$WIN_BUILD/bin" floor_sender.exe

echo "Stripped sizes:"
for f in uart.dll tovrane.dll tovctl.exe; do
  [[ -f "$WIN_BUILD/bin/$f" ]] || continue
  x86_64-w64-mingw32-strip -o "$WORKDIR/$f" "$WIN_BUILD/bin/$f"
  printf '  %-12s %8d bytes (%d as built)\n' "$f" "$(stat -c %s "$WORKDIR/$f")" "$(stat -c %s "$WIN_BUILD/bin/$f")"
done
