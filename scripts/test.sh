#!/bin/sh
# Runs every test with a temporary HOME and XDG folders, so the user's own files are never touched.
# Tests that need a display or a bus start their own private Xvfb and D-Bus.
# test.sh BUILD [SANITIZED_BUILD]: the second tree (address and undefined-behaviour sanitizers,
# fuzz targets when built with clang) runs after the first; the last line counts both.
set -eu
plain=$(cd "${1:-build}" && pwd)
sanitized=${2:+$(cd "$2" && pwd)}
scratch=$(mktemp -d /tmp/tovami-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/config" "$scratch/data" "$scratch/cache" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
  XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

passed=0
failed=0
breakdown=""
# run_ctest TITLE DIR: runs one tree's tests and adds its counts (no summary line counts as a failure).
run_ctest() {
  log="$scratch/$(basename "$2").log"
  echo "== $1 ($(basename "$2"))"
  # Progress as ctest prints it, without its closing lines (the combined count comes last).
  (cd "$2" && ctest --output-on-failure -j "$(nproc)" --timeout 600 2>&1 || true) | tee "$log" |
    grep -v -e '^[0-9]*% tests passed' -e '^Total Test time' || true
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$summary" ]; then
    total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
    bad=$(echo "$summary" | sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/')
  else
    total=1 bad=1
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  breakdown="$breakdown; $1 $((total - bad))/$total"
}

run_ctest "plain build" "$plain"
if [ -n "$sanitized" ]; then
  rm -rf "$sanitized/fuzz/summaries"
  run_ctest "sanitized build" "$sanitized"
  for summary in "$sanitized"/fuzz/summaries/*.txt; do
    [ -f "$summary" ] && cat "$summary"
  done
fi
echo "Passed per tree: ${breakdown#; }"
total=$((passed + failed))
echo "$((total ? passed * 100 / total : 0))% tests passed, $failed tests failed out of $total"
[ "$failed" -eq 0 ]
