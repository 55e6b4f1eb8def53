#!/usr/bin/env bash
# dialog_wine.exe under Wine on a display of its own (Xvfb): one paced
# transfer on COM4 with the library's "Load Process" dialog shown. While the
# dialog is up it is photographed; the picture must not be blank, and a later
# picture must differ from the first (the block counters move while the
# transfer runs). Then the file on the simulator's flash is compared byte for
# byte. The first picture is kept as WIN_BUILD/wine/dialog/load-process.png.
# usage: dialog_wine.sh WIN_BUILD HOST_BIN
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2
WORKDIR="$WIN_BUILD/wine/dialog"
source "$(dirname "$0")/wine_env.sh"
for tool in Xvfb xdotool import convert; do
  command -v "$tool" > /dev/null || { echo "$tool is not installed"; exit 1; }
done
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash"
# 48 KiB: about 4 s on a 115200 baud line, time for several pictures.
head -c 49152 /dev/urandom > "$WORKDIR/dialog.bin"

# A display of our own; Xvfb writes its number once it accepts clients.
exec 3> "$WORKDIR/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$WORKDIR/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
cleanup() { stop_sims; kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 1 200); do
  [[ -s "$WORKDIR/display" ]] && break
  kill -0 "$XVFB_PID" 2>/dev/null || { echo "Xvfb did not start"; cat "$WORKDIR/xvfb.log"; exit 1; }
  sleep 0.05
done
[[ -s "$WORKDIR/display" ]] || { echo "Xvfb gave no display number"; exit 1; }
export DISPLAY=":$(head -n1 "$WORKDIR/display")"

start_sim 4 --baud 115200 --flash-dir "$WORKDIR/flash"
# A server (and its desktop process) left by a test run without a display
# would keep this program's windows off ours: wait for it to end first.
timeout 60 "${WINE}server" -w > /dev/null 2>&1 || { echo "the prefix's wineserver did not end"; exit 1; }
start_wineserver
(cd "$WIN_BUILD/bin" && "$WINE" dialog_wine.exe 4 "$(winpath "$WORKDIR/dialog.bin")" dialog.bin) \
  > "$WORKDIR/program.log" 2>&1 &
PROGRAM=$!

fail=0
# The dialog's window, waited for (bounded) rather than slept for.
window=$(timeout 90 xdotool search --sync --onlyvisible --name "^Load Process$" 2>/dev/null | head -n1 || true)
if [[ -z "$window" ]]; then
  echo "FAIL: no \"Load Process\" window appeared"; fail=1
else
  echo "ok: \"Load Process\" window $window"
  first="$WORKDIR/load-process.png"
  import -window "$window" "$first"
  colours=$(convert "$first" -format '%k' info:)
  geometry=$(convert "$first" -format '%wx%h' info:)
  if (( colours >= 3 )); then
    echo "ok: the picture ($geometry) has $colours colours"
  else
    echo "FAIL: the picture ($geometry) is blank ($colours colours)"; fail=1
  fi
  # Later pictures until one differs (the counters moved) or the dialog is gone.
  moved=0
  while kill -0 "$PROGRAM" 2>/dev/null; do
    import -window "$window" "$WORKDIR/later.png" 2>/dev/null || break
    diff=$(compare -metric AE "$first" "$WORKDIR/later.png" null: 2>&1 || true)
    if [[ "$diff" =~ ^[0-9]+$ ]] && (( diff > 0 )); then moved=1; break; fi
  done
  if (( moved )); then
    echo "ok: the dialog changed while the transfer ran ($diff pixels)"
  else
    echo "FAIL: the dialog did not change during the transfer"; fail=1
  fi
fi

set +e
timeout 120 tail --pid="$PROGRAM" -f /dev/null
wait "$PROGRAM"
rc=$?
set -e
cat "$WORKDIR/program.log"
if (( rc != 0 )); then echo "FAIL: dialog_wine.exe exited with $rc"; fail=1; fi
if cmp "$WORKDIR/dialog.bin" "$WORKDIR/flash/A/dialog.bin"; then
  echo "ok: the simulator's flash holds dialog.bin byte for byte"
else
  echo "FAIL: dialog.bin on the simulator's flash differs from the file sent"; fail=1
fi
exit $fail
