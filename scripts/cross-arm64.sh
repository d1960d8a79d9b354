#!/usr/bin/env bash
# The arm64 package, cross-built on this (amd64) machine and tested under
# emulation, in a fresh chroot of this machine's Debian release
# (scripts/chroot-run.sh), so that no arm64 package lands on the machine:
#
#   bash scripts/cross-arm64.sh [<folder>]     default: build/cross-arm64
#
# In the chroot: dpkg's arm64 architecture, crossbuild-essential-arm64 and
# qemu-user; scripts/package.sh --arch arm64 (the arm64 build dependencies,
# native soapcpp2 and moc, the look-ups through the cross pkg-config; the
# unit tests under qemu through CMAKE_CROSSCOMPILING_EMULATOR); then the
# package's OrixClientAPP --version and --check under qemu-aarch64 and its
# Depends. The packages, the build tree and the build log land in <folder>.
#
# Needs root and network (it says why it skips otherwise). Prints its times.
# Exit status: 0 passed or skipped, 1 failed.
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/build/cross-arm64}"
ARCH=arm64
LOG="${ORIX_CI_CACHE:-/var/cache/orix-ci}/cross-$ARCH.log"
say() { printf 'cross-arm64: %s\n' "$*"; }
skip() { say "SKIP: $*"; exit 0; }

[ "$(dpkg --print-architecture)" = amd64 ] || skip "cross-builds from amd64 only"
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, namespaces); run it on a disposable machine"
SUITE="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
mkdir -p "$(dirname "$LOG")" "$OUT"
OUT="$(cd "$OUT" && pwd)"

# Runs in the chroot, in /src. The emulator is qemu-user-static's where the
# release has it, else qemu-user's.
INSIDE='set -eo pipefail
t0=$(date +%s)
dpkg --add-architecture arm64
apt-get update -qq
qemu=qemu-user-static
apt-cache show --no-all-versions qemu-user-static >/dev/null 2>&1 || qemu=qemu-user
apt-get install -y -qq --no-install-recommends crossbuild-essential-arm64 "$qemu" dpkg-dev >/dev/null
t1=$(date +%s)
deb="$(bash scripts/package.sh --arch arm64 /out | tail -n1)" || { tail -n 60 /out/build.log; exit 1; }
t2=$(date +%s)
echo "=== the tests under emulation"
sed -n "/^Test project/,/^Total Test time/p" /out/build.log
emulator="$(command -v qemu-aarch64-static || command -v qemu-aarch64)"
echo "=== the package"
dpkg-deb -I "$deb" | sed -n "s/^ \(Package\|Version\|Architecture\|Depends\):/\1:/p"
test "$(dpkg-deb -f "$deb" Architecture)" = arm64
for wanted in qttranslations5-l10n cups-daemon "$(dpkg-query -W -f="\${Depends}" libqpdf-dev:arm64 | tr , "\n" | sed -n "s/^ *\(libqpdf[0-9][^ ]*\).*/\1/p")"; do
  dpkg-deb -f "$deb" Depends | grep -qF "$wanted" || { echo "Depends lacks $wanted"; exit 1; }
done
mkdir -p /tmp/pkg && dpkg-deb -x "$deb" /tmp/pkg
file_type="$(od -An -tx1 -j18 -N2 /tmp/pkg/usr/bin/OrixClientAPP | tr -d " ")"
test "$file_type" = b700 || { echo "OrixClientAPP is not an aarch64 program (e_machine $file_type)"; exit 1; }
# The program folder where the package puts it (the postinst writes the configuration).
cp -a /tmp/pkg/Library /
echo "=== OrixClientAPP --version under $emulator"
version="$("$emulator" /tmp/pkg/usr/bin/OrixClientAPP --version)"
echo "$version"
test "$version" = "OrixClientAPP $(dpkg-parsechangelog -l debian/changelog -S Version)"
echo "=== OrixClientAPP --check under $emulator (no CUPS, no desktop, no server here: FAIL lines expected)"
status=0
QT_QPA_PLATFORM=offscreen "$emulator" /tmp/pkg/usr/bin/OrixClientAPP --check || status=$?
test "$status" -le 1 || { echo "--check ended with $status"; exit 1; }
printf "%-44s %8s s\n" "set-up (arm64 architecture, cross tools)" $((t1 - t0)) \
  "cross build, unit tests under qemu, package" $((t2 - t1))
'
T0=$(date +%s)
status=0
ORIX_CHROOT_OUT="$OUT" bash "$ROOT/scripts/chroot-run.sh" "$SUITE" "$LOG" "$INSIDE" || status=$?
[ "$status" -ne 3 ] || skip "the chroot cannot be made here (above)"
{ sed -n '/^=== /,$p' "$LOG" | grep -v '^ *[0-9]*/[0-9]* Test' || tail -n 30 "$LOG"; } |
  sed 's/^/  | /' | tail -n 60
grep -E '^(set-up|cross build)' "$LOG" || true
printf '%-44s %8s s\n' "whole run (chroot included)" "$(($(date +%s) - T0))"
[ "$status" -eq 0 ] || { say "FAILED (exit $status); log: $LOG" >&2; exit 1; }
say "passed; log: $LOG"
