#!/usr/bin/env bash
# Builds the Debian packages (orixclient, orixclient-devserver) from the
# files git tracks in this checkout, as they are in the working tree, for the
# Debian release this machine runs:
#
#   bash scripts/package.sh [--arch <arch>] [<folder>]   default: build/package
#
# --arch cross-builds for another architecture (arm64) with Debian's
# multiarch: crossbuild-essential-<arch> and the build dependencies of that
# architecture (libraries, pkg-config's cross wrapper), the native code
# generators (soapcpp2, moc); the tests then run under user-mode emulation
# (qemu-user), those that start the built programs as processes of their own
# excepted (see debian/rules).
#
# The tracked files are copied to <folder>/orixclient-<version>/ (so nothing
# untracked, no build tree and nothing of a previous build gets in) and
# dpkg-buildpackage -us -uc -b runs there; it writes the packages into
# <folder>. The last line printed is the path of the orixclient .deb.
#
# The version is debian/changelog's with the release's suffix,
# 2.0.3+deb12u1 on Debian 12 and 2.0.3+deb13u1 on Debian 13, so that one
# repository holds a build for each; the Depends are the libraries of the
# release the package is built on.
#
# Missing build dependencies are installed with apt (root, or sudo).
# DEB_BUILD_OPTIONS passes through: DEB_BUILD_OPTIONS=nocheck skips the
# tests (the test command runs them before it builds the package).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
say() { printf 'package: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
export LC_ALL=C
BUILD_ARCH="$(dpkg --print-architecture)"
ARCH="$BUILD_ARCH"
OUT=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) [ $# -ge 2 ] || die "--arch needs an architecture"; ARCH="$2"; shift 2 ;;
    -*) die "unknown option $1 (usage: package.sh [--arch <arch>] [<folder>])" ;;
    *) OUT="$1"; shift ;;
  esac
done
OUT="${OUT:-$ROOT/build/package}"

command -v git >/dev/null && git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1 ||
  die "$ROOT is not a git checkout (the package is built from the tracked files)"
UPSTREAM="$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$ROOT/debian/changelog")"
[ -n "$UPSTREAM" ] || die "no version in debian/changelog"
# The release's number and name (Debian 13: 13, trixie).
RELEASE="$(. /etc/os-release && echo "${VERSION_ID:-}")"
CODENAME="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
[[ "$RELEASE" =~ ^[0-9]+$ ]] && [ -n "$CODENAME" ] ||
  die "not a Debian release with a number (/etc/os-release); the version's suffix names the release"
VERSION="$UPSTREAM+deb${RELEASE}u1"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=300 -y -qq)

# dpkg-buildpackage and the check of the build dependencies come with dpkg-dev.
if ! command -v dpkg-checkbuilddeps >/dev/null; then
  $SUDO "${APT[@]}" update
  $SUDO "${APT[@]}" install --no-install-recommends dpkg-dev
fi

CROSS=()
if [ "$ARCH" != "$BUILD_ARCH" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx "$ARCH"; then
    say "adding the architecture $ARCH to dpkg"
    $SUDO dpkg --add-architecture "$ARCH"
  fi
  if ! dpkg-query -W -f='${db:Status-Abbrev}' "crossbuild-essential-$ARCH" 2>/dev/null | grep -q '^ii'; then
    $SUDO "${APT[@]}" update
    $SUDO "${APT[@]}" install --no-install-recommends "crossbuild-essential-$ARCH"
  fi
  # The tests of a cross build run under user-mode emulation.
  cpu="$(dpkg-architecture -a"$ARCH" -qDEB_HOST_GNU_CPU 2>/dev/null)"
  if [[ " ${DEB_BUILD_OPTIONS:-} " != *" nocheck "* ]] &&
    ! command -v "qemu-$cpu-static" >/dev/null && ! command -v "qemu-$cpu" >/dev/null; then
    qemu=qemu-user-static
    apt-cache show --no-all-versions "$qemu" >/dev/null 2>&1 || qemu=qemu-user
    $SUDO "${APT[@]}" install --no-install-recommends "$qemu"
  fi
  CROSS=(-a "$ARCH")
fi

mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
SRC="$OUT/orixclient-$VERSION"
rm -rf "$SRC"
rm -f "$OUT"/orixclient*_"$VERSION"_"$ARCH".deb "$OUT"/orixclient*_"$VERSION"_"$ARCH".changes \
  "$OUT"/orixclient*_"$VERSION"_"$ARCH".buildinfo
mkdir -p "$SRC"
git -C "$ROOT" ls-files -z --cached |
  tar -C "$ROOT" --null --files-from=- --ignore-failed-read -cf - |
  tar -C "$SRC" -xf -
# The copy's changelog carries the release's version and name.
sed -i "1s/^\([^ ]*\) ([^)]*) [^;]*;/\1 ($VERSION) $CODENAME;/" "$SRC/debian/changelog"

profiles=""
[[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] && profiles="nocheck"
[ ${#CROSS[@]} -eq 0 ] || profiles="${profiles:+$profiles,}cross"
if ! (cd "$SRC" && dpkg-checkbuilddeps "${CROSS[@]}" ${profiles:+-P"$profiles"} >/dev/null 2>&1); then
  say "installing the build dependencies${CROSS[*]:+ for $ARCH}"
  $SUDO "${APT[@]}" update
  $SUDO "${APT[@]}" build-dep --no-install-recommends "${CROSS[@]}" ${profiles:+-P "$profiles"} "$SRC"
fi

say "building in $SRC"
(cd "$SRC" && dpkg-buildpackage -us -uc -b -j"${ORIX_PACKAGE_JOBS:-2}" "${CROSS[@]}" \
  ${profiles:+-P"$profiles"}) >"$OUT/build.log" 2>&1 ||
  die "dpkg-buildpackage failed; see $OUT/build.log"

DEB="$OUT/orixclient_${VERSION}_$ARCH.deb"
[ -f "$DEB" ] || die "no $DEB after the build; see $OUT/build.log"
say "built $(cd "$OUT" && ls orixclient*_"$VERSION"_"$ARCH".deb | tr '\n' ' ')(log: $OUT/build.log)"
printf '%s\n' "$DEB"
