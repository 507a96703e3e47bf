#!/usr/bin/env bash
# Checks a built Debian package on this machine the way a technician gets it: installs
# dist/tarvic_*.deb with apt-get, checks that the installed programs carry the package's
# version, runs the installed tarvic against the installed tarvic-sim to both outcome
# boxes (under Xvfb when there is no display), then purges the package and checks that
# none of its files is left. Run tools/package.sh first.
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
