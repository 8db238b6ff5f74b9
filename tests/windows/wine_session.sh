#!/bin/sh
# start: runs one persistent wineserver for the whole test run and creates or updates the prefix
# it serves (about 10 s the first time). stop: ends that server and its helper processes, which
# ending the server's process alone would leave behind. WINESERVER and WINE64 name the 64-bit
# server and loader, which run on every x86-64 machine; their prefix also serves 32-bit programs.
# The server and its services outlive this script: they get a log file, not the caller's output,
# which CTest would otherwise wait on until they end.
set -eu
log="$WINEPREFIX/session.log"
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    if ! { "$WINESERVER" -p && "$WINE64" wineboot; } </dev/null >"$log" 2>&1; then
      cat "$log" >&2
      exit 1
    fi
    ;;
  stop)
    "$WINESERVER" -k
    ;;
  *)
    echo "usage: wine_session.sh start|stop" >&2
    exit 2
    ;;
esac
