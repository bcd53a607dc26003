#!/bin/sh
# Runs drive_persona_test.mjs with the Node and the clients that scripts/setup.sh test installs
# into CLIENTS_DIR, under a virtual X server for the headful runs. Without them it says what is
# missing and exits 77 (skipped).
# Usage: with_clients.sh CLIENTS_DIR BROWSER
set -eu
node=$1/node_modules/node/bin/node
for need in "$node" "$1/node_modules/playwright-core" "$1/node_modules/puppeteer-core" \
  "$1/node_modules/selenium-webdriver" /usr/bin/chromedriver /usr/lib/chromium/chromium; do
  [ -e "$need" ] || {
    echo "automation clients: $need is missing (bash scripts/setup.sh test installs it); skipped"
    exit 77
  }
done
exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  "$node" "$(dirname "$0")/drive_persona_test.mjs" "$2" "$1"
