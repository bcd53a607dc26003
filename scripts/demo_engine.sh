# Sourced by the demos, after the launch: what the engine has. With Chromium,
# what its page shows (demo_page.py waits, at most 5 s, for the browser the
# launcher started); with the stand-in engine, its record once written, through
# the command given (show_engine cat).
show_engine() {
  if [[ $engine == "$chromium" ]]; then
    python3 scripts/demo_page.py "$profile" "$profile.show.json" ||
      echo "(the page could not be read: see above)"
    sleep 1
  else
    for _ in $(seq 50); do
      [[ -f $QUILLON_DEMO_OUT ]] && break
      sleep 0.1
    done
    "$@" <"$QUILLON_DEMO_OUT"
  fi
}
