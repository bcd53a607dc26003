#!/bin/sh
# Runs a test program inside a private network and mount namespace where the
# discovery host names lead to an HTTPS responder on 127.0.0.1:443, signed by
# a test certificate authority, behind real SOCKS5 proxies (microsocks).
# Usage: with_test_network.sh GEOIP_HOST MYIP_HOST PROGRAM [ARGS...]
# Exits 77 (skipped) when namespaces cannot be made (not root).
set -eu
if [ "${QUILLON_IN_TEST_NETNS:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] && unshare -m -n true 2>/dev/null || { echo "needs root; skipped" >&2; exit 77; }
  QUILLON_IN_TEST_NETNS=1 exec unshare -m -n -- /bin/sh "$0" "$@"
fi
geoip_host=$1 myip_host=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-net-XXXXXX")
pids=
trap 'kill $pids 2>/dev/null; rm -rf "$work"' EXIT
ip link set lo up
# microsocks resolves the names that curl sends it (socks5h) with this file.
printf '127.0.0.1 localhost %s %s\n' "$geoip_host" "$myip_host" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Test CA" -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=$geoip_host" -keyout server.key -out server.csr 2>/dev/null
printf 'subjectAltName=DNS:%s,DNS:%s\n' "$geoip_host" "$myip_host" >san.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext \
  -out server.pem 2>/dev/null
# Each server dies with this script, even when it is killed (--pdeathsig).
setpriv --pdeathsig KILL python3 "$here/https_responder.py" server.pem server.key 443 ready &
pids="$pids $!"
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -p 1080 >/dev/null 2>&1 &
pids="$pids $!"
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -p 1081 -u persona -P s3cret-pw >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 200); do  # about 10 s at most
  [ -e ready ] && bash -c 'exec 3<>/dev/tcp/127.0.0.1/1080 && exec 4<>/dev/tcp/127.0.0.1/1081' 2>/dev/null && break
  sleep 0.05
done
unset CURL_HOME XDG_CONFIG_HOME ALL_PROXY all_proxy HTTPS_PROXY https_proxy NO_PROXY no_proxy
export HOME="$work" CURL_CA_BUNDLE="$work/ca.pem" QUILLON_TEST_PROXY_PORT=1080 \
  QUILLON_TEST_AUTH_PROXY_PORT=1081 QUILLON_TEST_CLOSED_PORT=1082 QUILLON_TEST_PROXY_USER=persona \
  QUILLON_TEST_PROXY_PASSWORD=s3cret-pw
status=0
"$@" || status=$?
exit "$status"
