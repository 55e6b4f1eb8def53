#!/usr/bin/env bash
# Numbers for the Windows set, beside the Linux build in the same run:
#   a paced 256 KiB TOV_Load_File at 115200 baud, Linux and under Wine;
#   the stripped sizes of uart.dll, tovrane.dll (and tovctl.exe when built).
# Needs both builds (build/ with load_bench and tq318-sim, build-win64/ with
# load_bench.exe and a Wine prefix made by its win_wine_prefix test).
# usage: bench/wine/run.sh [BUILD [WIN_BUILD]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build} WIN_BUILD=${2:-$ROOT/build-win64}
HOST_BIN="$BUILD/bin"
WORKDIR="$WIN_BUILD/wine/bench"
source "$ROOT/tests/windows/wine_env.sh"
[[ -d "$WINEPREFIX" ]] || { echo "no Wine prefix: run (cd $WIN_BUILD && ctest -R win_wine_prefix)"; exit 1; }
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash-linux" "$WORKDIR/flash-wine"
head -c 262144 /dev/urandom > "$WORKDIR/bench.bin"

start_sim 3 --baud 115200 --flash-dir "$WORKDIR/flash-linux"
printf 'Linux: '
UART_COM9="$PORTS/com3" "$HOST_BIN/load_bench" 9 "$WORKDIR/bench.bin" 2> /dev/null
stop_sims
cmp -s "$WORKDIR/bench.bin" "$WORKDIR/flash-linux/A/bench.bin" || echo "  (the Linux copy differs!)"

start_sim 3 --baud 115200 --flash-dir "$WORKDIR/flash-wine"
start_wineserver
printf 'Wine:  '
(cd "$WIN_BUILD/bin" && env -u DISPLAY "$WINE" load_bench.exe 3 "$(winpath "$WORKDIR/bench.bin")" 2> /dev/null)
stop_sims
cmp -s "$WORKDIR/bench.bin" "$WORKDIR/flash-wine/A/bench.bin" || echo "  (the Wine copy differs!)"

echo "Stripped sizes:"
for f in uart.dll tovrane.dll tovctl.exe; do
  [[ -f "$WIN_BUILD/bin/$f" ]] || continue
  x86_64-w64-mingw32-strip -o "$WORKDIR/$f" "$WIN_BUILD/bin/$f"
  printf '  %-12s %8d bytes (%d as built)\n' "$f" "$(stat -c %s "$WORKDIR/$f")" "$(stat -c %s "$WIN_BUILD/bin/$f")"
done
