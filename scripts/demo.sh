#!/usr/bin/env bash
# Runs the built launcher on the sample persona in a fresh profile and shows
# what the launcher deleted, what the engine received and what the launcher
# reported. Uses Debian's Chromium as the engine (QUILLON_ENGINE_KIND=chromium)
# when it is installed and reads the persona back from inside its page, else a
# stand-in that prints its command line. Removes the profile it made.
set -euo pipefail
cd "$(dirname "$0")/.."

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-XXXXXX")
trap 'pkill -KILL -f -- "--user-data-dir=$profile" 2>/dev/null || true; rm -rf "$profile" "$profile".engine.*' EXIT
cp examples/persona/command-line.json "$profile/"
seeded=("Default/Cookies" "Default/Current Session" "Default/Sessions/Session_1"
        "ShaderCache/data_0" "Default/Local Storage/leveldb" "Default/Bookmarks")
for item in "${seeded[@]}"; do
  mkdir -p "$(dirname "$profile/$item")"
  touch "$profile/$item"
done

if [[ -x /usr/bin/chromium ]]; then
  engine=/usr/bin/chromium
  kind=chromium
  # Headless and off the network: this is a demonstration, not a browsing session.
  extra=(--headless=new --disable-gpu --no-first-run --disable-background-networking
         --disable-component-update --disable-sync --remote-debugging-port=0)
  ((EUID != 0)) || extra+=(--no-sandbox)
else
  engine=$PWD/examples/stand-in-engine.sh
  kind=""
  extra=()
fi
export QUILLON_DEMO_OUT=$profile.engine.txt
log=$profile.engine.log

echo "Persona: examples/persona/command-line.json"
echo "\$ ${kind:+QUILLON_ENGINE_KIND=$kind }QUILLON_ENGINE_BIN=$engine build/quillon-launcher --user-data-dir=$profile ${extra[*]}"
status=0
QUILLON_ENGINE_KIND=$kind QUILLON_ENGINE_BIN=$engine build/quillon-launcher "--user-data-dir=$profile" "${extra[@]}" \
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
  # The persona as the page sees it, through the DevTools port Chromium opened.
  python3 - "$profile" "$cmdline" <<'PY' || true
import os, sys, time
sys.path.insert(0, "tests/browser")
from chromium_persona_test import DevTools
port_file = os.path.join(sys.argv[1], "DevToolsActivePort")
for _ in range(50):
    if os.path.exists(port_file) and len(open(port_file).read().split()) == 2:
        break
    time.sleep(0.1)
port, path = open(port_file).read().split()
devtools = DevTools(int(port), path)
page = devtools.pages()[0]
zone, languages = devtools.evaluate(
    page, "[Intl.DateTimeFormat().resolvedOptions().timeZone, navigator.languages]")
proxy = [a.split("=", 1)[1] for a in sys.argv[2].split("\n") if a.startswith("--proxy-server=")]
print("The persona in the browser: time zone %s (this machine: %s), languages %s, proxy %s"
      % (zone, time.tzname[0], ",".join(languages), proxy[0] if proxy else "none"))
devtools.call("Browser.close")
PY
  sleep 1
else
  for _ in $(seq 50); do
    [[ -f $QUILLON_DEMO_OUT ]] && break
    sleep 0.1
  done
  cat "$QUILLON_DEMO_OUT"
fi
echo "Result report ($profile/.quillon-launcher-result.json):"
cat "$profile/.quillon-launcher-result.json"
echo
echo "A persona whose values come from its SOCKS5 proxy (scripts/demo-discovery.sh):"
bash scripts/demo-discovery.sh || echo "(skipped: the private test network needs root or user namespaces)"
