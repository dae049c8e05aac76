#!/bin/sh
# The entry's package on a server: installs tovami-cli_<version>_<arch>.deb with apt into a minimal
# Debian 12 (debootstrap minbase: no Qt, no X), then checks that nothing of a desktop came with it and
# that the remote side a desktop starts over ssh (`tovami --remote-stream`) says its hello there, and
# that a hook and a listing run. Needs root (chroot, mount).
# package-test-headless.sh DEB. The finished chroot is kept as build-tools/headless-bookworm.tar.gz
# (delete it to start afresh); a first run downloads it from the machine's Debian mirror.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ "$(id -u)" -eq 0 ] || exec sudo sh "$0" "$@"

say() { echo "package-test: headless: $*"; }
fail() {
  echo "package-test: headless: FAIL: $*"
  exit 1
}

cache="$top/build-tools/headless-bookworm.tar.gz"
# The mirror apt uses here (a deb822 URIs line or a one-line source), not the security archive.
mirror=$(grep -h -s -E '^[[:space:]]*(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/* |
  grep -v security | sed -E 's/^[[:space:]]*(URIs:|deb)[[:space:]]+(\[[^]]*\][[:space:]]+)?//; s/[[:space:]].*//' |
  head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}

root=$(mktemp -d /tmp/tovami-headless.XXXXXX)
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

started=$(date +%s)
if [ -f "$cache" ]; then
  tar -C "$root" -xzf "$cache"
  say "a Debian 12 minbase chroot from $(basename "$cache") in $(($(date +%s) - started)) s"
else
  command -v debootstrap >/dev/null || fail "no debootstrap (apt-get install debootstrap)"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 || {
    tail -n 20 "$root.log"
    rm -f "$root.log"
    fail "debootstrap bookworm from $mirror"
  }
  rm -f "$root.log"
  rm -f "$root"/var/cache/apt/archives/*.deb
  say "a Debian 12 minbase chroot from $mirror in $(($(date +%s) - started)) s"
  # CI starts on a fresh machine each time: nothing there would read the copy.
  if [ "${CI:-}" != true ]; then
    mkdir -p "$(dirname "$cache")"
    tar -C "$root" -czf "$cache.part" . && mv "$cache.part" "$cache"
    say "kept as $cache for the next run"
  fi
fi
chroot_run() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
chroot_run dpkg-query -W -f='${Package}\n' | sort >"$root/tmp/before.txt"
chroot_run sh -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/$(basename "$deb")" \
  >"$root/tmp/apt.txt" 2>&1 || {
  cat "$root/tmp/apt.txt"
  fail "apt-get install --no-install-recommends ./$(basename "$deb") in the chroot"
}
chroot_run dpkg-query -W -f='${Package}\n' | sort >"$root/tmp/after.txt"
added=$(comm -13 "$root/tmp/before.txt" "$root/tmp/after.txt" | tr '\n' ' ')
[ "$added" = "tovami-cli " ] || fail "installing tovami-cli brought more than itself: $added"
chroot_run dpkg -l | grep -i -E 'qt6|libx11|libxcb|libutf8proc' && fail "a Qt, X or utf8proc library is in the chroot"
say "apt-get installed tovami-cli alone (Depends: $(chroot_run dpkg-query -W -f='${Depends}' tovami-cli)); no Qt, X or utf8proc library"

# The remote side, as the desktop's ssh starts it: the hello first; it lists the machine's agents
# (cleaning their text) while its input stays open, and ends when it closes.
mkdir -p "$root/tmp/home" "$root/tmp/run"
chmod 700 "$root/tmp/run"
in_home() { chroot_run HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/run XDG_DATA_HOME=/tmp/home/.local/share "$@"; }
sleep 3 | in_home timeout 20 tovami --remote-stream >"$root/tmp/stream.txt" 2>"$root/tmp/stream.err" ||
  fail "tovami --remote-stream exited with $?: $(head -c 2000 "$root/tmp/stream.err")"
hello=$(head -n 1 "$root/tmp/stream.txt")
printf '%s' "$hello" | /usr/bin/python3 -c 'import json, sys; assert "protocol" in json.load(sys.stdin)' 2>/dev/null ||
  fail "tovami --remote-stream said no hello: $(head -c 2000 "$root/tmp/stream.txt") $(head -c 2000 "$root/tmp/stream.err")"
say "tovami --remote-stream: $hello"
# A hook with no desktop to ask gives no verdict and succeeds; a listing has no display to ask.
in_home tovami --hook permission-request </dev/null >/dev/null || fail "tovami --hook permission-request exited with $?"
in_home tovami --list-agents json >"$root/tmp/agents.json" || fail "tovami --list-agents json exited with $?"
/usr/bin/python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$root/tmp/agents.json" ||
  fail "tovami --list-agents json printed no JSON"
say "tovami --hook permission-request and --list-agents json run there; all in $(($(date +%s) - started)) s"
