#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing tarvic need.
#   tools/deps.sh            what building, running and testing need
#   tools/deps.sh package    that, and what making and checking the packages needs
# Skips apt entirely when everything is already there.
set -euo pipefail
pkgs=(build-essential cmake python3 googletest libgtest-dev libbenchmark-dev qt6-base-dev
      libgl-dev nginx lighttpd xvfb x11-apps xdotool imagemagick fonts-dejavu-core)
if [ "${1:-}" = package ]; then
  # dpkg-shlibdeps (dpkg-dev) works out the package's dependencies; lintian checks it.
  pkgs+=(dpkg-dev lintian)
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
