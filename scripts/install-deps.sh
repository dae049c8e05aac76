#!/bin/sh
# Installs the Debian packages listed in debian-packages.txt that are missing (as root, or through sudo).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
wanted=$(grep -v '^#' "$here/debian-packages.txt" | sed '/^[[:space:]]*$/d')
missing=""
for pkg in $wanted; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
echo "Installing missing packages:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
