#!/usr/bin/env bash
# Installs the kit into a staging prefix and builds a small C program against it
# twice, found only through pkg-config and through find_package(Tovrane); both
# builds then read the version and the IP address from tq318-sim.
# usage: consumer_test.sh BUILD_DIR
set -euo pipefail
BUILD=$1
HERE=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage=$work/stage
cmake --install "$BUILD" --prefix "$stage" >/dev/null
libdir=$(dirname "$(find "$stage" -name tovrane.pc -print -quit)")/..
libdir=$(cd "$libdir" && pwd)
[[ -f $stage/include/tq318/tovrane.h && -f $stage/include/tq318/uart.h ]] || fail "headers not in include/tq318"
[[ -L $libdir/libtovrane.so && -e $libdir/libtovrane.so.1 && -e $libdir/libuart.so.1 ]] || fail "library links missing in $libdir"
readelf -d "$libdir/libtovrane.so.1" | grep -q 'SONAME.*\[libtovrane.so.1\]' || fail "libtovrane SONAME"
readelf -d "$libdir/libuart.so.1" | grep -q 'SONAME.*\[libuart.so.1\]' || fail "libuart SONAME"

# Nothing but the staging prefix: no build tree, no system copy.
export PKG_CONFIG_PATH=$libdir/pkgconfig PKG_CONFIG_LIBDIR=$libdir/pkgconfig
pkg-config --print-requires tovrane | grep -q '^uart' || fail "tovrane.pc does not require uart"
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/by_pkgconfig" "$HERE/consumer/read_controller.c" $(pkg-config --cflags --libs tovrane)
cmake -S "$HERE/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cmake" >/dev/null
grep -q "$stage" "$work/cmake/CMakeCache.txt" || fail "find_package did not use the staging prefix"

export LD_LIBRARY_PATH=$libdir
"$stage/bin/tq318-sim" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do
  device=$(sed -n 's/^UART_COM1=//p' "$work/sim.out" | head -n 1)
  [[ -n ${device:-} ]] && break
  sleep 0.05
done
[[ -n ${device:-} ]] || fail "tq318-sim did not start: $(cat "$work/sim.err")"
export UART_COM1=$device
for program in "$work/by_pkgconfig" "$work/cmake/read_controller"; do
  ldd "$program" | grep -q "$libdir/libtovrane.so.1" || fail "$program does not load the staged library"
  out=$("$program") || fail "$program failed: $out"
  [[ $out == *"library 0111"*"IP "[0-9]* ]] || fail "$program printed: $out"
  echo "$(basename "$program"): $out"
done
echo "consumer test passed"
