#!/usr/bin/env bash
# The discovery path on a sample persona whose values come from its proxy:
# runs inside a private network (tests/discovery/with_test_network.sh) where a
# real SOCKS5 server (microsocks, with a login) leads to a local geo-IP
# responder. With Debian's Chromium as the engine (QUILLON_ENGINE_KIND=chromium)
# it shows what the page has and what Chromium cannot carry; without it, the
# values a stand-in engine received. Then the report.
# Needs root, or unprivileged user namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo_engine.sh

if [[ ${QUILLON_IN_TEST_NETNS:-} != 1 ]]; then
  exec /bin/sh tests/discovery/with_test_network.sh geo.quillon.test ip.quillon.test \
    /bin/bash "$0" "$@"
fi

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-discovery-XXXXXX")
trap 'pkill -KILL -f -- "--user-data-dir=$profile" 2>/dev/null || true; rm -rf "$profile" "$profile".engine.txt "$profile".show.json' EXIT
sed "s/127.0.0.1:1081/127.0.0.1:$QUILLON_TEST_AUTH_PROXY_PORT/" \
  examples/discovery-persona/command-line.json >"$profile/command-line.json"
export QUILLON_DEMO_OUT=$profile.engine.txt

chromium=/usr/lib/chromium/chromium
if [[ -x $chromium ]]; then
  engine=$chromium
  kind=chromium
  extra=(--headless=new --disable-gpu --no-first-run --disable-background-networking
         --disable-component-update --disable-sync --remote-debugging-port=0)
  ((EUID != 0)) || extra+=(--no-sandbox)
else
  engine=$PWD/examples/stand-in-engine.sh
  kind=""
  extra=()
fi
QUILLON_ENGINE_KIND=$kind QUILLON_ENGINE_BIN=$engine build/quillon-persona --json show \
  "--user-data-dir=$profile" >"$profile.show.json"

echo "Persona: examples/discovery-persona/command-line.json (auto-timezone, auto-lang, auto-geo,"
echo "webrtc-no-leak through socks5://persona:…@127.0.0.1:$QUILLON_TEST_AUTH_PROXY_PORT)"
status=0
QUILLON_ENGINE_KIND=$kind QUILLON_ENGINE_BIN=$engine build/quillon-launcher \
  "--user-data-dir=$profile" "${extra[@]}" 2>"$profile.engine.txt" || status=$?
echo "Launcher exit status: $status"
((status == 0)) || { cat "$profile.engine.txt"; exit "$status"; }
# The stand-in's switches that carry what the proxy gave.
from_the_proxy() {
  grep -E -- '--(webrtc|force-webrtc|timezone|lang|accept-language|geo)' |
    sed 's/^ */  from the proxy, for the product'"'"'s engine: /' || true
}
show_engine from_the_proxy
echo "Result report:"
cat "$profile/.quillon-launcher-result.json"
