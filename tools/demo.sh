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
for program in tq318-sim Pelorim tq318-make-package; do
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

# Samples next to the program, where the wizard's file dialogs open: an
# operating-system image for "(1). Repair Tovrane" and a firmware package for
# "(2). Repair Firmware". The simulator keeps its flash disks in demo-flash/.
make_samples() {
  local members="$workdir/members"
  mkdir -p "$members" "$BIN/demo-flash"
  [[ -f $BIN/tq318.img ]] || head -c 65536 /dev/urandom >"$BIN/tq318.img"
  if [[ ! -f $BIN/tq318.hex ]]; then
    head -c 102400 /dev/urandom >"$members/tq318.exe"
    head -c 20000 /dev/urandom >"$members/web.bin"
    printf 'ip=192.168.1.1\r\n' >"$members/switch.cfg"
    "$BIN/tq318-make-package" "$members" "$BIN/tq318.hex" >/dev/null
  fi
}
make_samples

# Paced at 115200 baud as a real console is, so that the transfers take the
# time they take on a bench and the "Load Process" window can be watched.
"$BIN/tq318-sim" --password quorvelstand83 --baud 115200 --restart-after-open 3000 --flash-dir "$BIN/demo-flash" \
  >"$workdir/sim.out" 2>"$workdir/sim.err" &
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
demo: in step 3 try "(1). Repair Tovrane" with $BIN/tq318.img and
      "(2). Repair Firmware" with $BIN/tq318.hex; the simulator's flash disks
      are in $BIN/demo-flash (A and B). Each repair ends in step 1: click
      "Connect" again for another round.
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
