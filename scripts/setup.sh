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
  locales debconf-utils ucf
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -ne 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the tests run the queue helper in: the users' Chinese, and
# French (lpstat's texts differ in each).
for wanted in zh_CN.UTF-8 fr_FR.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qix "${wanted/UTF-8/utf8}"; then
    $SUDO sed -i -E "s/^# ?($wanted UTF-8)$/\1/" /etc/locale.gen
    grep -qx "$wanted UTF-8" /etc/locale.gen || echo "$wanted UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    regenerate=1
  fi
done
[ -z "${regenerate:-}" ] || $SUDO locale-gen >/dev/null
