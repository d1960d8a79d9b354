#!/usr/bin/env bash
# Builds the Debian packages (orixclient, orixclient-devserver) from the
# files git tracks in this checkout, as they are in the working tree, for the
# Debian release this machine runs:
#
#   bash scripts/package.sh [<folder>]        default: build/package
#
# The tracked files are copied to <folder>/orixclient-<version>/ (so nothing
# untracked, no build tree and nothing of a previous build gets in) and
# dpkg-buildpackage -us -uc -b runs there; it writes the packages into
# <folder>. The last line printed is the path of the orixclient .deb.
#
# The version is debian/changelog's with the release's suffix,
# 2.0.2+deb12u1 on Debian 12 and 2.0.2+deb13u1 on Debian 13, so that one
# repository holds a build for each; the Depends are the libraries of the
# release the package is built on.
#
# Missing build dependencies are installed with apt (root, or sudo).
# DEB_BUILD_OPTIONS passes through: DEB_BUILD_OPTIONS=nocheck skips the
# tests (the test command runs them before it builds the package).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/build/package}"
say() { printf 'package: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

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

mkdir -p "$OUT"
OUT="$(cd "$OUT" && pwd)"
SRC="$OUT/orixclient-$VERSION"
rm -rf "$SRC"
rm -f "$OUT"/orixclient*_"$VERSION"_*.deb "$OUT"/orixclient*_"$VERSION"_*.changes \
  "$OUT"/orixclient*_"$VERSION"_*.buildinfo
mkdir -p "$SRC"
git -C "$ROOT" ls-files -z --cached |
  tar -C "$ROOT" --null --files-from=- --ignore-failed-read -cf - |
  tar -C "$SRC" -xf -
# The copy's changelog carries the release's version and name.
sed -i "1s/^\([^ ]*\) ([^)]*) [^;]*;/\1 ($VERSION) $CODENAME;/" "$SRC/debian/changelog"

profiles=""
[[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] && profiles="nocheck"
if ! (cd "$SRC" && dpkg-checkbuilddeps ${profiles:+-P"$profiles"} >/dev/null 2>&1); then
  say "installing the build dependencies"
  $SUDO "${APT[@]}" update
  $SUDO "${APT[@]}" build-dep --no-install-recommends ${profiles:+-P "$profiles"} "$SRC"
fi

say "building in $SRC"
(cd "$SRC" && dpkg-buildpackage -us -uc -b -j"${ORIX_PACKAGE_JOBS:-2}" \
  ${profiles:+-P"$profiles"}) >"$OUT/build.log" 2>&1 ||
  die "dpkg-buildpackage failed; see $OUT/build.log"

DEB="$(ls "$OUT"/orixclient_"$VERSION"_*.deb)"
say "built $(cd "$OUT" && ls orixclient*_"$VERSION"_*.deb | tr '\n' ' ')(log: $OUT/build.log)"
printf '%s\n' "$DEB"
