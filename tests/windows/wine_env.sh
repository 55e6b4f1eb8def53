# Shared by the Wine test drivers: the prefix of this build, its COM ports
# and the simulators behind them. Sourced, with WIN_BUILD (the Windows build
# folder) and HOST_BIN (the Linux build's bin folder, for tq318-sim) set.
export WINEPREFIX="$WIN_BUILD/wine/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=${WINE:-wine}
PORTS="$WIN_BUILD/wine/ports"   # COM<N> of the prefix is the link $PORTS/com<N>

# The prefix's server, started here so that it does not hold the test's
# output open (and print its object list there) after the test ends.
start_wineserver() { "${WINE}server" -p5 > /dev/null 2>&1 < /dev/null || true; }

# A Linux path as Wine's Z: drive sees it.
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

# start_sim N [options...]: a simulator whose pty is COM<N>; sets SIM_PID.
# Waits (bounded) until the link exists.
start_sim() {
  local n=$1; shift
  rm -f "$PORTS/com$n"
  "$HOST_BIN/tq318-sim" --link "$PORTS/com$n" "$@" > "$WORKDIR/sim$n.log" 2>&1 &
  SIM_PID=$!
  SIM_PIDS+=("$SIM_PID")
  for _ in $(seq 1 100); do
    [[ -e "$PORTS/com$n" ]] && return 0
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "tq318-sim for COM$n did not start"; cat "$WORKDIR/sim$n.log"; return 1
}
SIM_PIDS=()
stop_sims() { local p; for p in "${SIM_PIDS[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; SIM_PIDS=(); }
trap stop_sims EXIT
