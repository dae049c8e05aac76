#!/bin/sh
# The guard passes a clean tree and fails one whose logic includes a toolkit or OS header.
set -eu
guard=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/src/nap" "$tree/src/linux"
printf '#include <vector>\n#include "platform/scheduler.h"\n' > "$tree/src/nap/clean.cpp"
printf '#include <QWidget>\n' > "$tree/src/linux/allowed.cpp"
"$guard" "$tree/src" || { echo "guard rejected a clean tree"; exit 1; }
for header in '<QTimer>' '<xcb/xcb.h>' '<unistd.h>' '<sys/stat.h>' '"X11/Xlib.h"'; do
  printf '#include %s\n' "$header" > "$tree/src/nap/dirty.cpp"
  if "$guard" "$tree/src" 2>/dev/null; then echo "guard let $header through"; exit 1; fi
done
echo "guard ok"
