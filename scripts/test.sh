#!/bin/sh
# Runs every test with a temporary HOME and XDG folders, so the user's own files are never touched.
# Tests that need a display or a bus start their own private Xvfb and D-Bus.
set -eu
build=${1:-build}
scratch=$(mktemp -d /tmp/tovami-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/config" "$scratch/data" "$scratch/cache" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
  XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
