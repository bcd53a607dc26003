#!/usr/bin/env bash
# The discovery path on a sample persona whose values come from its proxy:
# runs inside a private network (tests/discovery/with_test_network.sh) where a
# real SOCKS5 server (microsocks, with a login) leads to a local geo-IP
# responder, and shows the values the engine received and the report.
# Needs root, or unprivileged user namespaces.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${QUILLON_IN_TEST_NETNS:-} != 1 ]]; then
  exec /bin/sh tests/discovery/with_test_network.sh geo.quillon.test ip.quillon.test \
    /bin/bash "$0" "$@"
fi

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-discovery-XXXXXX")
trap 'rm -rf "$profile" "$profile.engine.txt"' EXIT
sed "s/127.0.0.1:1081/127.0.0.1:$QUILLON_TEST_AUTH_PROXY_PORT/" \
  examples/discovery-persona/command-line.json >"$profile/command-line.json"
export QUILLON_DEMO_OUT=$profile.engine.txt

echo "Persona: examples/discovery-persona/command-line.json (auto-timezone, auto-lang, auto-geo,"
echo "webrtc-no-leak through socks5://persona:…@127.0.0.1:$QUILLON_TEST_AUTH_PROXY_PORT)"
status=0
QUILLON_ENGINE_BIN=$PWD/examples/stand-in-engine.sh build/quillon-launcher \
  "--user-data-dir=$profile" || status=$?
echo "Launcher exit status: $status"
for _ in $(seq 50); do
  [[ -f $QUILLON_DEMO_OUT ]] && break
  sleep 0.1
done
grep -E -- '--(webrtc|force-webrtc|timezone|lang|accept-language|geo)' "$QUILLON_DEMO_OUT" |
  sed 's/^ */  from the proxy: /' || true
echo "Result report:"
cat "$profile/.quillon-launcher-result.json"
