#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing tarvic need.
# Skips apt entirely when everything is already there.
#   tools/deps.sh            what the Linux build needs
#   tools/deps.sh windows    and the cross compilers and Wine for the Windows build
set -euo pipefail
pkgs=(build-essential cmake googletest libgtest-dev libbenchmark-dev qt6-base-dev libgl-dev
      nginx lighttpd xvfb x11-apps xdotool imagemagick fonts-dejavu-core)
if [ "${1:-}" = windows ]; then
  pkgs+=(mingw-w64 g++-mingw-w64-x86-64-posix wine64 wine)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  # No service should start on the build machine because of these packages.
  DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
