#!/usr/bin/env bash
# Checks the built packages on this machine the way a technician gets them. The Debian
# package: installs dist/tarvic_*.deb with apt-get, checks that the installed programs
# carry the package's version, runs the installed tarvic against the installed tarvic-sim
# to both outcome boxes (under Xvfb when there is no display), then purges the package
# and checks that none of its files is left. The Windows archive: holds tarvic.exe,
# README.txt of the same version, LICENSE.txt and the runtime notices. The Windows
# installer: installs silently under Wine, in a Wine prefix of its own, with the program,
# the notices, its Start-menu entry and an uninstall entry of its version, and its
# uninstaller removes them again. Run tools/package.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
debs=(dist/tarvic_*_amd64.deb)
[ -e "${debs[0]}" ] || { echo "no dist/tarvic_*_amd64.deb: run tools/package.sh first"; exit 1; }
[ "${#debs[@]}" -eq 1 ] || { echo "more than one package in dist/: ${debs[*]}"; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "./$deb"
mapfile -t files < <(dpkg -L tarvic)
echo "Installed tarvic $version: ${#files[@]} paths"

for program in tarvic-sim tarvic-ports; do
  said=$("/usr/bin/$program" --version)
  [ "$said" = "$program $version" ] || { echo "$program --version says \"$said\", the package is $version"; exit 1; }
done

bash tools/demo.sh --installed

DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y tarvic
if dpkg-query -W -f='${Status}\n' tarvic 2>/dev/null | grep -qv '^unknown ok not-installed$'; then
  echo "tarvic is still known to dpkg: $(dpkg-query -W -f='${Status}' tarvic)"
  exit 1
fi
left=()
for f in "${files[@]}"; do
  # Shared folders such as /usr/share/man stay; anything of tarvic's own must be gone.
  if [ -e "$f" ] && { [ ! -d "$f" ] || [[ "$f" == *tarvic* ]]; }; then left+=("$f"); fi
done
if ((${#left[@]})); then
  printf 'left behind after purge: %s\n' "${left[@]}"
  exit 1
fi
echo "Purged: none of the package's ${#files[@]} paths is left."

zip=dist/tarvic-$version-win64.zip
setup=dist/tarvic-$version-win64-setup.exe
[ -e "$zip" ] && [ -e "$setup" ] || { echo "no $zip and $setup: run tools/package.sh"; exit 1; }
listing=$(unzip -Z1 "$zip")
notices=(GCC-RUNTIME-LIBRARY-EXCEPTION.txt LICENSE.txt README.txt WINPTHREADS-LICENSE.txt)
expected=$(printf "tarvic-$version-win64/%s\n" "${notices[@]}" tarvic.exe | sort)
[ "$(sort <<<"$listing")" = "$expected" ] || { echo "$zip holds:"; echo "$listing"; exit 1; }
# Read whole, then look at the first line: a reader that stops early would fail the pipe.
readme=$(unzip -p "$zip" "tarvic-$version-win64/README.txt")
grep -q "tarvic $version" <<<"${readme%%$'\n'*}" ||
  { echo "README.txt of $zip does not name version $version"; exit 1; }
echo "$zip: tarvic.exe, README.txt, LICENSE.txt and the runtime notices"

prefix=$(mktemp -d)
wine_prefix=$prefix/wine
# Stop the server of the prefix used before its folder goes, or it writes into nothing.
trap 'WINEPREFIX=$wine_prefix wineserver -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\tarvic'
# The version that the uninstall entry shows ("Apps" of the settings), machine-wide or for
# the user; empty when there is no entry.
uninstall_version() {
  local hive said
  for hive in HKLM HKCU; do
    if said=$(bash tools/wine-run.sh "$wine_prefix" reg query "$hive\\$uninstall_key" \
      /v DisplayVersion 2>/dev/null); then
      awk '$1 == "DisplayVersion" { print $3 }' <<<"${said//$'\r'/}"
      return
    fi
  done
}
bash tools/wine-run.sh "$wine_prefix"
before=$(uninstall_version)
[ -z "$before" ] || { echo "an uninstall entry ($before) is there before the installer ran"; exit 1; }
bash tools/wine-run.sh "$wine_prefix" "$setup" /S
installed="$wine_prefix/drive_c/Program Files/tarvic"
link="$wine_prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/tarvic/tarvic.lnk"
for f in "$installed/tarvic.exe" "${notices[@]/#/$installed/}" "$installed/Uninstall.exe" "$link"; do
  [ -e "$f" ] || { echo "the installer did not make ${f#"$wine_prefix/"}"; exit 1; }
done
shown=$(uninstall_version)
[ "$shown" = "$version" ] ||
  { echo "the uninstall entry $uninstall_key shows \"$shown\", not $version"; exit 1; }
cmp -s "$installed/tarvic.exe" <(unzip -p "$zip" "tarvic-$version-win64/tarvic.exe") ||
  { echo "the installer's tarvic.exe is not the archive's"; exit 1; }
bash tools/wine-run.sh "$wine_prefix" "$installed/Uninstall.exe" /S
# The uninstaller copies itself away and finishes from there: wait until every program of
# the prefix has ended.
WINEPREFIX=$wine_prefix wineserver -w
if [ -e "$installed" ] || [ -e "$link" ]; then
  echo "left behind by the uninstaller:"; find "$installed" "$(dirname "$link")" 2>/dev/null
  exit 1
fi
remaining=$(uninstall_version)
[ -z "$remaining" ] ||
  { echo "the uninstaller left its entry $uninstall_key ($remaining)"; exit 1; }
echo "$setup: installs tarvic.exe, the notices and an uninstall entry under Wine; the uninstaller removes all of them."
