#!/usr/bin/env bash
# tovctl.exe under Wine against tq318-sim on COM1 and COM2 (paced at 115200
# baud, disks kept in folders so that what the controller stored can be
# compared byte for byte).
#   repairs  a package made by tq318-make-package.exe (read back by gcab),
#            repaired on COM1 and COM2 at once, the zip's sample package, then
#            repair-os on COM1: verified, stored whole, and a record for each in
#            %LOCALAPPDATA%\tq318\repairs with the members' SHA-256
#   refusal  a package whose list names "..\evil.bin": refused, exit 4,
#            nothing received by the controller, nothing stored, no record
#   ports    the ports the setup API lists (USB ids, serial, FTDI latency timer),
#            ports --assign with COM ports, reserved names, help texts
#   ctrl-c, ctrl-break  a repair stopped by the console's event (stop_wine.exe)
# usage: tovctl_wine.sh WIN_BUILD HOST_BIN MODE
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2 MODE=$3
WORKDIR="$WIN_BUILD/wine/tovctl-$MODE"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR"

fail() { echo "FAIL: $*"; exit 1; }
# tovctl.exe ARGS...: its standard output in $WORKDIR/out, error in err, status in STATUS.
tovctl() {
  STATUS=0
  (cd "$WIN_BUILD/bin" && env -u DISPLAY "$WINE" tovctl.exe "$@") > "$WORKDIR/out" 2> "$WORKDIR/err" < /dev/null ||
    STATUS=$?
  tr -d '\r' < "$WORKDIR/out" > "$WORKDIR/out.txt"
  tr -d '\r' < "$WORKDIR/err" > "$WORKDIR/err.txt"
}
expect_out() { grep -qF -- "$1" "$WORKDIR/out.txt" || { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "no \"$1\" in the output"; }; }
expect_err() { grep -qF -- "$1" "$WORKDIR/err.txt" || { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "no \"$1\" on standard error"; }; }
expect_status() { [[ $STATUS == "$1" ]] || { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "exit $STATUS, not $1"; }; }

# Where the prefix's user keeps %LOCALAPPDATA%.
records_dir() {
  local users="$WINEPREFIX/drive_c/users" d
  for d in "$users"/*/AppData/Local; do
    [[ -d $d && $d != */Public/* ]] && { echo "$d/tq318/repairs"; return; }
  done
  fail "no AppData\\Local folder in the prefix"
}

# A package of tq318.exe (20000 random bytes) and web.bin (3000) in $WORKDIR/pkg.
make_package() {
  mkdir -p "$WORKDIR/members" "$WORKDIR/pkg"
  head -c 20000 /dev/urandom > "$WORKDIR/members/tq318.exe"
  head -c 3000 /dev/urandom > "$WORKDIR/members/web.bin"
  "$HOST_BIN/tq318-make-package" "$WORKDIR/members" "$WORKDIR/pkg/tq318.hex" > /dev/null
}

# The record files written since records_dir was emptied, in name order.
records() { ls "$RECORDS"/*.json 2>/dev/null | sort || true; }
# expect_record FILE TEXT: the pretty-printed JSON holds the line TEXT.
expect_record() { grep -qF -- "$2" "$1" || { cat "$1"; fail "record $1 lacks $2"; }; }

start_wineserver
case $MODE in
repairs)
  # tq318-make-package.exe packs under Wine (cabinet.dll's FCI): gcab reads
  # back every member byte for byte, and web.bin's zeros are compressed.
  mkdir -p "$WORKDIR/members" "$WORKDIR/pkg" "$WORKDIR/unpacked"
  head -c 20000 /dev/urandom > "$WORKDIR/members/tq318.exe"
  head -c 9000 /dev/zero > "$WORKDIR/members/web.bin"
  STATUS=0
  (cd "$WIN_BUILD/bin" && env -u DISPLAY "$WINE" tq318-make-package.exe "$(winpath "$WORKDIR/members")" \
    "$(winpath "$WORKDIR/pkg/tq318.hex")") > "$WORKDIR/out" 2> "$WORKDIR/err" < /dev/null || STATUS=$?
  [[ $STATUS == 0 ]] || { cat "$WORKDIR/out" "$WORKDIR/err"; fail "tq318-make-package.exe exit $STATUS"; }
  (cd "$WORKDIR/unpacked" && gcab -x "$WORKDIR/pkg/tq318.hex") || fail "gcab cannot read the package"
  for m in tq318.exe web.bin file.lst auth.key; do
    cmp "$WORKDIR/members/$m" "$WORKDIR/unpacked/$m" || fail "$m differs in the package"
  done
  [[ $(stat -c %s "$WORKDIR/pkg/tq318.hex") -lt 25000 ]] || fail "web.bin's zeros were not compressed"
  RECORDS=$(records_dir); rm -rf "$RECORDS"
  start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash1" --disk-a-kib 4096
  start_sim 2 --baud 115200 --flash-dir "$WORKDIR/flash2" --disk-a-kib 4096
  tovctl --port 1 --port 2 --json repair-firmware "$(winpath "$WORKDIR/pkg/tq318.hex")" --disk a
  expect_status 0
  expect_out '"event":"summary","command":"repair-firmware","ok":true'
  for n in 1 2; do
    expect_out "{\"port\":\"$n\",\"result\":\"verified\""
    cmp "$WORKDIR/members/tq318.exe" "$WORKDIR/flash$n/A/tq318.exe" || fail "COM$n holds another tq318.exe"
    cmp "$WORKDIR/members/web.bin" "$WORKDIR/flash$n/A/web.bin" || fail "COM$n holds another web.bin"
  done
  mapfile -t made < <(records)
  [[ ${#made[@]} == 2 ]] || fail "${#made[@]} records, not 2: ${made[*]}"
  exe_sha=$(sha256sum < "$WORKDIR/members/tq318.exe" | cut -d' ' -f1)
  web_sha=$(sha256sum < "$WORKDIR/members/web.bin" | cut -d' ' -f1)
  pkg_sha=$(sha256sum < "$WORKDIR/pkg/tq318.hex" | cut -d' ' -f1)
  ports_seen=""
  for r in "${made[@]}"; do
    expect_record "$r" '"kind": "firmware",'
    expect_record "$r" '"outcome": "verified"'
    expect_record "$r" '"frontEnd": "tovctl",'
    expect_record "$r" "\"sha256\": \"$pkg_sha\","
    expect_record "$r" "\"sha256\": \"$exe_sha\","
    expect_record "$r" "\"sha256\": \"$web_sha\","
    expect_record "$r" '"passed": true,'
    ports_seen+=$(grep -o '"port": [0-9]*' "$r")" "
  done
  [[ $ports_seen == *'"port": 1 '* && $ports_seen == *'"port": 2 '* ]] || fail "records for ports: $ports_seen"

  tovctl --port 1 repair-firmware "$(winpath "$WIN_BUILD/samples/tq318.hex")" --disk a
  expect_status 0; expect_out "Verified"
  rm -rf "$RECORDS"
  head -c 50000 /dev/urandom > "$WORKDIR/os.img"
  tovctl --port 1 repair-os "$(winpath "$WORKDIR/os.img")"
  expect_status 0; expect_out "Upgrade Successed."
  mapfile -t made < <(records)
  [[ ${#made[@]} == 1 ]] || fail "${#made[@]} records after repair-os, not 1"
  expect_record "${made[0]}" '"kind": "os",'
  expect_record "${made[0]}" '"outcome": "verified"'
  expect_record "${made[0]}" "\"sha256\": \"$(sha256sum < "$WORKDIR/os.img" | cut -d' ' -f1)\","
  tovctl history
  expect_status 0; expect_out "verified"
  ;;
refusal)
  make_package
  # The same members, the list naming one more outside the work folder.
  printf '..\\evil.bin\r\n' >> "$WORKDIR/members/file.lst"
  cp "$WORKDIR/members/web.bin" "$WORKDIR/members/evil.bin"
  (cd "$WORKDIR/members" && gcab -c -z "$WORKDIR/pkg/evil.hex" tq318.exe web.bin evil.bin file.lst auth.key)
  RECORDS=$(records_dir); rm -rf "$RECORDS"
  start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash1" --received "$WORKDIR/received1"
  tovctl --port 1 repair-firmware "$(winpath "$WORKDIR/pkg/evil.hex")" --disk a
  expect_status 4
  expect_err "refused before the device was touched"
  expect_err '..\evil.bin'
  stop_sims
  [[ -f $WORKDIR/received1 ]] || fail "the simulator wrote no transcript"
  [[ ! -s $WORKDIR/received1 ]] || { cat "$WORKDIR/received1"; fail "the controller received lines"; }
  [[ -z $(find "$WORKDIR/flash1" -type f) ]] || fail "something was stored"
  # One record of the refusal, with its reason: nothing was sent.
  made=($(records)); (( ${#made[@]} == 1 )) || fail "${#made[@]} records of the refusal, not 1"
  grep -qF '"refusal":' "${made[0]}" || { cat "${made[0]}"; fail "the record names no refusal"; }
  ;;
ports)
  # As the setup API lists them from the prefix's registry: an FTDI adapter
  # (FTDI's bus driver, latency timer 16 ms) on COM3, a USB CDC device on COM4.
  ports_class='{4d36e978-e325-11ce-bfc1-08002be10318}'
  add_port() {  # KEY FRIENDLY_NAME HARDWARE_ID SERVICE COM [LATENCY]
    "$WINE" reg add "$1" /v ClassGUID /t REG_SZ /d "$ports_class" /f > /dev/null
    "$WINE" reg add "$1" /v FriendlyName /t REG_SZ /d "$2" /f > /dev/null
    "$WINE" reg add "$1" /v HardwareID /t REG_MULTI_SZ /d "$3" /f > /dev/null
    "$WINE" reg add "$1" /v Service /t REG_SZ /d "$4" /f > /dev/null
    "$WINE" reg add "$1\Device Parameters" /v PortName /t REG_SZ /d "$5" /f > /dev/null
    [[ -z ${6:-} ]] || "$WINE" reg add "$1\Device Parameters" /v LatencyTimer /t REG_DWORD /d "$6" /f > /dev/null
  }
  enum='HKLM\System\CurrentControlSet\Enum'
  add_port "$enum\FTDIBUS\VID_0403+PID_6001+A12345A\0000" 'USB Serial Port (COM3)' \
    'FTDIBUS\COMPORT&VID_0403&PID_6001' FTSER2K COM3 16
  add_port "$enum\USB\VID_2341&PID_0043\75833353" 'Arduino Uno (COM4)' 'USB\VID_2341&PID_0043&REV_0001' usbser COM4
  tovctl ports
  expect_status 0
  cat "$WORKDIR/out.txt"
  expect_out '\\.\COM3  COM 3  USB serial adapter  "USB Serial Port (COM3)"  USB vendor:product 0403:6001  serial number A12345A  driver "FTSER2K"  USB latency timer 16 ms'
  expect_out 'hint: each block waits up to 16 ms for the adapter; set it to 1 ms in Device Manager'
  expect_out '\\.\COM4  COM 4  USB serial adapter  "Arduino Uno (COM4)"  USB vendor:product 2341:0043  serial number 75833353  driver "usbser"'
  expect_out '\\.\COM1  COM 1  built-in serial port'
  tovctl --json ports
  expect_out '"path":"\\\\.\\COM3","com":3,"transport":"usb","description":"USB Serial Port (COM3)","usb_vid":1027,"usb_pid":24577'
  expect_out '"serial":"A12345A","by_id":"","driver":"FTSER2K","latency_timer_ms":16'

  # ports --assign with COM ports; other names refused with what they are.
  start_sim 1 --baud 115200
  mapping=$(dirname "$(dirname "$(records_dir)")")/../Roaming/tq318/ports
  rm -f "$mapping"
  tovctl ports --assign 6 com1
  expect_status 0; expect_out 'COM6=\\.\COM1 saved in'
  tovctl --port 6 ver
  expect_status 0; expect_out "Model: TQ318-5314A"
  tovctl ports --assign 7 '\\.\COM2'
  expect_status 0
  grep -qx 'COM7=\\\\.\\COM2'$'\r''\?' "$mapping" || fail "the mapping file lacks COM7: $(cat "$mapping")"
  tovctl ports --assign 8 '\\.\CON'
  expect_status 1; expect_err "CON is the console, not a serial device"
  tovctl ports --assign 8 '\\.\COM77'
  expect_status 1; expect_err "Windows knows no COM77"
  tovctl ports --assign 8 /dev/ttyUSB0
  expect_status 2; expect_err 'the device must be a COM port, such as COM3 or \\.\COM3'
  # A mapping file naming the console; one over 64 KiB naming COM1 early on.
  printf 'COM9=CON\r\n' > "$mapping"
  tovctl --port 9 ver
  expect_status 3; expect_err "CON is the console"
  grep -q "regular file" "$WORKDIR/err.txt" && fail "the console was called a regular file"
  { printf 'COM5=\\\\.\\COM1\r\n'; head -c 70000 /dev/zero | tr '\0' '#'; printf '\r\n'; } > "$mapping"
  tovctl --port 5 ver
  expect_status 0; expect_out "Model: TQ318-5314A"

  # The help speaks of Windows' names; a path with a leading "/" is a path.
  tovctl --help
  expect_out 'else \\.\COM<N>)'; grep -q '/dev/' "$WORKDIR/out.txt" && fail "--help names /dev"
  tovctl ports --help
  expect_out '%APPDATA%\tq318\ports'; grep -q 'XDG' "$WORKDIR/out.txt" && fail "ports --help names XDG"
  tovctl --port 1 repair-firmware /tmp/no-such.hex --disk a
  expect_status 4
  grep -q "is required" "$WORKDIR/err.txt" && fail "a path starting with / was taken for an option"
  rm -f "$mapping"
  ;;
ctrl-c|ctrl-break)
  # Stopped by the console's event while a member is downloaded (Ctrl-C) or
  # the image uploaded (Ctrl-Break): exit 130 or 143, no "reset", nothing
  # stored or installed, the record says "abandoned", the private folder in
  # %TEMP% is gone and the controller answers at its prompt afterwards.
  make_package
  RECORDS=$(records_dir); rm -rf "$RECORDS"
  mkdir -p "$WORKDIR/temp"
  start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash1" --disk-a-kib 4096 \
    --received "$WORKDIR/received1"
  if [[ $MODE == ctrl-c ]]; then
    head -c 60000 /dev/urandom > "$WORKDIR/members/tq318.exe"
    "$HOST_BIN/tq318-make-package" "$WORKDIR/members" "$WORKDIR/pkg/tq318.hex" > /dev/null
    event=c status=130 watched='-> "load\r"' repair=(repair-firmware "$(winpath "$WORKDIR/pkg/tq318.hex")" --disk a)
  else
    head -c 60000 /dev/urandom > "$WORKDIR/os.img"
    event=break status=143 watched='-> "upload\r"' repair=(repair-os "$(winpath "$WORKDIR/os.img")")
  fi
  STATUS=0
  (cd "$WIN_BUILD/bin" && env -u DISPLAY "$WINE" stop_wine.exe "$event" "$(winpath "$WORKDIR/line.trace")" \
    "$watched" "$(winpath "$WORKDIR/out")" "$(winpath "$WORKDIR/err")" "TEMP=$(winpath "$WORKDIR/temp")" -- \
    tovctl.exe --port 1 --trace "$(winpath "$WORKDIR/line.trace")" "${repair[@]}") > "$WORKDIR/stopper" 2>&1 < /dev/null ||
    STATUS=$?
  tr -d '\r' < "$WORKDIR/stopper" > "$WORKDIR/stopper.txt"
  tr -d '\r' < "$WORKDIR/out" > "$WORKDIR/stopped.out"; tr -d '\r' < "$WORKDIR/err" > "$WORKDIR/stopped.err"
  cp "$WORKDIR/stopped.out" "$WORKDIR/out.txt"; cp "$WORKDIR/stopped.err" "$WORKDIR/err.txt"
  cat "$WORKDIR/stopper.txt" "$WORKDIR/stopped.out" "$WORKDIR/stopped.err"
  if [[ $STATUS == 77 ]]; then echo "SKIPPED: $(grep '^skip' "$WORKDIR/stopper.txt")"; exit 77; fi
  [[ $STATUS == 0 ]] || { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "stop_wine.exe exit $STATUS"; }
  grep -qx "exit $status" "$WORKDIR/stopper.txt" || { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "tovctl.exe did not exit $status"; }
  echo "left in %TEMP%: $(ls -A "$WORKDIR/temp" | tr '\n' ' ')"
  [[ -z $(ls -A "$WORKDIR/temp") ]] || fail "the private folder is left in %TEMP%"
  mapfile -t made < <(records)
  [[ ${#made[@]} == 1 ]] || fail "${#made[@]} records, not 1"
  expect_record "${made[0]}" '"outcome": "abandoned"'
  echo "record: $(grep -o '"outcome": "[a-z]*"' "${made[0]}")"
  # The controller back at its prompt: the next command is answered.
  tovctl --port 1 ver
  expect_status 0; expect_out "Model: TQ318-5314A"
  stop_sims
  grep -qx reset "$WORKDIR/received1" && fail "\"reset\" was sent after the stop"
  grep -qx bios1 "$WORKDIR/received1" && fail "\"bios1\" was sent after the stop"
  [[ -z $(find "$WORKDIR/flash1" -type f 2>/dev/null) ]] || fail "something was stored: $(find "$WORKDIR/flash1" -type f)"
  ;;
*) fail "unknown mode $MODE" ;;
esac
echo "ok: tovctl.exe $MODE"
