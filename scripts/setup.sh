#!/usr/bin/env bash
# Installs what the suite needs to build and test on Debian 12, skipping what is
# already there. The package lists live in .ci/packages.d/, one file per area.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t wanted < <(cat .ci/packages.d/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Steps beyond packages (test peers unpacked beside the system, accounts).
for step in scripts/setup.d/*.sh; do
  [ -e "$step" ] && bash "$step"
done
