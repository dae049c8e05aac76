#!/bin/sh
# Fails when logic code (everything under src/ except the backends in src/linux and src/macos: app, nap, agents,
# peers, approvals, island, pixel_art, onboarding, platform, remote) includes a toolkit,
# window-system or OS-specific header. The logic must build for any platform.
src=${1:-src}
hits=$(find "$src" -name '*.h' -o -name '*.cpp' | grep -v "^$src/linux/" | grep -v "^$src/macos/" |
  xargs grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]+|qt[a-z]*/|xcb/|X11/|unistd\.h|sys/|fcntl\.h|dirent\.h|pwd\.h|poll\.h|signal\.h|spawn\.h|dlfcn\.h|dbus|systemd/|security/|canberra|curl/|CoreFoundation|Cocoa|AppKit|Carbon|IOKit|windows\.h)' 2>/dev/null)
if [ -n "$hits" ]; then
  echo "Logic code includes platform headers (move this into the backend, src/linux or src/macos):" >&2
  echo "$hits" >&2
  exit 1
fi
exit 0
