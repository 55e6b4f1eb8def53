#!/usr/bin/env bash
# Pelorim.exe under Wine on a display of its own against tq318-sim on COM1
# (the modes are told in CMakeLists.txt). usage: pelorim_wine.sh WIN_BUILD HOST_BIN MODE
WIN_BUILD=$1 HOST_BIN=$2 MODE=$3
WORKDIR="$WIN_BUILD/wine/pelorim-$MODE"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash"
start_sim 1 --baud 115200 --password quorvelstand83 --restart-after-open 1500 --disk-a-kib 4096 \
  --flash-dir "$WORKDIR/flash" --received "$WORKDIR/received"
start_display

TITLE="Pelorim Tool "
# Control ids (wizard/win32/resource.h).
COMCONNECT=1004 COMUPLOADOS=1010 COMUPLOAD=1011 COMDISCONNECT=1012 COMEXIT=1013 FRAME1=1014 FRAME_STEP3=1008
STATUSBAR=1017
# load_process: the library's "Load Process" window once it shows (not blank), or fails.
load_process() {
  local window; window=$(timeout 90 xdotool search --sync --onlyvisible --name "^Load Process$" 2>/dev/null | head -n1)
  [[ -n $window ]] || fail "no \"Load Process\" window"
  import -window "$window" "$WORKDIR/load-process.png"
  (( $(convert "$WORKDIR/load-process.png" -format '%k' info:) >= 3 )) || fail "\"Load Process\" is blank"
  echo "$window"
}
# wine_window.exe ARGS...: its output on standard output; fails with it.
ww() { (cd "$WIN_BUILD/bin" && "$WINE" wine_window.exe "$@" | tr -d '\r'); }
# wait_control ID STATE MS: waits until control ID is in STATE; prints "X Y W H".
wait_control() { ww control "$TITLE" "$1" "$2" "$3" || fail "control $1 never became $2"; }
click() { read -r x y _ _ <<< "$(wait_control "$1" enabled 60000)"; xdotool mousemove "$x" "$y" click 1; }
panel() { local got; got=$(ww panel "$TITLE" "$STATUSBAR" "$1"); [[ $got == "$2" ]] || fail "panel $1 says \"$got\", not \"$2\""; }
shot() { import -window "$(xdotool search --name "^$TITLE\$" | head -n1)" "$WORKDIR/$1.png" || true; }
# expect_message TEXT: waits for the message box, checks its text, presses OK.
expect_message() {
  local out; out=$(ww message 120000) || fail "no message box came (expected \"$1\")"
  [[ $(head -n1 <<< "$out") == "$1" ]] || fail "the message box says \"$(head -n1 <<< "$out")\", not \"$1\""
  echo "ok: message box \"$1\""
  import -window root "$WORKDIR/screen-message-$((++MESSAGES)).png"
  read -r _ x y <<< "$(sed -n 2p <<< "$out")"
  xdotool mousemove "$x" "$y" click 1
}
MESSAGES=0
# choose FILE: the open-file dialog gets the full path typed into its name box.
choose() {
  local dialog; dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "^Open$" 2>/dev/null | head -n1) ||
    fail "no open-file dialog"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  import -window root "$WORKDIR/screen-open.png"
  xdotool type --delay 5 "$(winpath "$1")"
  xdotool key Return
}

LOCAL=$(local_appdata)
RECORDS="$LOCAL/tq318/repairs" TEMP_DIR="$LOCAL/Temp"
rm -rf "$RECORDS"
make_package "$WORKDIR"
LIBRARY=""; [[ $MODE != nodll ]] || LIBRARY=absent-tovrane.dll
(cd "$WIN_BUILD/bin" && PELORIM_TOVRANE_LIBRARY=$LIBRARY "$WINE" Pelorim.exe) > "$WORKDIR/program.log" 2>&1 &
PROGRAM=$!

# Step 1, then Connect: detection and login end in step 3.
wait_control "$COMCONNECT" enabled 60000 > /dev/null
shot step1
click "$COMCONNECT"
if [[ $MODE == os ]]; then
  # "Disonnect" while the detection polls: it ends, the port is closed, step 1.
  click "$COMDISCONNECT"
  wait_control "$COMCONNECT" enabled 20000 > /dev/null
  panel 0 "COM 1 Disonnected!! "
  click "$COMCONNECT"
fi
wait_control "$COMDISCONNECT" enabled 20000 > /dev/null
shot step2
wait_control "$COMUPLOAD" enabled 60000 > /dev/null
panel 0 "COM 1 Connected "
panel 1 "MS Master Mode..."
shot step3

case $MODE in
exit|firmware|nodll)
  click "$COMUPLOAD"
  choose "$WORKDIR/pkg/tq318.hex"
  if [[ $MODE == exit ]]; then
    load_process > /dev/null
    click "$COMEXIT"
  elif [[ $MODE == firmware ]]; then
    wait_control "$FRAME1" visible 60000 > /dev/null
    load_process > /dev/null
    shot progress
    expect_message "Upgrade Successed."
  else
    expect_message 'File size checking Error !! (5)\r\n\r\nUpgrade firmware failed!!'
    expect_message "Firmware Upgrade Failed!!"
  fi
  ;;
os)
  head -c 60000 /dev/urandom > "$WORKDIR/tovrane.img"
  click "$COMUPLOADOS"
  choose "$WORKDIR/tovrane.img"
  window=$(load_process)
  # Step 3's caption blinks every 500 ms: while the transfer runs, a later
  # picture of it differs from the first only if the window repaints.
  read -r cx cy cw ch <<< "$(wait_control "$FRAME_STEP3" visible 1000)"
  shot transfer
  changes_while xdotool search --onlyvisible --name "^Load Process$" -- -window root \
    -crop "${cw}x20+$((cx - cw / 2))+$((cy - ch / 2))" +repage ||
    fail "the window did not repaint during the transfer (step 3's caption never changed)"
  echo "ok: the window repainted during the transfer ($CHANGED pixels of the caption changed)"
  # The library's dialog changes too while the image is sent (its counters move).
  changes_while xdotool search --onlyvisible --name "^Load Process$" -- -window "$window" ||
    fail "\"Load Process\" did not change during the transfer"
  echo "ok: \"Load Process\" changed while the image was sent ($CHANGED pixels)"
  expect_message "Upgrade Successed."
  ;;
*) fail "unknown mode $MODE" ;;
esac

if [[ $MODE != exit ]]; then
  # Back at step 1: the port closed.
  wait_control "$COMCONNECT" enabled 30000 > /dev/null
  panel 0 "COM 1 Disonnected!! "
  shot disconnected
  click "$COMEXIT"
fi
rc=0
timeout 60 tail --pid="$PROGRAM" -f /dev/null || fail "Pelorim.exe did not end after EXIT ($(ww message 1000 | head -n1 || true))"
wait "$PROGRAM" || rc=$?; PROGRAM=""
(( rc == 0 )) || fail "Pelorim.exe exited with $rc"
stop_sims
[[ -z $(find "$TEMP_DIR" -maxdepth 1 -name 'tq318.*' 2>/dev/null) ]] || fail "a work folder was left in %TEMP%"
echo "ok: EXIT ended the program, no work folder left"

# The repairs that reach the controller leave one record of Pelorim's, saying how they ended.
declare -A OUTCOME=([firmware]=verified [os]=verified [exit]=abandoned)
mapfile -t made < <(ls "$RECORDS"/*.json 2>/dev/null || true)
if [[ -n ${OUTCOME[$MODE]:-} ]]; then
  (( ${#made[@]} == 1 )) || fail "${#made[@]} records, not 1"
  grep -qF '"frontEnd": "Pelorim",' "${made[0]}" || fail "the record is not Pelorim's"
  grep -qF "\"outcome\": \"${OUTCOME[$MODE]}\"" "${made[0]}" || { cat "${made[0]}"; fail "the record is not ${OUTCOME[$MODE]}"; }
  echo "ok: one record, ${OUTCOME[$MODE]}"
fi
case $MODE in
firmware)
  for m in tq318.exe web.bin; do cmp "$WORKDIR/members/$m" "$WORKDIR/flash/A/$m" || fail "$m differs on disk A"; done
  ;;
nodll|exit)
  [[ $MODE == nodll && -n $(find "$WORKDIR/flash" -type f) ]] && fail "something was stored"
  grep -qx reset "$WORKDIR/received" && fail "the controller was reset"
  ;;
os)
  grep -qx 'bios1' "$WORKDIR/received" || { cat "$WORKDIR/received"; fail "the image was not installed (no bios1)"; }
  ;;
esac
echo "ok: Pelorim.exe $MODE"
