#!/usr/bin/env bash
# tools/demo.sh BIN_DIR - the Pelorim wizard against the simulated TQ-318 controller.
#
# Starts tq318-sim on a pseudo-terminal (console password quorvelstand83; it
# plays a power restart 3 s after the port is opened), points COM 1 at it
# (UART_COM1), starts Pelorim and stops the simulator when the wizard exits.
# Without a display the wizard runs under xvfb-run (or Qt's offscreen
# platform) for PELORIM_DEMO_SECONDS (default 20) seconds, since nobody can
# click it there.
set -euo pipefail

BIN=${1:?usage: tools/demo.sh BIN_DIR}
BIN=$(cd "$BIN" && pwd)
for program in tq318-sim Pelorim; do
  if [[ ! -x $BIN/$program ]]; then
    echo "demo: $BIN/$program is missing; build first (./run.sh build)" >&2
    exit 1
  fi
done

workdir=$(mktemp -d)
sim_pid=""
cleanup() {
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$BIN/tq318-sim" --password quorvelstand83 --restart-after-open 3000 >"$workdir/sim.out" 2>"$workdir/sim.err" &
sim_pid=$!

# The simulator prints "UART_COM1=/dev/pts/N" once its pseudo-terminal is ready.
device=""
for _ in $(seq 1 100); do
  device=$(sed -n 's/^UART_COM1=//p' "$workdir/sim.out" | head -n 1)
  [[ -n $device ]] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [[ -z $device ]]; then
  echo "demo: the simulator did not start:" >&2
  cat "$workdir/sim.err" >&2
  exit 1
fi
export UART_COM1=$device

cat <<TEXT
demo: simulated TQ-318 console on $UART_COM1 (UART_COM1), password quorvelstand83.
demo: in Pelorim keep "COM 1" and click "Connect". The simulated controller
      restarts 3 s after the port is opened, as if you had switched its power;
      the wizard logs in, reads the banner and moves to step 3 ("MS Master Mode...").
      "Disonnect" returns to step 1; "EXIT" ends the demo.
TEXT

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  status=0
  "$BIN/Pelorim" || status=$?
  exit "$status"
fi

seconds=${PELORIM_DEMO_SECONDS:-20}
status=0
if command -v xvfb-run >/dev/null 2>&1; then
  echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are unset): running Pelorim under xvfb-run,"
  echo "      a virtual X server, for $seconds s. Nothing is visible. For pictures of each step run:"
  echo "      $BIN/pelorim_screens <folder>"
  xvfb-run -a timeout --signal=TERM "$seconds" "$BIN/Pelorim" || status=$?
else
  echo "demo: no display and no xvfb-run: running Pelorim on Qt's offscreen platform for $seconds s. Nothing is visible."
  QT_QPA_PLATFORM=offscreen timeout --signal=TERM "$seconds" "$BIN/Pelorim" || status=$?
fi
if [[ $status -eq 124 ]]; then
  echo "demo: time is up; the wizard was ended."
  status=0
fi
exit "$status"
