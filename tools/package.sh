#!/usr/bin/env bash
# Builds the packages into dist/: the Debian package tarvic_<version>_amd64.deb, made by
# CPack from a Release build with Debian's usual hardening flags.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARVIC_TESTS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-release -j"$(nproc)"
rm -f build-release/tarvic_*.deb
(cd build-release && cpack -G DEB >/dev/null)
mkdir -p dist
rm -f dist/tarvic_*.deb
cp build-release/tarvic_*_amd64.deb dist/
ls -l dist/
