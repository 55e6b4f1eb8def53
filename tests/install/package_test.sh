#!/usr/bin/env bash
# Builds the two Debian packages from this build into a scratch folder and
# checks them: file lists, SONAME links, control fields, lintian (errors,
# warnings and misspellings fail), and the extracted programs running from
# the extracted libraries. The packages are only extracted (dpkg-deb -x),
# never installed.
# usage: package_test.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
kit=$(ls "$work"/out/tq318-kit_*.deb)
dev=$(ls "$work"/out/libtovrane-dev_*.deb)
version=$(sed -n 's/^project(tq318_repair_kit VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[[ $(dpkg-deb -f "$kit" Version) == "$version-1" ]] || fail "kit version $(dpkg-deb -f "$kit" Version), project $version"

has() { # has DEB PATH...  every path is in the package
  local deb=$1; shift
  local list; list=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
  for p in "$@"; do grep -qxF "$p" <<<"$list" || fail "$(basename "$deb") lacks $p"; done
}
lacks() { # lacks DEB REGEX  no path matches
  if dpkg-deb -c "$deb_for_lacks" | awk '{print $6}' | grep -qE "$1"; then fail "$(basename "$deb_for_lacks") holds $1"; fi
}
lib=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
has "$kit" /usr/bin/Pelorim /usr/bin/tovctl /usr/bin/tq318-sim /usr/bin/tq318-make-package \
  "$lib/libtovrane.so.1" "$lib/libuart.so.1" "$lib/libtovrane.so.$version" "$lib/libuart.so.$version" \
  /usr/share/man/man1/tovctl.1.gz /usr/share/man/man1/tq318-sim.1.gz \
  /usr/share/man/man1/tq318-make-package.1.gz /usr/share/man/man1/Pelorim.1.gz \
  /usr/share/applications/pelorim.desktop /usr/share/icons/hicolor/scalable/apps/pelorim.svg \
  /usr/lib/udev/rules.d/60-tq318-ftdi-latency.rules \
  /usr/share/doc/tq318-kit/copyright /usr/share/doc/tq318-kit/changelog.Debian.gz
deb_for_lacks=$kit; lacks '(\.so|\.h|\.pc)$'
has "$dev" /usr/include/tq318/tovrane.h /usr/include/tq318/uart.h "$lib/libtovrane.so" "$lib/libuart.so" \
  "$lib/pkgconfig/tovrane.pc" "$lib/pkgconfig/uart.pc" "$lib/cmake/Tovrane/TovraneConfig.cmake" \
  /usr/share/doc/libtovrane-dev/copyright
deb_for_lacks=$dev; lacks '\.so\.[0-9]|/bin/'

depends=$(dpkg-deb -f "$kit" Depends)
for d in libc6 libqt6widgets6 libmspack0 libserialport0; do
  [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done
[[ $(dpkg-deb -f "$kit" Recommends) == *fonts-liberation2* ]] || fail "Recommends lacks fonts-liberation2"
[[ $(dpkg-deb -f "$dev" Depends) == "tq318-kit (= $version-1)" ]] || fail "dev Depends: $(dpkg-deb -f "$dev" Depends)"
[[ $(dpkg-deb -f "$kit" Maintainer) == *"@"*".invalid>" ]] || fail "Maintainer"
grep -q "MIT" <(dpkg-deb --fsys-tarfile "$kit" | tar -xO ./usr/share/doc/tq318-kit/copyright) || fail "copyright is not MIT"

# Lintian, where it is installed: no error, no warning and no misspelling;
# what it reports on purpose is overridden in the package with its reason.
has "$kit" /usr/share/lintian/overrides/tq318-kit
has "$dev" /usr/share/lintian/overrides/libtovrane-dev
if command -v lintian >/dev/null 2>&1; then
  lintian --allow-root --info --tag-display-limit 0 "$kit" "$dev" >"$work/lintian.txt" 2>&1 || true
  cat "$work/lintian.txt"
  if grep -q '^E:' "$work/lintian.txt"; then fail "lintian errors"; fi
  if grep -q '^W:' "$work/lintian.txt"; then fail "lintian warnings"; fi
  if grep -q 'spelling-error' "$work/lintian.txt"; then fail "lintian finds misspellings"; fi
  if grep -qE 'unused-override|mismatched-override' "$work/lintian.txt"; then fail "lintian overrides that match nothing"; fi
else
  echo "NOTE: lintian is not installed: the packages were not checked with it"
fi

# The extracted files run from each other, stripped and without the build tree.
root=$work/root
dpkg-deb -x "$kit" "$root"
file -L "$root/usr/bin/tovctl" | grep -q 'stripped' && ! file -L "$root/usr/bin/tovctl" | grep -q 'not stripped' || fail "tovctl not stripped"
ldd_out=$(LD_LIBRARY_PATH="$root$lib" ldd "$root/usr/bin/tovctl")
grep -q "$root$lib/libuart.so.1" <<<"$ldd_out" || fail "tovctl does not take the extracted library: $ldd_out"
ldd_out=$(LD_LIBRARY_PATH="$root$lib" ldd "$root$lib/libtovrane.so.1")
grep -q "$root$lib/libuart.so.1" <<<"$ldd_out" || fail "libtovrane does not take the extracted libuart: $ldd_out"
[[ $(LD_LIBRARY_PATH="$root$lib" "$root/usr/bin/tovctl" --version) == "tovctl $version" ]] || fail "tovctl --version"
[[ $("$root/usr/bin/tq318-sim" --version) == "tq318-sim $version" ]] || fail "tq318-sim --version"
[[ $("$root/usr/bin/tq318-make-package" --version) == "tq318-make-package $version" ]] || fail "tq318-make-package --version"
zcat "$root/usr/share/man/man1/tovctl.1.gz" | grep -q '^\.SH' || fail "tovctl man page"
grep -q '^Exec=Pelorim$' "$root/usr/share/applications/pelorim.desktop" || fail "desktop Exec"
rule="$root/usr/lib/udev/rules.d/60-tq318-ftdi-latency.rules"
grep -q 'DRIVERS=="ftdi_sio".*ATTR{latency_timer}="1"' "$rule" || fail "udev rule for ftdi_sio's latency timer"
if command -v udevadm >/dev/null 2>&1; then
  if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rule" || fail "udevadm verify refuses the udev rule"
  fi
fi
ls -la "$work"/out/*.deb
echo "package test passed"
