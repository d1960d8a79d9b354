#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the client,
# the development server and the stand-in plug-ins, on Debian 12 or 13.
# Safe to run again: packages already present are left alone and apt is only
# asked when one is missing. Where releases name a package differently, the
# entry lists the choices ("a|b") and the first one this machine's apt knows
# is taken; nothing is chosen by the release's name.
set -euo pipefail
export LC_ALL=C

PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libxcb1-dev
  qttranslations5-l10n
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
  clang "libclang-rt-dev|libclang-rt-14-dev"
  python3
  debhelper lintian dpkg-dev appstream
  locales debconf-utils ucf
  debootstrap curl git
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }
# True when apt can install the package (it has a candidate version).
known() { apt-cache show --no-all-versions "$1" >/dev/null 2>&1; }

updated=""
update() {
  [ -n "$updated" ] && return 0
  $SUDO apt-get update -qq
  updated=1
}

missing=()
for entry in "${PACKAGES[@]}"; do
  IFS='|' read -r -a choices <<<"$entry"
  chosen=""
  for p in "${choices[@]}"; do
    if installed "$p"; then chosen=installed; break; fi
  done
  [ "$chosen" = installed ] && continue
  if [ ${#choices[@]} -gt 1 ]; then
    update
    for p in "${choices[@]}"; do
      if known "$p"; then chosen="$p"; break; fi
    done
    [ -n "$chosen" ] || { echo "setup: apt knows none of: ${choices[*]}" >&2; exit 1; }
  else
    chosen="${choices[0]}"
  fi
  missing+=("$chosen")
done

if [ ${#missing[@]} -gt 0 ]; then
  update
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locales the tests run in besides C.UTF-8: the users' Chinese, and
# French (lpstat's texts differ in each).
# Each is listed in /etc/locale.gen, so that a later locale-gen keeps it.
for wanted in zh_CN.UTF-8 fr_FR.UTF-8; do
  if ! grep -qx "$wanted UTF-8" /etc/locale.gen 2>/dev/null; then
    $SUDO sed -i -E "s/^# ?($wanted UTF-8)$/\1/" /etc/locale.gen
    grep -qx "$wanted UTF-8" /etc/locale.gen || echo "$wanted UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  locale -a 2>/dev/null | grep -qix "${wanted/UTF-8/utf8}" || regenerate=1
done
[ -z "${regenerate:-}" ] || $SUDO locale-gen >/dev/null
