#!/usr/bin/env bash
# cab_wine.exe under Wine: cabinets packed by gcab (stored and MSZIP) with
# the members a firmware package has, one of them empty.
# usage: cab_wine.sh WIN_BUILD
set -euo pipefail
WIN_BUILD=$1 HOST_BIN=unused
WORKDIR="$WIN_BUILD/wine/cab"
source "$(dirname "$0")/wine_env.sh"
rm -rf "$WORKDIR"; mkdir -p "$WORKDIR/in"
printf 'tq318.exe\r\nauth.key\r\n' > "$WORKDIR/in/file.lst"
head -c 200000 /dev/urandom > "$WORKDIR/in/tq318.exe"
head -c 50 /dev/urandom > "$WORKDIR/in/auth.key"
: > "$WORKDIR/in/zero.bin"
names=(file.lst tq318.exe auth.key zero.bin)
(cd "$WORKDIR/in" && gcab -c "$WORKDIR/stored.cab" "${names[@]}" && gcab -c -z "$WORKDIR/mszip.cab" "${names[@]}")
start_wineserver
cd "$WIN_BUILD/bin"
env -u DISPLAY "$WINE" cab_wine.exe "$(winpath "$WORKDIR")"
