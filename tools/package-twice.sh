#!/usr/bin/env bash
# Builds the packages twice, each time from clean build folders, and fails if any byte of
# the two sets differs: a commit gives one .deb, one zip and one installer.
set -euo pipefail
cd "$(dirname "$0")/.."
first=$(mktemp -d)
trap 'rm -rf "$first"' EXIT
rm -rf build-release build-win-release
bash tools/package.sh
cp dist/SHA256SUMS dist/tarvic_*_amd64.deb dist/tarvic-*-win64.zip dist/tarvic-*-win64-setup.exe "$first"/
rm -rf build-release build-win-release
bash tools/package.sh
status=0
for file in "$first"/*; do
  if ! cmp "$file" "dist/$(basename "$file")"; then
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "package-twice: the two builds differ" >&2
  exit 1
fi
echo "package-twice: both builds are identical"
cat dist/SHA256SUMS
