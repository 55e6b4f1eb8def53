#!/usr/bin/env bash
# tovctl.exe repair-firmware under Wine with packages whose member names
# Windows would resolve elsewhere, fold together or not open at all:
#   "Z:victim.txt"          a drive-relative name (the current folder of Z:)
#   "web.bin" + "web.bin."  one file once Windows drops the trailing dot
#   a 220-character name    its path in the work folder is over MAX_PATH
# Each package is refused, exit 4, with its reason, before the controller
# receives a single line; nothing is stored and the planted file in the
# current folder keeps its bytes.
# usage: names_wine.sh WIN_BUILD HOST_BIN
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2
WORKDIR="$WIN_BUILD/wine/names"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/cwd"

fail() { echo "FAIL: $*"; exit 1; }
start_wineserver

long=$(printf 'n%.0s' $(seq 1 216)).bin
check() {  # CASE WHY EXTRA_MEMBER...
  local name=$1 why=$2; shift 2
  local dir="$WORKDIR/$name"
  mkdir -p "$dir/members" "$dir/pkg"
  head -c 20000 /dev/urandom > "$dir/members/tq318.exe"
  local m; for m in "$@"; do head -c 3000 /dev/urandom > "$dir/members/$m"; done
  "$HOST_BIN/tq318-make-package" "$dir/members" "$dir/pkg/tq318.hex" > /dev/null
  printf 'precious\r\n' > "$WORKDIR/cwd/victim.txt"
  start_sim 1 --baud 115200 --flash-dir "$dir/flash" --received "$dir/received"
  local status=0
  (cd "$WORKDIR/cwd" && env -u DISPLAY "$WINE" "$WIN_BUILD/bin/tovctl.exe" --port 1 repair-firmware \
    "$(winpath "$dir/pkg/tq318.hex")" --disk a) > "$dir/out" 2> "$dir/err" < /dev/null || status=$?
  stop_sims
  tr -d '\r' < "$dir/err" > "$dir/err.txt"
  show() { cat "$dir/out" "$dir/err.txt"; }
  [[ $status == 4 ]] || { show; fail "$name: exit $status, not 4"; }
  grep -qF "refused before the device was touched" "$dir/err.txt" || { show; fail "$name: not refused before the device"; }
  grep -qF -- "$why" "$dir/err.txt" || { show; fail "$name: no \"$why\" in the refusal"; }
  [[ -f $dir/received ]] || fail "$name: the simulator wrote no transcript"
  [[ ! -s $dir/received ]] || { cat "$dir/received"; fail "$name: the controller received lines"; }
  [[ -z $(find "$dir/flash" -type f 2>/dev/null) ]] || fail "$name: something was stored"
  [[ $(cat "$WORKDIR/cwd/victim.txt") == $'precious\r' ]] || fail "$name: the file in the current folder was overwritten"
  echo "ok: $name: $(grep -F 'refused (' "$dir/err.txt" | head -1 | sed 's/^ *//')"
}

check drive '"Z:victim.txt" is refused (it names the drive Z:' web.bin 'Z:victim.txt'
check folded '"web.bin." is refused (Windows drops a trailing dot' web.bin 'web.bin.'
check long 'characters long, more than the 259 this system opens' "$long"
