#!/bin/sh
# Runs PROGRAM in private network and mount namespaces where both host names
# lead to the HTTPS responder on 127.0.0.1:443, behind real SOCKS5 proxies
# (microsocks) that connect out from 127.0.0.2. Without namespaces it says why
# and exits 77 (skipped), or 1 under CI=true unless QUILLON_ALLOW_SKIPS=1.
# Usage: with_test_network.sh GEOIP_HOST MYIP_HOST PROGRAM [ARGS...]
set -eu
if [ "${QUILLON_IN_TEST_NETNS:-}" != 1 ]; then
  why=""
  for userns in "" -r; do  # as root, else in a user namespace of its own
    if failed=$(unshare $userns -m -n true 2>&1); then
      QUILLON_IN_TEST_NETNS=1 exec unshare $userns -m -n -- /bin/sh "$0" "$@"
    fi
    why="${why:+$why; }unshare ${userns:+$userns }-m -n: $(echo "$failed" | tail -n 1)"
  done
  why="with_test_network: no private network (needs root or user namespaces): $why"
  if [ "${CI:-}" = true ] && [ "${QUILLON_ALLOW_SKIPS:-}" != 1 ]; then
    echo "$why; failed (CI=true, QUILLON_ALLOW_SKIPS=1 accepts the skip)" >&2
    exit 1
  fi
  echo "$why; skipped" >&2
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-net-XXXXXX")
layer=""
trap '[ -z "$layer" ] || umount -l /etc "$layer"; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
ip link set lo up
printf '127.0.0.1 localhost %s %s\n' "$1" "$2" >"$work/hosts"
# Both names lead here, in this mount namespace only. Without an /etc/hosts to
# bind over, /etc gets a writable layer of its own (on a tmpfs, gone with the
# namespace) where the file is made; the machine's /etc stays untouched.
if [ ! -e /etc/hosts ]; then
  layer=$work/layer
  mkdir "$layer"
  mount -t tmpfs tmpfs "$layer"
  mkdir "$layer/upper" "$layer/work"
  mount -t overlay overlay -o "lowerdir=/etc,upperdir=$layer/upper,workdir=$layer/work" /etc
  : >/etc/hosts
fi
mount --bind "$work/hosts" /etc/hosts
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=$1" \
  -addext "subjectAltName=DNS:$1,DNS:$2" -keyout "$work/key.pem" -out "$work/ca.pem" 2>/dev/null
shift 2
unset CURL_HOME XDG_CONFIG_HOME ALL_PROXY all_proxy HTTPS_PROXY https_proxy NO_PROXY no_proxy
export QUILLON_TEST_PROXY_PORT=1080 QUILLON_TEST_AUTH_PROXY_PORT=1081 QUILLON_TEST_CLOSED_PORT=1082 \
  QUILLON_TEST_PROXY_USER=persona QUILLON_TEST_PROXY_PASSWORD=s3cret-pw HOME="$work" \
  CURL_CA_BUNDLE="$work/ca.pem"
# Each server dies with this script.
setpriv --pdeathsig KILL "$(dirname "$0")/https_responder.py" "$work" 2>"$work/log" &
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -b 127.0.0.2 -p 1080 >/dev/null 2>&1 &
setpriv --pdeathsig KILL microsocks -i 127.0.0.1 -b 127.0.0.2 -p 1081 -u persona -P s3cret-pw \
  >/dev/null 2>&1 &
for port in 443 1080 1081; do  # each server listening within 10 s
  timeout 10 bash -c "until : 2>/dev/null <>/dev/tcp/127.0.0.1/$port; do sleep 0.05; done" ||
    { echo "with_test_network: nothing on port $port" >&2; exit 1; }
done
"$@"
