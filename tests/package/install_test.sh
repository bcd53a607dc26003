#!/bin/sh
# Builds the Debian package with cpack, unpacks it into a scratch root and runs the
# installed launcher on a persona: it must find its WebGL profiles from there.
# Usage: install_test.sh BUILD_DIR HAS_WINDOW_COMPANION(0|1)
set -eu
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
cpack --config "$1/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$work"/package/*.deb)
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )curl($|[ ,])' || fail "no curl in Depends"
dpkg -x "$deb" "$work/root"
root=$work/root/usr
for file in bin/quillon-launcher share/quillon/quillon-webgl-profiles.json \
    share/man/man1/quillon-launcher.1.gz share/applications/quillon-launcher.desktop; do
  [ -s "$root/$file" ] || fail "not installed: /usr/$file"
done
[ "$2" = 0 ] || [ -x "$root/libexec/quillon/quillon-launcher-window" ] || fail "no window companion"
# An engine that prints its arguments to a FIFO, read until it and the launcher close it.
printf '#!/bin/sh\nprintf "%%s\\n" "$@"\n' >"$work/engine" && chmod +x "$work/engine"
printf '{"webgl-profile":"macbook-pro-m2"}' >"$work/command-line.json" && mkfifo "$work/out"
QUILLON_ENGINE_BIN=$work/engine "$root/bin/quillon-launcher" "--user-data-dir=$work" \
  >"$work/out" 2>&1 </dev/null &
out=$(timeout 10 cat "$work/out") && wait $! || fail "the installed launcher failed: $out"
printf '%s\n' "$out" | grep -qx -- '--webgl-vendor=Google Inc. (Apple)' ||
  fail "the installed launcher did not find its WebGL profiles: $out"
echo "install_test: $(basename "$deb"), installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
