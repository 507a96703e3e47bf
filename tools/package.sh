#!/usr/bin/env bash
# Builds the packages into dist/:
#   tarvic_<version>_amd64.deb          the Debian package, made by CPack from a Release
#                                       build with Debian's usual hardening flags
#   tarvic-<version>-win64.zip          tarvic.exe (cross-built with MinGW-w64) and
#                                       README.txt
#   tarvic-<version>-win64-setup.exe    the same as a Windows installer, with a Start-menu
#                                       entry and an uninstaller
#   SHA256SUMS                          the checksums of the three (sha256sum -c reads it)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh windows package
# A fixed time for what the tools stamp into the files (the PE header's time stamp that
# strip writes): the same build gives the same files, in the archive and the installer.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTARVIC_TESTS=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-release -j"$(nproc)"
cmake -S . -B build-win-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTARVIC_TESTS=OFF >/dev/null
cmake --build build-win-release -j"$(nproc)"

rm -f build-release/tarvic_*.deb build-win-release/tarvic-*-win64*
(cd build-release && cpack -G DEB >/dev/null)
(cd build-win-release && cpack -G ZIP >/dev/null && cpack -G NSIS >/dev/null)
mkdir -p dist
rm -f dist/tarvic_*.deb dist/tarvic-*-win64* dist/SHA256SUMS
cp build-release/tarvic_*_amd64.deb build-win-release/tarvic-*-win64.zip \
  build-win-release/tarvic-*-win64-setup.exe dist/
(cd dist && sha256sum tarvic_*_amd64.deb tarvic-*-win64.zip tarvic-*-win64-setup.exe >SHA256SUMS)
ls -l dist/
cat dist/SHA256SUMS
