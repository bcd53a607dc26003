#!/usr/bin/env bash
# Runs the built launcher on the sample persona in a fresh profile and shows
# what the engine received and what the launcher reported. Uses Debian's
# Chromium as the engine when it is installed, else a stand-in that prints
# its command line.
set -euo pipefail
cd "$(dirname "$0")/.."

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-XXXXXX")
cp examples/persona/command-line.json "$profile/"
mkdir -p "$profile/Default/Sessions" "$profile/ShaderCache"
touch "$profile/Default/Cookies" "$profile/Default/Current Session" "$profile/Default/Bookmarks"

if [[ -x /usr/bin/chromium ]]; then
  engine=/usr/bin/chromium
  # Headless and off the network: this is a demonstration, not a browsing session.
  extra=(--headless=new --disable-gpu --no-first-run --disable-background-networking
         --disable-component-update --disable-sync)
  ((EUID != 0)) || extra+=(--no-sandbox)
else
  engine=$PWD/examples/stand-in-engine.sh
  extra=()
fi

echo "Profile before: $(cd "$profile" && find . -mindepth 1 | sort | tr '\n' ' ')"
echo "\$ QUILLON_ENGINE_BIN=$engine build/quillon-launcher --user-data-dir=$profile ${extra[*]}"
status=0
export QUILLON_DEMO_OUT=$profile.engine.txt
QUILLON_ENGINE_BIN=$engine build/quillon-launcher "--user-data-dir=$profile" "${extra[@]}" || status=$?
echo "launcher exit status: $status"

if [[ $engine == /usr/bin/chromium ]]; then
  pid=""
  for _ in $(seq 50); do
    pid=$(pgrep -f -o -- "--user-data-dir=$profile" || true)
    [[ -n $pid ]] && break
    sleep 0.1
  done
  if [[ -n $pid ]]; then
    echo "chromium (pid $pid) received:"
    tr '\0' '\n' <"/proc/$pid/cmdline" | sed 's/^/  /'
    sleep 2
    pkill -f -- "--user-data-dir=$profile" || true
  fi
else
  for _ in $(seq 50); do
    [[ -f $QUILLON_DEMO_OUT ]] && break
    sleep 0.1
  done
  cat "$QUILLON_DEMO_OUT"
  rm -f "$QUILLON_DEMO_OUT"
fi
echo "Profile after:  $(cd "$profile" && find . -mindepth 1 | sort | tr '\n' ' ')"
echo "Result report:"
cat "$profile/.quillon-launcher-result.json"
