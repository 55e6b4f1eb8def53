#!/usr/bin/env bash
# Shared by the Wine test drivers (sourced, with WIN_BUILD, HOST_BIN and WORKDIR
# set); run as `wine_env.sh WIN_BUILD` it makes the fresh prefix (see CMakeLists.txt).
set -euo pipefail
[[ ${BASH_SOURCE[0]} != "$0" ]] || { WIN_BUILD=$1 WORKDIR=$1/wine; }
export WINEPREFIX="$WIN_BUILD/wine/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=${WINE:-wine}
PORTS="$WIN_BUILD/wine/ports"   # COM<N> of the prefix is the link $PORTS/com<N>
fail() { echo "FAIL: $*"; exit 1; }

# Started here, the server does not hold the test's output open after it ends.
start_wineserver() { "${WINE}server" -p5 > /dev/null 2>&1 < /dev/null || true; }
# A server left by a run without a display would keep windows off ours.
end_wineserver() { timeout 60 "${WINE}server" -w > /dev/null 2>&1 || fail "the prefix's wineserver did not end"; }

# A Linux path as Wine's Z: drive sees it.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
# run_exe NAME.exe ARGS...: run from the bin folder (or RUN_IN) without a display; its output in
# $WORKDIR/out.txt and err.txt (line ends made Unix), its exit code in STATUS.
run_exe() {
  STATUS=0
  (cd "${RUN_IN:-$WIN_BUILD/bin}" && env -u DISPLAY "$WINE" "$@") > "$WORKDIR/out" 2> "$WORKDIR/err" < /dev/null || STATUS=$?
  tr -d '\r' < "$WORKDIR/out" > "$WORKDIR/out.txt"; tr -d '\r' < "$WORKDIR/err" > "$WORKDIR/err.txt"
}

# The prefix's user's %LOCALAPPDATA% (records under tq318\repairs, %TEMP% in Temp).
local_appdata() {
  local d; for d in "$WINEPREFIX/drive_c/users"/*/AppData/Local; do
    [[ -d $d && $d != */Public/* ]] && { echo "$d"; return; }
  done
  fail "no AppData\\Local folder in the prefix"
}
# make_package DIR [EXTRA_MEMBER...]: DIR/pkg/tq318.hex of tq318.exe, web.bin and the extra members.
make_package() {
  mkdir -p "$1/members" "$1/pkg"
  head -c 20000 /dev/urandom > "$1/members/tq318.exe"
  local m; for m in web.bin "${@:2}"; do head -c 3000 /dev/urandom > "$1/members/$m"; done
  "$HOST_BIN/tq318-make-package" "$1/members" "$1/pkg/tq318.hex" > /dev/null
}

# start_sim N [options...]: a simulator whose pty is COM<N>; waits (bounded) for its link.
start_sim() {
  local n=$1 pid; shift
  rm -f "$PORTS/com$n"
  "$HOST_BIN/tq318-sim" --link "$PORTS/com$n" "$@" > "$WORKDIR/sim$n.log" 2>&1 &
  pid=$!; SIM_PIDS+=("$pid")
  for _ in $(seq 1 100); do
    [[ -e "$PORTS/com$n" ]] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  cat "$WORKDIR/sim$n.log"; fail "tq318-sim for COM$n did not start"
}
SIM_PIDS=() XVFB_PID="" PROGRAM=""
stop_sims() { local p; for p in "${SIM_PIDS[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; SIM_PIDS=(); }
cleanup() {
  [[ -z $PROGRAM ]] || kill "$PROGRAM" 2>/dev/null || true
  stop_sims; [[ -z $XVFB_PID ]] || { kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; }
}
trap cleanup EXIT

# A display of our own (Xvfb writes its number once it accepts clients), then a fresh server.
start_display() {
  exec 3> "$WORKDIR/display"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$WORKDIR/xvfb.log" 2>&1 &
  XVFB_PID=$!
  exec 3>&-
  for _ in $(seq 1 200); do
    [[ -s "$WORKDIR/display" ]] && break
    kill -0 "$XVFB_PID" 2>/dev/null || { cat "$WORKDIR/xvfb.log"; fail "Xvfb did not start"; }
    sleep 0.05
  done
  [[ -s "$WORKDIR/display" ]] || fail "Xvfb gave no display number"
  export DISPLAY=":$(head -n1 "$WORKDIR/display")"
  end_wineserver; start_wineserver
}
# changes_while CONDITION -- IMPORT_ARGS...: pictures (import IMPORT_ARGS) taken while
# CONDITION holds until one differs from the first; sets CHANGED to the pixels that did.
changes_while() {
  local cond=() first="$WORKDIR/first-$RANDOM.png"; while [[ $1 != -- ]]; do cond+=("$1"); shift; done; shift
  import "$@" "$first"; CHANGED=0
  while "${cond[@]}" > /dev/null 2>&1; do
    import "$@" "$WORKDIR/later.png" 2>/dev/null || break
    CHANGED=$(compare -metric AE "$first" "$WORKDIR/later.png" null: 2>&1 || true)
    [[ $CHANGED =~ ^[0-9]+$ ]] && (( CHANGED > 0 )) && return 0
    CHANGED=0
  done
  return 1
}

[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0
command -v "$WINE" >/dev/null || fail "wine is not installed"
"${WINE}server" -k > /dev/null 2>&1 || true
rm -rf "$WIN_BUILD/wine"; mkdir -p "$WINEPREFIX" "$PORTS"
start_wineserver
timeout 240 "$WINE" wineboot -i > "$WORKDIR/wineboot.log" 2>&1 ||
  { tail -20 "$WORKDIR/wineboot.log"; "${WINE}server" -k > /dev/null 2>&1 || true; fail "wineboot -i failed or took over 240 s"; }
{ printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for n in 1 2 3 4; do printf '"COM%d"="%s"\r\n' "$n" "$PORTS/com$n"; done; } > "$WORKDIR/ports.reg"
timeout 60 "$WINE" regedit "$(winpath "$WORKDIR/ports.reg")" > /dev/null 2>&1 || fail "regedit failed"
end_wineserver
echo "prefix ready: $WINEPREFIX"
