#!/usr/bin/env bash
# ./run.sh demo  - install what is missing, build, start the simulated controller and the wizard
# ./run.sh test  - install what is missing, build (plain and sanitized), run every test
# ./run.sh build - build only
# ./run.sh package - build (plain) and make the Debian packages and the win64 and win32 zips in build/packages
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=$(nproc)

PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev libgtest-dev libgmock-dev
          libmspack-dev libssl-dev gcab libboost-dev libserialport-dev lrzsz socat xvfb xauth
          fonts-liberation2 libcli11-dev nlohmann-json3-dev dpkg-dev lintian help2man file
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-i686
          wine wine64 xdotool imagemagick zip unzip)
# Wine's 32-bit side, for the win32 set's tests: an i386 package (multiarch).
FOREIGN_PACKAGES=(wine32:i386)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  missing=()
  for p in "${FOREIGN_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    # Without it the win32 set's Wine tests are left out (its configure says so).
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null ||
      echo "could not install ${missing[*]}: the win32 set is checked without Wine"
  fi
}

configure() { # configure DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
build() { # build DIR [cmake options...]
  local dir=$1; shift
  configure "$dir" "$@"
  cmake --build "$dir" -j "$JOBS"
}

# The Windows set, cross-built with mingw-w64; its tests run under Wine
# against the plain build's tq318-sim.
# build_windows SET (win64: build-win64, x86-64; win32: build-win32, i686)
build_windows() {
  local toolchain=x86_64
  [[ $1 == win32 ]] && toolchain=i686
  cmake -S "$ROOT/windows" -B "$ROOT/build-$1" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/windows/mingw-w64-$toolchain.cmake" -DTQ318_HOST_BIN="$ROOT/build/bin" >/dev/null
  cmake --build "$ROOT/build-$1" -j "$JOBS"
}

case "${1:-}" in
  build)
    install_missing
    build "$ROOT/build"
    ;;
  test)
    install_missing
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    build "$ROOT/build"
    (cd "$ROOT/build" && ctest --output-on-failure -j "$JOBS" --timeout 600)
    for set in win64 win32; do
      build_windows $set
      (cd "$ROOT/build-$set" && ctest --output-on-failure -j "$JOBS" --timeout 600)
    done
    build "$ROOT/build-asan" -DTQ318_SANITIZE=ON -DTQ318_BENCH=OFF
    (cd "$ROOT/build-asan" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$JOBS" --timeout 900)
    if [[ -x "$ROOT/fuzz/replay.sh" ]]; then "$ROOT/fuzz/replay.sh"; fi
    ;;
  demo)
    install_missing
    # Only what the demo runs: the two libraries, the wizard, the simulator
    # and the package maker.
    configure "$ROOT/build"
    cmake --build "$ROOT/build" -j "$JOBS" --target uart tovrane Pelorim tq318-sim tq318-make-package
    exec "$ROOT/tools/demo.sh" "$ROOT/build/bin"
    ;;
  package)
    install_missing
    build "$ROOT/build"
    (cd "$ROOT/build" && cpack -G DEB)
    for set in win64 win32; do
      build_windows $set
      (cd "$ROOT/build-$set" && cpack -G ZIP >/dev/null)
      cp "$ROOT"/build-$set/packages/tq318-kit-*-$set.zip "$ROOT/build/packages/"
    done
    ls -l "$ROOT"/build/packages/*.deb "$ROOT"/build/packages/*-win64.zip "$ROOT"/build/packages/*-win32.zip
    ;;
  *)
    echo "usage: $0 demo|test|build|package" >&2
    exit 2
    ;;
esac
