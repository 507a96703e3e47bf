#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing tarvic need.
# Skips apt entirely when everything is already there.
#   tools/deps.sh                  what the Linux build needs
#   tools/deps.sh windows          and the cross compilers and Wine for the Windows build
#   tools/deps.sh package          and what making and checking the packages needs
#   tools/deps.sh windows package  both
#   tools/deps.sh fuzz             and clang with libFuzzer for tools/fuzz.sh
set -euo pipefail
pkgs=(build-essential cmake python3 googletest libgtest-dev libbenchmark-dev qt6-base-dev
      libgl-dev nginx lighttpd busybox xvfb x11-apps xdotool imagemagick fonts-dejavu-core)
for want in "$@"; do
  case "$want" in
    windows) pkgs+=(mingw-w64 g++-mingw-w64-x86-64-posix wine64 wine) ;;
    # dpkg-shlibdeps (dpkg-dev) works out the Debian package's dependencies, lintian
    # checks it, nsis makes the Windows installer, unzip looks into the archive.
    package) pkgs+=(dpkg-dev lintian nsis unzip) ;;
    fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "tools/deps.sh: no package list \"$want\"" >&2; exit 2 ;;
  esac
done
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
