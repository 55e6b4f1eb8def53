#!/usr/bin/env bash
# serial_wine.exe under Wine: COM2 a simulator that hangs up after block 1,
# port 3 mapped to it by UART_COM3, port 7 to the missing COM200, UART_COM6 empty.
# usage: serial_wine.sh WIN_BUILD HOST_BIN
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=$2
WORKDIR="$WIN_BUILD/wine/serial"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR"
head -c 2000 /dev/urandom > "$WORKDIR/blocks.bin"
start_sim 2 --hangup-after-block 1
start_wineserver
cd "$WIN_BUILD/bin"
UART_COM3='\\.\COM2' UART_COM7='\\.\COM200' UART_COM6= env -u DISPLAY "$WINE" serial_wine.exe "$(winpath "$WORKDIR/blocks.bin")"
