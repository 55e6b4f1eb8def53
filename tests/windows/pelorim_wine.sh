#!/usr/bin/env bash
# Pelorim.exe under Wine on a display of its own (Xvfb), clicked through with
# xdotool against tq318-sim on COM1 (paced at 115200 baud, asking for the
# console password, restarting its power after the port is opened).
# wine_window.exe tells where each control is, when it is enabled, and what a
# message box says; xdotool clicks and types.
#   firmware  Connect, detection and login, step 3, "(2). Repair Firmware",
#             the package typed into the open-file dialog, "Upgrade
#             Successed."; the disk holds exactly the package's members byte
#             for byte, the console heard del, y, delb, y before the first
#             load, one record; then EXIT: the port closed, no work folder left.
#   missing   a package whose list names a member the cabinet lacks: "HEX
#             File Error !!" and "Firmware Upgrade Failed!!", the controller
#             hears nothing after the login, nothing stored, no "Upgrade
#             Successed.".
#   exit      EXIT while the firmware repair's first member is sent: the
#             program ends (exit 0) with no work folder left, its record
#             "abandoned", no "Upgrade Successed.".
#   nodll     tovrane.dll cannot be loaded (PELORIM_TOVRANE_LIBRARY names a
#             DLL that is not there): the window opens and detects, and the
#             firmware repair's first library call is trapped as "File size
#             checking Error !! (5)", then "Firmware Upgrade Failed!!".
#   lostack   the controller stores the first member's third block but its
#             ACK is lost: no success shown, "Firmware Upgrade Failed!!", the
#             record "failed".
#   os        "(1). Repair Tovrane" with an image: the window repaints during
#             the transfer (pictures of step 3's blinking caption differ while
#             the "Load Process" window is up), "Upgrade Successed.", the image
#             installed, one record; then "Disonnect" and EXIT.
# Pictures of each step go to WIN_BUILD/wine/pelorim-MODE/ (the README's).
# usage: pelorim_wine.sh WIN_BUILD HOST_BIN MODE
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2 MODE=$3
WORKDIR="$WIN_BUILD/wine/pelorim-$MODE"
source "$(dirname "$0")/wine_env.sh"
for tool in Xvfb xdotool import convert compare; do
  command -v "$tool" > /dev/null || { echo "$tool is not installed"; exit 1; }
done
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/flash"
fail() { echo "FAIL: $*"; [[ -f $WORKDIR/program.log ]] && cat "$WORKDIR/program.log"; exit 1; }

TITLE="Pelorim Tool "
# Control ids (wizard/win32/resource.h).
COMCONNECT=1004 COMUPLOADOS=1010 COMUPLOAD=1011 COMDISCONNECT=1012 COMEXIT=1013 FRAME1=1014 FRAME_STEP3=1008
STATUSBAR=1017

exec 3> "$WORKDIR/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp > "$WORKDIR/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
PROGRAM=""
cleanup() {
  [[ -n $PROGRAM ]] && kill "$PROGRAM" 2>/dev/null || true
  stop_sims; kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 200); do
  [[ -s "$WORKDIR/display" ]] && break
  kill -0 "$XVFB_PID" 2>/dev/null || { echo "Xvfb did not start"; cat "$WORKDIR/xvfb.log"; exit 1; }
  sleep 0.05
done
[[ -s "$WORKDIR/display" ]] || { echo "Xvfb gave no display number"; exit 1; }
export DISPLAY=":$(head -n1 "$WORKDIR/display")"

# wine_window.exe ARGS...: its output on standard output; fails with it.
ww() { (cd "$WIN_BUILD/bin" && "$WINE" wine_window.exe "$@" | tr -d '\r'); }
# click ID [STATE]: clicks the centre of control ID once it is enabled.
click() {
  local where; where=$(ww control "$TITLE" "$1" enabled 60000) || fail "control $1 never became enabled"
  read -r x y _ _ <<< "$where"
  xdotool mousemove "$x" "$y" click 1
}
# expect_message TEXT: waits for the message box, checks its text, presses OK.
expect_message() {
  local out text button
  out=$(ww message 120000) || fail "no message box came (expected \"$1\")"
  text=$(head -n1 <<< "$out")
  [[ $text == "$1" ]] || fail "the message box says \"$text\", not \"$1\""
  echo "ok: message box \"$text\""
  import -window root "$WORKDIR/screen-message-${#MESSAGES[@]}.png"
  button=$(sed -n 2p <<< "$out")
  read -r _ x y <<< "$button"
  PRESSED+=("$(date -u +%Y-%m-%dT%H:%M:%S.%3NZ)")
  xdotool mousemove "$x" "$y" click 1
  MESSAGES+=("$text")
}
MESSAGES=() PRESSED=()
panel() { ww panel "$TITLE" "$STATUSBAR" "$1"; }
# shot NAME: a picture of the wizard's window.
shot() {
  local r; r=$(ww rect "$TITLE") || fail "no window to photograph"
  read -r x y w h <<< "$r"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$WORKDIR/$1.png"
}

# The prefix's user's %LOCALAPPDATA% (records under tq318\repairs, %TEMP% in Temp).
LOCAL=""
for d in "$WINEPREFIX/drive_c/users"/*/AppData/Local; do
  [[ -d $d && $d != */Public/* ]] && LOCAL=$d
done
[[ -n $LOCAL ]] || fail "no AppData\\Local folder in the prefix"
RECORDS="$LOCAL/tq318/repairs" TEMP_DIR="$LOCAL/Temp"
rm -rf "$RECORDS"

# A package of tq318.exe and web.bin, as make-package writes it.
mkdir -p "$WORKDIR/members" "$WORKDIR/pkg"
head -c 20000 /dev/urandom > "$WORKDIR/members/tq318.exe"
head -c 6000 /dev/urandom > "$WORKDIR/members/web.bin"
"$HOST_BIN/tq318-make-package" "$WORKDIR/members" "$WORKDIR/pkg/tq318.hex" > /dev/null
PACKAGE="$WORKDIR/pkg/tq318.hex"
if [[ $MODE == missing ]]; then
  # The list names one more member than the cabinet holds.
  printf 'gone.bin\r\n' >> "$WORKDIR/members/file.lst"
  (cd "$WORKDIR/members" && gcab -c -z "$WORKDIR/pkg/gone.hex" file.lst auth.key tq318.exe web.bin)
  PACKAGE="$WORKDIR/pkg/gone.hex"
fi

FAULTS=()
# The controller takes the first member's third block but its ACK is lost.
[[ $MODE == lostack ]] && FAULTS=(--lose-ack-block 2 --lose-ack-times 1)
start_sim 1 --baud 115200 --password quorvelstand83 --restart-after-open 1500 --disk-a-kib 4096 \
  --flash-dir "$WORKDIR/flash" --received "$WORKDIR/received" "${FAULTS[@]}"
timeout 60 "${WINE}server" -w > /dev/null 2>&1 || { echo "the prefix's wineserver did not end"; exit 1; }
start_wineserver
LIBRARY=""
[[ $MODE == nodll ]] && LIBRARY=absent-tovrane.dll
(cd "$WIN_BUILD/bin" && PELORIM_TOVRANE_LIBRARY=$LIBRARY "$WINE" Pelorim.exe) > "$WORKDIR/program.log" 2>&1 &
PROGRAM=$!

# Step 1, then Connect: detection and login end in step 3.
ww control "$TITLE" "$COMCONNECT" enabled 60000 > /dev/null || fail "the window did not open"
shot step1
click "$COMCONNECT"
if [[ $MODE == os ]]; then
  # "Disonnect" while the detection polls: it ends, the port is closed, step 1.
  click "$COMDISCONNECT"
  ww control "$TITLE" "$COMCONNECT" enabled 20000 > /dev/null || fail "Disonnect did not return to step 1"
  [[ $(panel 0) == "COM 1 Disonnected!! " ]] || fail "panel 1 says \"$(panel 0)\" after Disonnect"
  echo "ok: Disonnect during the detection: step 1, \"$(panel 0)\""
  click "$COMCONNECT"
fi
ww control "$TITLE" "$COMDISCONNECT" enabled 20000 > /dev/null || fail "step 2 did not come"
shot step2
ww control "$TITLE" "$COMUPLOAD" enabled 60000 > /dev/null || fail "no step 3: the controller was not detected"
[[ $(panel 0) == "COM 1 Connected " ]] || fail "panel 1 says \"$(panel 0)\""
[[ $(panel 1) == "MS Master Mode..." ]] || fail "panel 2 says \"$(panel 1)\""
echo "ok: detected, step 3 (\"$(panel 1)\")"
shot step3

# choose FILE: the open-file dialog gets the full path typed into its name box.
choose() {
  local dialog
  dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "^Open$" 2>/dev/null | head -n1) ||
    fail "no open-file dialog"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  import -window root "$WORKDIR/screen-open-$MODE.png"
  xdotool type --delay 5 "$(winpath "$1")"
  xdotool key Return
}

# What each firmware mode's message boxes say, in order.
case $MODE in
firmware) EXPECT=("Upgrade Successed.") ;;
missing) EXPECT=("HEX File Error !!" "Firmware Upgrade Failed!!") ;;
nodll) EXPECT=('File size checking Error !! (5)\r\n\r\nUpgrade firmware failed!!' "Firmware Upgrade Failed!!") ;;
lostack) EXPECT=("Firmware Upgrade Failed!!") ;;
esac
case $MODE in
exit)
  click "$COMUPLOAD"
  choose "$PACKAGE"
  timeout 90 xdotool search --sync --onlyvisible --name "^Load Process$" > /dev/null 2>&1 ||
    fail "no \"Load Process\" window"
  click "$COMEXIT"
  ;;
firmware|missing|nodll|lostack)
  click "$COMUPLOAD"
  choose "$PACKAGE"
  if [[ $MODE == firmware ]]; then
    ww control "$TITLE" "$FRAME1" visible 60000 > /dev/null || fail "the progress frame did not show"
    timeout 90 xdotool search --sync --onlyvisible --name "^Load Process$" > /dev/null 2>&1 ||
      fail "no \"Load Process\" window"
    shot progress
  fi
  for text in "${EXPECT[@]}"; do expect_message "$text"; done
  ;;
os)
  head -c 40000 /dev/urandom > "$WORKDIR/tovrane.img"
  click "$COMUPLOADOS"
  choose "$WORKDIR/tovrane.img"
  timeout 90 xdotool search --sync --onlyvisible --name "^Load Process$" > /dev/null 2>&1 ||
    fail "no \"Load Process\" window"
  # Step 3's caption blinks every 500 ms: while the transfer runs, a later
  # picture of it differs from the first only if the window repaints.
  read -r cx cy cw ch <<< "$(ww control "$TITLE" "$FRAME_STEP3" visible 1000)"
  band="${cw}x20+$((cx - cw / 2))+$((cy - ch / 2))"
  import -window root -crop "$band" +repage "$WORKDIR/caption-first.png"
  shot transfer
  moved=0
  while xdotool search --onlyvisible --name "^Load Process$" > /dev/null 2>&1; do
    import -window root -crop "$band" +repage "$WORKDIR/caption-later.png"
    diff=$(compare -metric AE "$WORKDIR/caption-first.png" "$WORKDIR/caption-later.png" null: 2>&1 || true)
    if [[ $diff =~ ^[0-9]+$ ]] && (( diff > 0 )); then moved=1; break; fi
  done
  (( moved )) || fail "the window did not repaint during the transfer (step 3's caption never changed)"
  echo "ok: the window repainted during the transfer ($diff pixels of the caption changed)"
  expect_message "Upgrade Successed."
  ;;
esac

if [[ $MODE != exit ]]; then
  # Back at step 1: the port closed.
  ww control "$TITLE" "$COMCONNECT" enabled 30000 > /dev/null || fail "not back at step 1"
  [[ $(panel 0) == "COM 1 Disonnected!! " ]] || fail "panel 1 says \"$(panel 0)\" after the repair"
  shot disconnected
  click "$COMEXIT"
fi
set +e
if timeout 60 tail --pid="$PROGRAM" -f /dev/null; then wait "$PROGRAM"; rc=$?; else rc=124; fi
set -e
PROGRAM=""
if (( rc == 124 )); then
  box=$(ww message 1000 | head -n1 || true)
  fail "Pelorim.exe did not end after EXIT${box:+ (a message box says \"$box\")}"
fi
(( rc == 0 )) || fail "Pelorim.exe exited with $rc"
stop_sims
leftover=$(find "$TEMP_DIR" -maxdepth 1 \( -name 'tq318.*' -o -name 'gone.*' \) 2>/dev/null | head -n1 || true)
[[ -z $leftover ]] || fail "a work folder was left: $leftover"
echo "ok: EXIT ended the program, no work folder left"

mapfile -t made < <(ls "$RECORDS"/*.json 2>/dev/null || true)
# The repairs that reach the controller leave one record of Pelorim's, saying how they ended.
declare -A OUTCOME=([firmware]=verified [os]=verified [exit]=abandoned [lostack]=failed)
if [[ -n ${OUTCOME[$MODE]:-} ]]; then
  (( ${#made[@]} == 1 )) || fail "${#made[@]} records, not 1"
  grep -qF '"frontEnd": "Pelorim",' "${made[0]}" || fail "the record is not Pelorim's"
  grep -qF "\"outcome\": \"${OUTCOME[$MODE]}\"" "${made[0]}" || { cat "${made[0]}"; fail "the record is not ${OUTCOME[$MODE]}"; }
  echo "ok: one record, ${OUTCOME[$MODE]}"
  # It ended when the repair did, not when its last box was answered.
  ended=$(sed -n 's/^ *"ended": "\(.*\)",$/\1/p' "${made[0]}")
  if (( ${#PRESSED[@]} )); then
    [[ $ended < ${PRESSED[0]} ]] || fail "the record ended at $ended, not before the first OK ($PRESSED)"
    echo "ok: the record ended at $ended, before the first OK"
  fi
fi
case $MODE in
firmware)
  (cd "$WORKDIR/flash/A" && ls | LC_ALL=C sort) > "$WORKDIR/stored"
  printf 'tq318.exe\nweb.bin\n' | cmp -s - "$WORKDIR/stored" || { cat "$WORKDIR/stored"; fail "disk A holds other files"; }
  [[ -z $(ls -A "$WORKDIR/flash/B" 2>/dev/null) ]] || fail "disk B is not empty"
  for m in tq318.exe web.bin; do
    cmp "$WORKDIR/members/$m" "$WORKDIR/flash/A/$m" || fail "$m differs on disk A"
  done
  echo "ok: disk A holds exactly the package's members, byte for byte"
  # The console lines before the first load: the password, then both disks emptied and confirmed.
  sed -n '/^del$/,/^load/p' "$WORKDIR/received" | head -n4 | tr '\n' ' ' > "$WORKDIR/deletes"
  [[ $(cat "$WORKDIR/deletes") == "del y delb y " ]] || { cat "$WORKDIR/received"; fail "the deletes were not del, y, delb, y"; }
  echo "ok: del, y, delb, y before the loads"
  grep -qF "\"sha256\": \"$(sha256sum < "$WORKDIR/members/web.bin" | cut -d' ' -f1)\"," "${made[0]}" ||
    fail "the record lacks web.bin's digest"
  ;;
nodll)
  [[ -z $(find "$WORKDIR/flash" -type f) ]] || fail "something was stored"
  echo "ok: the missing DLL was trapped where the repair traps it"
  ;;
exit)
  grep -qx reset "$WORKDIR/received" && fail "the controller was reset after EXIT"
  echo "ok: no reset after EXIT"
  ;;
os)
  grep -qx 'bios1' "$WORKDIR/received" || { cat "$WORKDIR/received"; fail "the image was not installed (no bios1)"; }
  # After "reset" only the version questions that prove the restart.
  [[ $(grep -A9 -x reset "$WORKDIR/received" | grep -vx quorvelstand83 | tr '\n' ' ') == "reset ver inp 30a " ]] ||
    fail "after reset, not the version report alone"
  (( ${#made[@]} == 1 )) || fail "${#made[@]} records, not 1"
  grep -qF '"kind": "os",' "${made[0]}" || fail "the record is not an OS repair's"
  grep -qF '"outcome": "verified"' "${made[0]}" || { cat "${made[0]}"; fail "the record is not verified"; }
  grep -qF "\"sha256\": \"$(sha256sum < "$WORKDIR/tovrane.img" | cut -d' ' -f1)\"," "${made[0]}" ||
    fail "the record lacks the image's digest"
  echo "ok: bios1 then reset and the version report, one record, verified"
  ;;
missing)
  [[ -z $(find "$WORKDIR/flash" -type f) ]] || fail "something was stored"
  grep -qxE 'del|delb|load.*' "$WORKDIR/received" && { cat "$WORKDIR/received"; fail "the controller was touched"; }
  echo "ok: refused before the device was touched"
  ;;
esac
echo "ok: Pelorim.exe $MODE"
