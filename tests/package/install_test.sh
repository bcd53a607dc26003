#!/bin/sh
# Builds the Debian package with cpack, unpacks it into a scratch root and runs
# the installed launcher on a persona: it must find its WebGL profiles (and
# the window companion, when the build has one) from the installed layout.
# Usage: install_test.sh BUILD_DIR HAS_WINDOW_COMPANION(0|1)
set -eu
build=$1
has_window=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "install_test: dpkg-dev is not installed; skipped" >&2
  exit 77
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
set -- "$work"/package/*.deb
[ $# = 1 ] && [ -f "$1" ] || fail "expected one .deb, got: $*"
deb=$1
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )curl($|[ ,])' || fail "no curl in Depends"
dpkg -x "$deb" "$work/root"

root=$work/root/usr
for file in bin/quillon-launcher share/quillon/quillon-webgl-profiles.json \
    share/man/man1/quillon-launcher.1.gz share/applications/quillon-launcher.desktop; do
  [ -s "$root/$file" ] || fail "not installed: /usr/$file"
done
if [ "$has_window" = 1 ]; then
  [ -x "$root/libexec/quillon/quillon-launcher-window" ] || fail "no window companion"
fi
gzip -t "$root/share/man/man1/quillon-launcher.1.gz" || fail "manual page is not gzip"

# A stand-in engine that writes its arguments, one a line, then the installed
# launcher started by its installed path with a persona naming a profile.
cat >"$work/engine" <<'ENGINE'
#!/bin/sh
for arg in "$@"; do printf '%s\n' "$arg"; done >"$0.args.part" && mv "$0.args.part" "$0.args"
ENGINE
chmod +x "$work/engine"
mkdir "$work/profile"
printf '{"webgl-profile":"macbook-pro-m2","start-page":"about:blank"}' >"$work/profile/command-line.json"
QUILLON_ENGINE_BIN=$work/engine "$root/bin/quillon-launcher" "--user-data-dir=$work/profile" \
  >"$work/out" 2>&1 </dev/null || { cat "$work/out" >&2; fail "installed launcher failed"; }
for tries in $(seq 100); do [ -f "$work/engine.args" ] || sleep 0.05; done
[ -f "$work/engine.args" ] || fail "the engine never started"
grep -qx -- '--webgl-vendor=Google Inc. (Apple)' "$work/engine.args" ||
  { cat "$work/engine.args" >&2; fail "the installed launcher did not find its WebGL profiles"; }
[ -s "$work/profile/.quillon-launcher-result.json" ] || fail "no result report"
echo "install_test: $(basename "$deb"), installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
