#!/usr/bin/env bash
# The test command once more on Debian 13: a fresh chroot made with
# debootstrap from this machine's apt sources (the same mirrors, the suites of
# Debian 13), and in it, in private mount and PID namespaces, the project's
# test command: scripts/setup.sh, build, ctest, fuzz smoke and the package
# test (install, print as a throwaway user, refusals, purge).
#
#   bash scripts/debian13-ci.sh
#
# The tracked files of this checkout, as they are in the working tree, are
# copied into the chroot. Whatever the outcome nothing started in it keeps
# running (the PID namespace ends with it), nothing stays mounted and the
# chroot is deleted. To save time the base system's tarball and the
# downloaded packages are kept in $ORIX_CI_CACHE (default
# /var/cache/orix-ci, outside the clone); the chroot itself is made anew
# each time.
#
# Skips (exit 0, the reason printed) when not root, without debootstrap or
# unshare, when the mirror does not answer, when this machine already is
# Debian 13, and inside its own chroot. Exit status: 0 passed or skipped,
# 1 failed. Prints its time at the end.
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SUITE=trixie
CACHE="${ORIX_CI_CACHE:-/var/cache/orix-ci}"
say() { printf 'debian13-ci: %s\n' "$*"; }
skip() { say "SKIP: $*"; exit 0; }
fail() { say "FAILED: $*" >&2; exit 1; }

[ -z "${ORIX_CI_CHROOT:-}" ] || skip "already inside the Debian 13 chroot"
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, namespaces); run it on a disposable machine"
for tool in debootstrap unshare chroot curl; do
  command -v "$tool" >/dev/null || skip "$tool is missing (bash scripts/setup.sh installs it)"
done
. /etc/os-release
HOST_SUITE="${VERSION_CODENAME:-}"
[ "$HOST_SUITE" != "$SUITE" ] || skip "this machine is Debian 13 itself; the test command has run here"
command -v git >/dev/null && git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1 ||
  fail "$ROOT is not a git checkout (the tracked files are copied into the chroot)"

# This machine's Debian sources with their suites renamed: bookworm ->
# trixie, bookworm-updates -> trixie-updates, bookworm-security ->
# trixie-security.
mapfile -t SOURCES < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' |
  awk -v host="$HOST_SUITE" -v suite="$SUITE" '$3 == "deb" && ($2 == host || index($2, host "-") == 1) {
      sub("^" host, suite, $2); print $1, $2 }' | sort -u)
MIRROR="$(printf '%s\n' "${SOURCES[@]}" | awk -v suite="$SUITE" '$2 == suite { print $1; exit }')"
[ -n "$MIRROR" ] || skip "no Debian archive among this machine's apt sources"
curl -fsS --max-time 20 -o /dev/null "${MIRROR%/}/dists/$SUITE/Release" ||
  skip "the mirror $MIRROR does not answer (no network?)"

T0=$(date +%s)
mkdir -p "$CACHE/archives/partial"
TARBALL="$CACHE/$SUITE-base.tgz"
if [ ! -s "$TARBALL" ]; then
  say "fetching the base system of $SUITE from $MIRROR"
  rm -rf "$CACHE/make-tarball"
  debootstrap --variant=minbase --make-tarball="$TARBALL.new" "$SUITE" "$CACHE/make-tarball" \
    "$MIRROR" >"$CACHE/make-tarball.log" 2>&1 || {
    rm -rf "$CACHE/make-tarball" "$TARBALL.new"
    fail "debootstrap could not fetch $SUITE; see $CACHE/make-tarball.log"
  }
  mv "$TARBALL.new" "$TARBALL"
fi

CHROOT="$(mktemp -d "$CACHE/chroot-XXXXXX")"
NS_PID=""
mounted_below() { awk -v dir="$CHROOT" 'index($5, dir "/") == 1 || $5 == dir' /proc/self/mountinfo; }
cleanup() {
  local status=$?
  trap - EXIT
  set +e
  if [ -n "$NS_PID" ] && kill -0 "$NS_PID" 2>/dev/null; then
    # The namespace's first process: its end ends every process in it.
    kill -KILL "$NS_PID"
    wait "$NS_PID" 2>/dev/null
  fi
  # Mounts die with the mount namespace; anything still listed is taken off before the delete.
  if [ -n "$(mounted_below)" ]; then
    mounted_below | awk '{ print $5 }' | sort -r | xargs -r -n1 umount -l
  fi
  if [ -n "$(mounted_below)" ]; then
    say "still mounted under $CHROOT, not deleted" >&2
    status=1
  else
    rm -rf --one-file-system "$CHROOT"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "unpacking $SUITE into $CHROOT"
T_BASE=$(date +%s)
debootstrap --variant=minbase --unpack-tarball="$TARBALL" "$SUITE" "$CHROOT" "$MIRROR" \
  >"$CHROOT.log" 2>&1 || fail "debootstrap failed; see $CHROOT.log"
rm -f "$CHROOT.log"
BASE_S=$(($(date +%s) - T_BASE))

# The renamed sources, the host's resolver, no service started by a package's
# installation (the package test starts cupsd itself).
: >"$CHROOT/etc/apt/sources.list"
for source in "${SOURCES[@]}"; do
  printf 'deb %s %s main\n' $source >>"$CHROOT/etc/apt/sources.list"
done
cp -L /etc/resolv.conf "$CHROOT/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$CHROOT/usr/sbin/policy-rc.d"
chmod 0755 "$CHROOT/usr/sbin/policy-rc.d"
printf 'APT::Keep-Downloaded-Packages "true";\n' >"$CHROOT/etc/apt/apt.conf.d/90orix-ci"
# The checkout's tracked files (package.sh builds from a git checkout).
mkdir -p "$CHROOT/src"
git -C "$ROOT" ls-files -z --cached |
  tar -C "$ROOT" --null --files-from=- --ignore-failed-read -cf - |
  tar -C "$CHROOT/src" -xf -

# In the namespaces: the kernel's file systems, the package cache, then the
# test command. ORIX_CI_CHROOT keeps run-tests.sh from coming back here.
INNER='set -e
mount -t proc proc "$1/proc"
mount -t sysfs sysfs "$1/sys"
mount --rbind /dev "$1/dev"
mount -t tmpfs -o mode=0755 tmpfs "$1/run"
mount -t tmpfs -o mode=1777 tmpfs "$1/tmp"
mount --bind "$2" "$1/var/cache/apt/archives"
exec chroot "$1" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 ORIX_CI_CHROOT=1 DEBIAN_FRONTEND=noninteractive \
  /bin/bash -c "apt-get update -qq && apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null &&
    cd /src && git init -q && git add -A && git -c user.name=ci -c user.email=ci@localhost commit -qm ci &&
    bash scripts/run-tests.sh"'
say "running the test command in the chroot (log: $CACHE/debian13-ci.log)"
T_TEST=$(date +%s)
status=0
unshare --mount --pid --fork --mount-proc --propagation private \
  bash -c "$INNER" inner "$CHROOT" "$CACHE/archives" >"$CACHE/debian13-ci.log" 2>&1 &
NS_PID=$!
wait "$NS_PID" || status=$?
NS_PID=""
TEST_S=$(($(date +%s) - T_TEST))
tail -n 25 "$CACHE/debian13-ci.log" | sed 's/^/  | /'
printf '%-44s %8s\n' "debian13-ci: figure" "seconds" \
  "base system unpacked" "$BASE_S" \
  "test command in the chroot" "$TEST_S" \
  "whole run" "$(($(date +%s) - T0))"
[ "$status" -eq 0 ] || fail "the test command failed in Debian 13 (exit $status); log: $CACHE/debian13-ci.log"
say "passed"
