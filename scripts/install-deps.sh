#!/bin/sh
# Installs the Debian packages listed in debian-packages.txt that are missing (as root, or through sudo).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
wanted=$(grep -v '^#' "$here/debian-packages.txt" | sed '/^[[:space:]]*$/d')
missing=""
for pkg in $wanted; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
done
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
  echo "Installing missing packages:$missing"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends $missing
fi

# The tests start an sshd of their own, unprivileged, on loopback. Installing openssh-server would
# also start and enable the system's SSH service, so its files are unpacked beside the build instead.
sshd_dir="$here/../build-tools/openssh-server"
if [ ! -x /usr/sbin/sshd ] && [ ! -x "$sshd_dir/usr/sbin/sshd" ]; then
  download=$(mktemp -d)
  chmod 755 "$download"  # apt fetches as its own user
  if (cd "$download" && { apt-get download -qq openssh-server 2>/dev/null ||
        { $sudo apt-get update -qq && apt-get download -qq openssh-server; }; }); then
    mkdir -p "$sshd_dir"  # dpkg-deb makes the folder but not its parents
    dpkg-deb -x "$download"/openssh-server_*.deb "$sshd_dir"
  else
    echo "openssh-server could not be downloaded: the tests of other machines will be skipped"
  fi
  rm -rf "$download"
fi
# sshd started by root checks for its privilege separation user, which openssh-server's installation
# would have added; unpacked, it is missing on a fresh machine. Unprivileged, sshd does not need it.
if [ "$(id -u)" -eq 0 ] && [ -x "$sshd_dir/usr/sbin/sshd" ] && ! getent passwd sshd >/dev/null; then
  useradd --system --no-create-home --home-dir /run/sshd --shell /usr/sbin/nologin sshd
fi
