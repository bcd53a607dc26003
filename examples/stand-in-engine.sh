#!/bin/sh
# A stand-in for the browser engine: prints the command line it was given, to
# $QUILLON_DEMO_OUT when that names a file, else to standard error.
out=${QUILLON_DEMO_OUT:-/dev/stderr}
{
  echo "stand-in engine (pid $$, session $(ps -o sid= -p $$ | tr -d ' ')) received:"
  for arg in "$0" "$@"; do printf '  %s\n' "$arg"; done
} >"$out.part" && mv "$out.part" "$out"
