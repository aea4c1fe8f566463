#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the extra
# packages named as arguments (CI adds clang's for the fuzz targets).
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  googletest libgtest-dev libgmock-dev
  libboost-dev libboost-thread-dev libboost-system-dev
  libboost-filesystem-dev libboost-date-time-dev
  libutfcpp-dev libgtk2.0-dev libssl-dev openssl
  xvfb xauth libxtst-dev
  python3-pyqt5.qtwebkit
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
