#!/bin/sh
# Installs the built packages on this machine the way a user would, checks the installed program
# (switches, the desktop program under a private Xvfb until its tray item registers), runs lintian,
# then purges them and checks that nothing they installed remains while the user's files stay. The
# entry's package alone then goes into a minimal Debian 12 without Qt or X
# (package-test-headless.sh). package-test.sh [DIR]: DIR (default dist) holds
# tovami_<version>_<arch>.deb and tovami-cli_<version>_<arch>.deb. Needs root or sudo.
# Any failure fails the script; the packages are purged on every way out.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:-$top/dist}" && pwd)
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

say() { echo "package-test: $*"; }
fail() {
  echo "package-test: FAIL: $*"
  exit 1
}
installed() { dpkg-query -W -f='${Status}\n' tovami tovami-cli 2>/dev/null | grep -qv "not-installed"; }

set -- "$dir"/tovami_*_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one tovami_<version>_<arch>.deb in $dir (make package)"
deb=$1
version=$(dpkg-deb -f "$deb" Version)
cli=$(echo "$dir"/tovami-cli_"$version"_*.deb)
[ -f "$cli" ] || fail "expected tovami-cli_${version}_<arch>.deb beside $(basename "$deb")"
# Someone's own installation is not ours to purge.
installed && fail "tovami or tovami-cli is already installed here: purge it first (apt-get purge tovami tovami-cli)"

scratch=$(mktemp -d /tmp/tovami-package-test.XXXXXX)
ours=false
finish() {
  status=$?
  if $ours && installed; then
    say "purging after a failure"
    $sudo apt-get purge -y -qq tovami tovami-cli >/dev/null 2>&1 || $sudo dpkg --purge tovami tovami-cli || true
  fi
  rm -rf "$scratch"
  [ "$status" -eq 0 ] && say "passed" || say "failed"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

# A user's files, which neither the program's switches nor removal may touch.
home="$scratch/home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$scratch/runtime"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
mkdir -p "$home/.config/tovami" "$home/.config/autostart" "$home/.claude" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[General]\nhasCompletedOnboarding=true\n; the user'"'"'s comment\n' >"$home/.config/tovami/tovami.conf"
printf '{"hooks": {"PermissionRequest": []}}\n' >"$home/.claude/settings.json"
printf '{}\n' >"$home/.claude/settings.json.tovami-backup"
printf '[Desktop Entry]\nType=Application\nExec=/usr/bin/tovami\n' >"$home/.config/autostart/app.tovami.Tovami.desktop"
user_files="$home/.config/tovami/tovami.conf $home/.claude/settings.json $home/.claude/settings.json.tovami-backup
  $home/.config/autostart/app.tovami.Tovami.desktop"
# shellcheck disable=SC2086
sha256sum $user_files >"$scratch/user-files.sum"

say "lintian $(basename "$deb") $(basename "$cli")"
lintian --info --fail-on error "$deb" "$cli" >"$scratch/lintian.txt" 2>&1 || {
  cat "$scratch/lintian.txt"
  fail "lintian reports errors"
}
sed 's/^/package-test:   /' "$scratch/lintian.txt"
say "lintian: no errors, $(grep -c '^W: ' "$scratch/lintian.txt" || true) warnings"

say "installing $(basename "$deb") and $(basename "$cli") with apt-get (no recommended packages)"
ours=true
$sudo apt-get install -y -qq --no-install-recommends "$deb" "$cli" >"$scratch/apt.txt" 2>&1 || {
  cat "$scratch/apt.txt"
  fail "apt-get install"
}
say "Depends: $(dpkg-query -W -f='${Depends}' tovami); tovami-cli: $(dpkg-query -W -f='${Depends}' tovami-cli)"
dpkg-query -W -f='${Depends}' tovami | grep -q netcat && fail "the package depends on netcat"
dpkg-query -W -f='${Depends}' tovami | grep -q "tovami-cli (= $version)" || fail "tovami does not depend on tovami-cli (= $version)"
dpkg -L tovami tovami-cli >"$scratch/files.txt"
dpkg -L tovami-cli >"$scratch/cli-files.txt"
for path in /usr/bin/tovami /usr/share/man/man1/tovami.1.gz; do
  grep -qx "$path" "$scratch/cli-files.txt" || fail "$path is not in tovami-cli"
done
grep -v -x -E '/usr/bin/tovami|/usr/share/man/man1/tovami.1.gz|/usr/share/doc/tovami-cli/.*|/(\.|usr|usr/bin|usr/share(/man(/man1)?|/doc(/tovami-cli)?|/lintian(/overrides(/tovami-cli)?)?)?)' \
  "$scratch/cli-files.txt" && fail "tovami-cli holds more than the entry, its manual page, its documents and its lintian override"
for path in /usr/bin/tovami /usr/libexec/tovami/tovami-desktop /usr/share/applications/app.tovami.Tovami.desktop \
  /usr/share/metainfo/app.tovami.Tovami.metainfo.xml /usr/share/icons/hicolor/scalable/apps/tovami.svg \
  /usr/share/icons/hicolor/48x48/apps/tovami.png /usr/share/man/man1/tovami.1.gz /etc/pam.d/tovami \
  /usr/share/doc/tovami/copyright; do
  [ -f "$path" ] && grep -qx "$path" "$scratch/files.txt" || fail "not installed: $path"
done
dpkg-query -W -f='${Conffiles}' tovami | grep -q ' /etc/pam.d/tovami ' || fail "/etc/pam.d/tovami is no conffile"
grep -q autostart "$scratch/files.txt" && fail "the package installs an autostart entry"
say "installed $(grep -c . "$scratch/files.txt") paths, /etc/pam.d/tovami a conffile, no autostart entry"

[ "$(command -v tovami)" = /usr/bin/tovami ] || fail "tovami is not /usr/bin/tovami on the PATH"
[ "$(tovami --version)" = "tovami $version" ] || fail "tovami --version says \"$(tovami --version)\""
say "tovami --version: $(tovami --version)"
tovami --list-agents json >"$scratch/agents.json" || fail "tovami --list-agents json exited with $?"
/usr/bin/python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "$scratch/agents.json" \
  >"$scratch/agents.count" || fail "tovami --list-agents json printed no JSON"
say "tovami --list-agents json: valid JSON, agents listed: $(cat "$scratch/agents.count")"
man -w tovami >/dev/null || fail "man finds no tovami page"
say "man tovami: $(man -w tovami)"

say "the installed desktop program under Xvfb"
/usr/bin/python3 "$top/scripts/package_desktop_check.py" /usr/bin/tovami || fail "the installed desktop program"

say "purging"
$sudo apt-get purge -y -qq tovami tovami-cli >"$scratch/apt.txt" 2>&1 || {
  cat "$scratch/apt.txt"
  fail "apt-get purge"
}
ours=false
installed && fail "tovami is still known to dpkg after the purge"
left=$(while read -r path; do [ -f "$path" ] || [ -L "$path" ] && echo "$path"; done <"$scratch/files.txt" || true)
[ -z "$left" ] || fail "left after the purge: $left"
[ -e /usr/libexec/tovami ] && fail "left after the purge: /usr/libexec/tovami"
sha256sum --quiet -c "$scratch/user-files.sum" || fail "the user's files changed"
say "purged: none of the packages' files remain; the user's preferences, Claude Code settings and backup, and autostart entry stay"

sh "$top/scripts/package-test-headless.sh" "$cli"
