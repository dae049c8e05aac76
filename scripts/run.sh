#!/bin/sh
# Starts Tovami on the current display. Without one, runs it in a private virtual X server with a
# private D-Bus session and a private home, walks through what it shows, and leaves screenshots and
# the log in a folder it names.
set -eu
binary=${1:-build/tovami}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Starting Tovami on ${DISPLAY:-$WAYLAND_DISPLAY}: its menu is the tray item, Ctrl+Alt+N naps, Ctrl+Alt+A opens the island; Ctrl+C here ends it."
  exec "$binary"
fi
exec /usr/bin/python3 "$(dirname "$0")/run_headless.py" "$binary"
