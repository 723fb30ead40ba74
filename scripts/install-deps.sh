#!/usr/bin/env bash
# Installs the Debian packages Temra needs to build, run and test, when missing.
set -euo pipefail

packages=(
  cmake g++ pkg-config clang-format clang-tidy
  libgtest-dev libbenchmark-dev libcli11-dev
  qt6-base-dev qt6-svg-dev libqcustomplot-dev libxlsxwriter-dev libminizip-dev libexpat1-dev libcsv-dev libboost-math-dev
  python3 python3-openpyxl fonts-dejavu-core
  python3-dev pybind11-dev python3-numpy python3-pandas python3-pytest
  desktop-file-utils appstream groff-base man-db file dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
