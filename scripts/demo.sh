#!/usr/bin/env bash
# Runs the built launcher on the sample persona in a fresh profile and shows
# what the launcher deleted, what the engine received and what the launcher
# reported. Uses Debian's Chromium as the engine when it is installed, else a
# stand-in that prints its command line.
set -euo pipefail
cd "$(dirname "$0")/.."

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-XXXXXX")
cp examples/persona/command-line.json "$profile/"
seeded=("Default/Cookies" "Default/Current Session" "Default/Sessions/Session_1"
        "ShaderCache/data_0" "Default/Local Storage/leveldb" "Default/Bookmarks")
for item in "${seeded[@]}"; do
  mkdir -p "$(dirname "$profile/$item")"
  touch "$profile/$item"
done

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
export QUILLON_DEMO_OUT=$profile.engine.txt
log=$profile.engine.log

echo "Persona: examples/persona/command-line.json"
echo "\$ QUILLON_ENGINE_BIN=$engine build/quillon-launcher --user-data-dir=$profile ${extra[*]}"
status=0
QUILLON_ENGINE_BIN=$engine build/quillon-launcher "--user-data-dir=$profile" "${extra[@]}" \
  2>"$log" || status=$?
echo "Launcher exit status: $status"
((status == 0)) || { cat "$log"; exit "$status"; }
for item in "${seeded[@]}"; do
  if [[ -e $profile/$item ]]; then echo "  kept:    $item"; else echo "  deleted: $item"; fi
done

if [[ $engine == /usr/bin/chromium ]]; then
  # Debian's /usr/bin/chromium is a wrapper script that execs the browser;
  # wait (at most 5 s) until the browser itself runs under that process id.
  pid="" cmdline=""
  for _ in $(seq 50); do
    pid=$(pgrep -f -o -- "--user-data-dir=$profile" || true)
    if [[ -n $pid ]]; then
      cmdline=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null || true)
      [[ $cmdline == /usr/lib/chromium/* ]] && break
    fi
    sleep 0.1
  done
  if [[ -n $cmdline ]]; then
    echo "Chromium (pid $pid, session $(ps -o sid= -p "$pid" | tr -d ' ')) runs with (Debian's wrapper adds and reorders switches):"
    sed 's/^/  /' <<<"$cmdline"
  fi
  sleep 1
  pkill -f -- "--user-data-dir=$profile" || true
else
  for _ in $(seq 50); do
    [[ -f $QUILLON_DEMO_OUT ]] && break
    sleep 0.1
  done
  cat "$QUILLON_DEMO_OUT"
fi
echo "Result report ($profile/.quillon-launcher-result.json):"
cat "$profile/.quillon-launcher-result.json"
rm -f "$QUILLON_DEMO_OUT" "$log"

echo
echo "A persona whose values come from its SOCKS5 proxy (scripts/demo-discovery.sh):"
bash scripts/demo-discovery.sh || echo "(skipped: the private test network needs root or user namespaces)"
