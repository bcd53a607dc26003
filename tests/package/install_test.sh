#!/bin/sh
# Builds the Debian package with cpack, unpacks it into a scratch root and runs the installed
# launcher on a persona: it must find its WebGL profiles and its relay from there.
# Usage: install_test.sh BUILD_DIR HAS_WINDOW_COMPANION(0|1)
set -eu
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
cpack --config "$1/CPackConfig.cmake" -G DEB -B "$work/package" >&2
deb=$(echo "$work"/package/*.deb)
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )curl($|[ ,])' || fail "no curl in Depends"
dpkg -x "$deb" "$work"
! readelf -lW "$work/usr/bin/quillon-launcher" | grep -Eq 'INTERP|DYNAMIC' || fail "the launcher is not static"
for file in share/man/man1/quillon-launcher.1.gz share/man/man1/quillon-persona.1.gz \
  share/applications/quillon-launcher.desktop; do
  [ -s "$work/usr/$file" ] || fail "not installed: /usr/$file"
done
[ "$2" = 0 ] || [ -x "$work/usr/libexec/quillon/quillon-launcher-window" ] || fail "no companion"
# A proxy login for a stock Chromium goes through the installed relay.
# The engine (echo) prints its arguments to a FIFO, read until it and the launcher close it.
printf '{"webgl-profile":"macbook-pro-m2","proxy-server":"socks5://u:p@127.0.0.1:9"}' >"$work/command-line.json" && mkfifo "$work/out"
QUILLON_ENGINE_KIND=chromium QUILLON_ENGINE_BIN=/bin/echo "$work/usr/bin/quillon-launcher" "--user-data-dir=$work" \
  >"$work/out" 2>&1 </dev/null &
out=$(timeout 10 cat "$work/out") && wait $! || fail "the installed launcher failed: $out"
echo "$out" | grep -qF -- '--webgl-vendor=Google Inc. (Apple) --' || fail "no WebGL profiles: $out"
echo "$out" | grep -qF -- '--proxy-server=socks5://127.0.0.1:' || fail "no relay: $out"
[ "$(readlink "$work/usr/bin/quillon-browser")" = quillon-launcher ] || fail "no quillon-browser link"
# The installed tool describes the installed launcher: same directory, same profiles file.
QUILLON_ENGINE_BIN=/bin/echo "$work/usr/bin/quillon-persona" show "--user-data-dir=$work" |
  grep -qF -- '--webgl-vendor=Google Inc. (Apple)' || fail "quillon-persona does not see the profiles"
echo "install_test: $(basename "$deb"), installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
