#!/bin/sh
# Runs PROGRAM in a private network and mount namespace where both host names
# lead to an HTTPS responder on 127.0.0.1:443 (test CA) behind real SOCKS5
# proxies (microsocks) that connect out from 127.0.0.2; the responder answers
# only requests that came through them, with $QUILLON_TEST_ANSWERS/geoip or
# /myip when a test writes them. Exits 77 when namespaces cannot be made.
# Usage: with_test_network.sh GEOIP_HOST MYIP_HOST PROGRAM [ARGS...]
set -eu

if [ "${QUILLON_IN_TEST_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" = 0 ] && unshare -m -n true 2>/dev/null; then
    QUILLON_IN_TEST_NETNS=1 exec unshare -m -n -- /bin/sh "$0" "$@"
  elif unshare -r -m -n true 2>/dev/null; then
    QUILLON_IN_TEST_NETNS=1 exec unshare -r -m -n -- /bin/sh "$0" "$@"
  fi
  echo "with_test_network: cannot create namespaces (needs root or user namespaces); skipped" >&2
  exit 77
fi

geoip_host=$1
myip_host=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-net-XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Waits at most about 10 s until the command succeeds.
wait_until() {
  tries=0
  until "$@" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 200 ] || { echo "with_test_network: gave up waiting for: $*" >&2; exit 1; }
    sleep 0.05
  done
}

listening() { bash -c "exec 3<>/dev/tcp/127.0.0.1/$1"; }

ip link set lo up

# Host names resolve to loopback, above all for microsocks (socks5h).
printf '127.0.0.1 localhost\n127.0.0.1 %s\n127.0.0.1 %s\n' "$geoip_host" "$myip_host" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillon Test CA" \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=$geoip_host" \
  -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
printf 'subjectAltName=DNS:%s,DNS:%s\n' "$geoip_host" "$myip_host" >"$work/san.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
  -CAcreateserial -days 2 -extfile "$work/san.ext" -out "$work/server.pem" 2>/dev/null

# Each server dies with this script (setpriv --pdeathsig).
setpriv --pdeathsig KILL /usr/bin/python3 "$here/https_responder.py" "$work/server.pem" \
  "$work/server.key" 443 "$work/responder.ready" "$work/answers" >"$work/responder.log" 2>&1 &

proxy_port=1080 auth_port=1081 closed_port=1082 proxy_user=persona proxy_password=s3cret-pw
mkdir "$work/answers"
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -b 127.0.0.2 -p "$proxy_port" >"$work/socks.log" 2>&1 &
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -b 127.0.0.2 -p "$auth_port" -u "$proxy_user" \
  -P "$proxy_password" >"$work/socks-auth.log" 2>&1 &

wait_until test -e "$work/responder.ready"
wait_until listening "$proxy_port"
wait_until listening "$auth_port"

mkdir "$work/home"
unset CURL_HOME XDG_CONFIG_HOME ALL_PROXY all_proxy HTTPS_PROXY https_proxy NO_PROXY no_proxy
export HOME="$work/home"
export CURL_CA_BUNDLE="$work/ca.pem"
export QUILLON_TEST_PROXY_PORT="$proxy_port" QUILLON_TEST_AUTH_PROXY_PORT="$auth_port" \
  QUILLON_TEST_CLOSED_PORT="$closed_port" QUILLON_TEST_PROXY_USER="$proxy_user" \
  QUILLON_TEST_PROXY_PASSWORD="$proxy_password" QUILLON_TEST_ANSWERS="$work/answers"
"$@"
