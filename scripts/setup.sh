#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the client,
# the development server and the stand-in plug-ins. Safe to run again:
# packages already present are left alone and apt is only asked when one
# is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libxcb1-dev
  gsoap libgsoap-dev
  libcjson-dev
  libcups2-dev
  cups-daemon cups-client cups-filters ghostscript libqpdf-dev
  fonts-arphic-uming
  libssl-dev
  libsqlite3-dev sqlite3
  zlib1g-dev libminizip-dev
  fonts-noto-cjk
  xvfb xauth x11-utils xdotool dbus-daemon
  imagemagick trayer
  openssl ca-certificates
  clang libclang-rt-14-dev
  python3
  debhelper lintian appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
