#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, and
# only those that are missing. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache
    qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-multimedia-dev qt6-qpa-plugins
    libmodbus-dev libsodium-dev
    libmosquitto-dev
    libssl-dev
    librsvg2-bin
    fonts-dseg fonts-dejavu-core fonts-liberation
    xvfb xauth
)
# Extra packages a caller asks for (the checks in CI, for example).
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
