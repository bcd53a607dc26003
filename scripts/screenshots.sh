#!/usr/bin/env bash
# Takes the README's pictures of the progress window and the fatal alert from
# the built launcher under a virtual X server, framed by a window manager
# (Debian's xvfb, xauth, openbox, xdotool, x11-apps, netpbm, python3): docs/progress-window.png, docs/failed-step.png,
# docs/fatal-alert.png.
#   bash scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -z ${QUILLON_SCREENSHOTS_DISPLAY:-} ]]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
    env QUILLON_SCREENSHOTS_DISPLAY=1 bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillon-shots-XXXXXX")
trap 'kill ${proxy_pid:-} ${wm_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/xdg QUILLON_ENGINE_BIN=/bin/true
mkdir -p "$HOME" docs
# Title and close button only, as desktops that honour the windows' hints show
# them (openbox ignores the hints and would add minimise and maximise).
cat >"$work/rc.xml" <<'XML'
<openbox_config xmlns="http://openbox.org/3.4/rc"><theme><titleLayout>LC</titleLayout></theme></openbox_config>
XML
openbox --config-file "$work/rc.xml" >/dev/null 2>&1 &
wm_pid=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window && break; sleep 0.1; done

# A SOCKS5 "proxy" that accepts and never answers keeps the probe waiting.
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True); time.sleep(60)' >"$work/port" &
proxy_pid=$!
for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
silent=socks5://127.0.0.1:$(cat "$work/port")

# The window manager's frame around a client window.
frame_of() {
  local id=$1 root parent
  root=$(xwininfo -root | awk '/Window id:/{print $4}')
  for _ in 1 2 3 4; do
    parent=$(xwininfo -tree -id "$id" | awk '/Parent window id:/{print $4}')
    [[ $parent == "$root" ]] && break
    id=$parent
  done
  echo "$id"
}

# Waits for a window by title, then writes it with its frame as a PNG.
shoot() {
  local id
  id=$(xdotool search --sync --onlyvisible --name "$1" | head -1)
  sleep "$2"  # let the state to show settle
  xwd -silent -id "$(frame_of "$id")" | xwdtopnm 2>/dev/null | pnmtopng >"$3"
  echo "wrote $3"
}

persona() {
  mkdir -p "$work/$1"
  printf '%s\n' "$2" >"$work/$1/command-line.json"
}

persona overrides '{"proxy-server":"'"$silent"'","webrtc-no-leak":true,"auto-geo":true,
  "auto-timezone":true,"lang":"de-DE","on-proxy-fail":"block","_comment":"Berlin persona",
  "chrome-command-line":{"--proxy-server":"'"$silent"'","--disable-gpu":true,
  "--force-device-scale-factor":"1","--mute-audio":"off"}}'
build/quillon-launcher "--user-data-dir=$work/overrides" &
pid=$!
shoot "Preparing Quillon Browser" 0.5 docs/progress-window.png
kill "$pid"; wait "$pid" 2>/dev/null || true

persona failed '{"proxy-server":"socks5://127.0.0.1:9","auto-timezone":true,
  "on-proxy-fail":"block","start-page":"https://example.org/"}'
build/quillon-launcher "--user-data-dir=$work/failed" &
pid=$!
shoot "Preparing Quillon Browser" 0.8 docs/failed-step.png
wait "$pid" || echo "launcher exit status: $?"

QUILLON_ENGINE_BIN="/opt/quillon/Contents/MacOS/Quillon Browser Engine" build/quillon-launcher &
pid=$!
shoot "Quillon Browser" 0.3 docs/fatal-alert.png
xdotool key Return
wait "$pid" || echo "launcher exit status: $?"
