#!/usr/bin/env bash
# Runs the built launcher on the sample persona in a fresh profile and shows
# what the launcher deleted, what the engine received and what the launcher
# reported. Uses Debian's Chromium (the binary, not the /usr/bin/chromium
# wrapper, which reorders the arguments) as the engine with
# QUILLON_ENGINE_KIND=chromium and reads the persona back from inside its page;
# where Chromium is not installed, says so and uses a stand-in that prints its
# command line. Removes the profile it made.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo_engine.sh

profile=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-XXXXXX")
trap 'pkill -KILL -f -- "--user-data-dir=$profile" 2>/dev/null || true; rm -rf "$profile" "$profile".engine.* "$profile".show.json' EXIT
cp examples/persona/command-line.json "$profile/"
seeded=("Default/Cookies" "Default/Current Session" "Default/Sessions/Session_1"
        "ShaderCache/data_0" "Default/Local Storage/leveldb" "Default/Bookmarks")
for item in "${seeded[@]}"; do
  mkdir -p "$(dirname "$profile/$item")"
  touch "$profile/$item"
done

chromium=/usr/lib/chromium/chromium
if [[ -x $chromium ]]; then
  engine=$chromium
  kind=chromium
  # Headless and off the network: this is a demonstration, not a browsing session.
  extra=(--window-size=1280,800 --headless=new --disable-gpu --no-first-run --disable-background-networking
         --disable-component-update --disable-sync --remote-debugging-port=0)
  ((EUID != 0)) || extra+=(--no-sandbox)
else
  echo "Chromium is not installed ($chromium missing): the stand-in engine shows what it would receive"
  engine=$PWD/examples/stand-in-engine.sh
  kind=""
  extra=(--window-size=1280,800)
fi
export QUILLON_DEMO_OUT=$profile.engine.txt
log=$profile.engine.log

# What a launch of this persona does, as quillon-persona show says it (read before the launch).
QUILLON_ENGINE_KIND=$kind QUILLON_ENGINE_BIN=$engine build/quillon-persona --json show \
  "--user-data-dir=$profile" >"$profile.show.json"
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

show_engine cat
echo "Result report ($profile/.quillon-launcher-result.json):"
cat "$profile/.quillon-launcher-result.json"
echo
echo "A persona whose values come from its SOCKS5 proxy (scripts/demo-discovery.sh):"
# The reason of a skip or failure is on the line above this one.
status=0
QUILLON_ALLOW_SKIPS=1 bash scripts/demo-discovery.sh || status=$?
case $status in
  0) ;;
  77) echo "(that part was skipped, for the reason above)" ;;
  *) echo "(that part failed with status $status, for the reason above)"; exit "$status" ;;
esac
