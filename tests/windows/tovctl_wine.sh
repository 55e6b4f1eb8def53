#!/usr/bin/env bash
# tovctl.exe under Wine against tq318-sim (the modes are told in CMakeLists.txt).
# usage: tovctl_wine.sh WIN_BUILD HOST_BIN MODE
WIN_BUILD=$1 HOST_BIN=$2 MODE=$3
WORKDIR="$WIN_BUILD/wine/tovctl-$MODE"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR"

# expect STATUS TEXT: the last run exited STATUS and printed TEXT (either stream).
expect() {
  [[ $STATUS == "$1" && ( -z $2 || -n $(grep -F -- "$2" "$WORKDIR/out.txt" "$WORKDIR/err.txt") ) ]] ||
    { cat "$WORKDIR/out.txt" "$WORKDIR/err.txt"; fail "exit $STATUS, not $1 with \"$2\""; }
}
tovctl() { run_exe tovctl.exe "$@"; }
sha() { sha256sum < "$1" | cut -d' ' -f1; }
RECORDS="$(local_appdata)/tq318/repairs"
records() { ls "$RECORDS"/*.json 2>/dev/null | sort || true; }
# expect_record FILE TEXT: the pretty-printed JSON holds the line TEXT.
expect_record() { grep -qF -- "$2" "$1" || { cat "$1"; fail "record $1 lacks $2"; }; }
rm -rf "$RECORDS"
start_wineserver

case $MODE in
repairs)
  # tq318-make-package.exe packs with cabinet.dll's FCI: gcab reads back every
  # member byte for byte, and web.bin's zeros are compressed.
  mkdir -p "$WORKDIR/members" "$WORKDIR/pkg" "$WORKDIR/unpacked"
  head -c 20000 /dev/urandom > "$WORKDIR/members/tq318.exe"
  head -c 9000 /dev/zero > "$WORKDIR/members/web.bin"
  run_exe tq318-make-package.exe "$(winpath "$WORKDIR/members")" "$(winpath "$WORKDIR/pkg/tq318.hex")"
  expect 0 ""
  (cd "$WORKDIR/unpacked" && gcab -x "$WORKDIR/pkg/tq318.hex") || fail "gcab cannot read the package"
  for m in tq318.exe web.bin file.lst auth.key; do
    cmp "$WORKDIR/members/$m" "$WORKDIR/unpacked/$m" || fail "$m differs in the package"
  done
  (( $(stat -c %s "$WORKDIR/pkg/tq318.hex") < 25000 )) || fail "web.bin's zeros were not compressed"
  start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash1" --disk-a-kib 4096
  start_sim 2 --baud 115200 --flash-dir "$WORKDIR/flash2" --disk-a-kib 4096
  tovctl --port 1 --port 2 --json repair-firmware "$(winpath "$WORKDIR/pkg/tq318.hex")" --disk a
  expect 0 '"event":"summary","command":"repair-firmware","ok":true'
  for n in 1 2; do
    expect 0 "{\"port\":\"$n\",\"result\":\"verified\""
    for m in tq318.exe web.bin; do cmp "$WORKDIR/members/$m" "$WORKDIR/flash$n/A/$m" || fail "COM$n holds another $m"; done
  done
  mapfile -t made < <(records)
  (( ${#made[@]} == 2 )) || fail "${#made[@]} records, not 2: ${made[*]}"
  for n in 0 1; do
    expect_record "${made[n]}" '"outcome": "verified"'
    expect_record "${made[n]}" "\"sha256\": \"$(sha "$WORKDIR/members/tq318.exe")\","
  done
  [[ $(grep -ho '"port": [0-9]*' "${made[@]}" | sort | tr '\n' ' ') == '"port": 1 "port": 2 ' ]] ||
    fail "the records are not of ports 1 and 2"
  tovctl --port 1 repair-firmware "$(winpath "$WIN_BUILD/samples/tq318.hex")" --disk a
  expect 0 "Verified"
  rm -rf "$RECORDS"
  head -c 50000 /dev/urandom > "$WORKDIR/os.img"
  tovctl --port 1 repair-os "$(winpath "$WORKDIR/os.img")"
  expect 0 "Upgrade Successed."
  mapfile -t made < <(records)
  (( ${#made[@]} == 1 )) || fail "${#made[@]} records after repair-os, not 1"
  expect_record "${made[0]}" "\"sha256\": \"$(sha "$WORKDIR/os.img")\","
  ;;
names)
  # Each package is refused before the controller receives a line; nothing is
  # stored and the planted file in the current folder keeps its bytes.
  mkdir -p "$WORKDIR/cwd"
  while IFS='|' read -r name why member; do
    dir="$WORKDIR/$name"
    make_package "$dir" "$member"
    printf 'precious\r\n' > "$WORKDIR/cwd/victim.txt"
    start_sim 1 --baud 115200 --flash-dir "$dir/flash" --received "$dir/received"
    RUN_IN="$WORKDIR/cwd" run_exe "$WIN_BUILD/bin/tovctl.exe" --port 1 repair-firmware "$(winpath "$dir/pkg/tq318.hex")" --disk a
    stop_sims
    expect 4 "refused before the device was touched"
    expect 4 "$why"
    [[ -f $dir/received && ! -s $dir/received ]] || { cat "$dir/received"; fail "$name: the controller received lines"; }
    [[ -z $(find "$dir/flash" -type f 2>/dev/null) ]] || fail "$name: something was stored"
    [[ $(cat "$WORKDIR/cwd/victim.txt") == $'precious\r' ]] || fail "$name: the file in the current folder was overwritten"
    echo "ok: $name: $(grep -F 'refused (' "$WORKDIR/err.txt" | head -1 | sed 's/^ *//')"
  done <<EOF
parent|..\\evil.bin|..\\evil.bin
drive|"Z:victim.txt" is refused (it names the drive Z:|Z:victim.txt
folded|"web.bin." is refused (Windows drops a trailing dot|web.bin.
long|characters long, more than the 259 this system opens|$(printf 'n%.0s' $(seq 1 216)).bin
EOF
  ;;
ports)
  # As the setup API lists them from the prefix's registry: an FTDI adapter
  # (FTDI's bus driver, latency timer 16 ms) on COM3, a USB CDC device on COM4.
  add_port() {  # KEY FRIENDLY_NAME HARDWARE_ID SERVICE COM [LATENCY]
    local v; for v in "ClassGUID REG_SZ {4d36e978-e325-11ce-bfc1-08002be10318}" "FriendlyName REG_SZ $2" \
      "HardwareID REG_MULTI_SZ $3" "Service REG_SZ $4"; do
      read -r name type value <<< "$v"
      "$WINE" reg add "$1" /v "$name" /t "$type" /d "$value" /f > /dev/null
    done
    "$WINE" reg add "$1\Device Parameters" /v PortName /t REG_SZ /d "$5" /f > /dev/null
    [[ -z ${6:-} ]] || "$WINE" reg add "$1\Device Parameters" /v LatencyTimer /t REG_DWORD /d "$6" /f > /dev/null
  }
  enum='HKLM\System\CurrentControlSet\Enum'
  add_port "$enum\FTDIBUS\VID_0403+PID_6001+A12345A\0000" 'USB Serial Port (COM3)' \
    'FTDIBUS\COMPORT&VID_0403&PID_6001' FTSER2K COM3 16
  add_port "$enum\USB\VID_2341&PID_0043\75833353" 'Arduino Uno (COM4)' 'USB\VID_2341&PID_0043&REV_0001' usbser COM4
  start_sim 1 --baud 115200
  mapping="$(local_appdata)/../Roaming/tq318/ports"
  rm -f "$mapping"
  while IFS='|' read -r status text args; do
    eval "argv=($args)"
    tovctl "${argv[@]}"
    expect "$status" "$text"
    echo "ok: tovctl.exe $args: exit $status${text:+, \"$text\"}"
  done <<'EOF'
0|\\.\COM3  COM 3  USB serial adapter  "USB Serial Port (COM3)"  USB vendor:product 0403:6001  serial number A12345A  driver "FTSER2K"  USB latency timer 16 ms|ports
0|hint: each block waits up to 16 ms for the adapter; set it to 1 ms in Device Manager|ports
0|\\.\COM4  COM 4  USB serial adapter  "Arduino Uno (COM4)"  USB vendor:product 2341:0043  serial number 75833353  driver "usbser"|ports
0|\\.\COM1  COM 1  built-in serial port|ports
0|"path":"\\\\.\\COM3","com":3,"transport":"usb","description":"USB Serial Port (COM3)","usb_vid":1027,"usb_pid":24577|--json ports
0|"serial":"A12345A","by_id":"","driver":"FTSER2K","latency_timer_ms":16|--json ports
0|COM6=\\.\COM1 saved in|ports --assign 6 com1
0|Model: TQ318-5314A|--port 6 ver
0||ports --assign 7 '\\.\COM2'
1|CON is the console, not a serial device|ports --assign 8 '\\.\CON'
1|Windows knows no COM77|ports --assign 8 '\\.\COM77'
2|the device must be a COM port, such as COM3 or \\.\COM3|ports --assign 8 /dev/ttyUSB0
0|else \\.\COM<N>)|--help
0|%APPDATA%\tq318\ports|ports --help
4||--port 1 repair-firmware /tmp/no-such.hex --disk a
EOF
  grep -qx 'COM7=\\\\.\\COM2'$'\r''\?' "$mapping" || fail "the mapping file lacks COM7: $(cat "$mapping")"
  # A mapping file naming the console: refused when the port is opened.
  printf 'COM9=CON\r\n' > "$mapping"
  tovctl --port 9 ver
  expect 3 "CON is the console"
  rm -f "$mapping"
  ;;
ctrl-c|ctrl-break)
  # Stopped by the console's event while a member is downloaded (Ctrl-C) or
  # the image uploaded (Ctrl-Break): exit 130 or 143, the record says
  # "abandoned", the private folder in %TEMP% is gone and the controller
  # answers at its prompt afterwards.
  make_package "$WORKDIR"
  mkdir -p "$WORKDIR/temp"
  start_sim 1 --baud 115200 --flash-dir "$WORKDIR/flash1" --disk-a-kib 4096
  if [[ $MODE == ctrl-c ]]; then
    head -c 60000 /dev/urandom > "$WORKDIR/members/tq318.exe"
    "$HOST_BIN/tq318-make-package" "$WORKDIR/members" "$WORKDIR/pkg/tq318.hex" > /dev/null
    event=c status=130 watched='-> "load\r"' repair=(repair-firmware "$(winpath "$WORKDIR/pkg/tq318.hex")" --disk a)
  else
    head -c 60000 /dev/urandom > "$WORKDIR/os.img"
    event=break status=143 watched='-> "upload\r"' repair=(repair-os "$(winpath "$WORKDIR/os.img")")
  fi
  run_exe stop_wine.exe "$event" "$(winpath "$WORKDIR/line.trace")" "$watched" "$(winpath "$WORKDIR/tovctl.out")" \
    "$(winpath "$WORKDIR/tovctl.err")" "$(winpath "$WORKDIR/temp")" -- \
    tovctl.exe --port 1 --trace "$(winpath "$WORKDIR/line.trace")" "${repair[@]}"
  cat "$WORKDIR/out.txt" "$WORKDIR/tovctl.out" "$WORKDIR/tovctl.err"
  [[ $STATUS != 77 ]] || exit 77
  expect 0 "exit $status"
  [[ -z $(ls -A "$WORKDIR/temp") ]] || fail "the private folder is left in %TEMP%: $(ls -A "$WORKDIR/temp")"
  mapfile -t made < <(records)
  (( ${#made[@]} == 1 )) || fail "${#made[@]} records, not 1"
  expect_record "${made[0]}" '"outcome": "abandoned"'
  tovctl --port 1 ver
  expect 0 "Model: TQ318-5314A"
  ;;
*) fail "unknown mode $MODE" ;;
esac
echo "ok: tovctl.exe $MODE"
