#!/usr/bin/env bash
# Runs a command on a fresh Debian chroot of this checkout, for the CI of
# other releases and architectures (scripts/debian13-ci.sh,
# scripts/cross-arm64.sh):
#
#   bash scripts/chroot-run.sh <suite> <log> <command>
#
# The chroot is made with debootstrap from this machine's apt sources (the
# same mirrors, the suites of <suite>: bookworm-updates becomes
# trixie-updates and so on); the tracked files of this checkout, as they are
# in the working tree, are copied to /src, a git checkout of one commit.
# <command> runs there as root under bash, in private mount and PID
# namespaces with /proc, /sys, /dev, a fresh /run and /tmp, the environment
# ORIX_CI_CHROOT=1, LANG=C.UTF-8 and apt's packages kept in the cache. Its
# output goes to <log>. Whatever the outcome nothing started in it keeps
# running (the PID namespace ends with its first process), nothing stays
# mounted and the chroot is deleted.
#
# With ORIX_CHROOT_OUT set, that folder of the machine is mounted at /out.
#
# The base system's tarball and the downloaded packages are kept in
# $ORIX_CI_CACHE (default /var/cache/orix-ci, outside the clone); the chroot
# itself is made anew each time.
#
# Exit status: the command's; 3 when it cannot run here (the reason is
# printed: not root, a tool missing, no Debian source, no network).
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 3 ] || { echo "usage: chroot-run.sh <suite> <log> <command>" >&2; exit 1; }
SUITE="$1"
LOG="$2"
COMMAND="$3"
CACHE="${ORIX_CI_CACHE:-/var/cache/orix-ci}"
say() { printf 'chroot-run: %s\n' "$*"; }
cannot() { say "cannot run here: $*"; exit 3; }
fail() { say "$*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || cannot "needs root (debootstrap, chroot, namespaces); run it on a disposable machine"
for tool in debootstrap unshare chroot curl git; do
  command -v "$tool" >/dev/null || cannot "$tool is missing (bash scripts/setup.sh installs it)"
done
git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1 ||
  fail "$ROOT is not a git checkout (its tracked files are copied into the chroot)"
HOST_SUITE="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
[ -n "$HOST_SUITE" ] || cannot "no release name in /etc/os-release"

# This machine's Debian sources with their suites renamed.
mapfile -t SOURCES < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' |
  awk -v host="$HOST_SUITE" -v suite="$SUITE" '$3 == "deb" && ($2 == host || index($2, host "-") == 1) {
      sub("^" host, suite, $2); print $1, $2 }' | sort -u)
MIRROR="$(printf '%s\n' "${SOURCES[@]}" | awk -v suite="$SUITE" '$2 == suite { print $1; exit }')"
[ -n "$MIRROR" ] || cannot "no Debian archive among this machine's apt sources"
curl -fsS --max-time 20 -o /dev/null "${MIRROR%/}/dists/$SUITE/Release" ||
  cannot "the mirror $MIRROR does not answer for $SUITE (no network?)"

mkdir -p "$CACHE/archives/$SUITE/partial"
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
chmod 0755 "$CHROOT" # the chroot's /: every user of the tests reaches what is below
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
  # Mounts end with the mount namespace; anything still listed is taken off before the delete.
  mounted_below | awk '{ print $5 }' | sort -r | xargs -r -n1 umount -l
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
debootstrap --variant=minbase --unpack-tarball="$TARBALL" "$SUITE" "$CHROOT" "$MIRROR" \
  >"$LOG" 2>&1 || fail "debootstrap failed; see $LOG"

# The renamed sources, the host's resolver, no service started by a
# package's installation (tests start what they need themselves).
: >"$CHROOT/etc/apt/sources.list"
for source in "${SOURCES[@]}"; do
  printf 'deb %s %s main\n' $source >>"$CHROOT/etc/apt/sources.list"
done
cp -L /etc/resolv.conf "$CHROOT/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$CHROOT/usr/sbin/policy-rc.d"
chmod 0755 "$CHROOT/usr/sbin/policy-rc.d"
printf 'APT::Keep-Downloaded-Packages "true";\n' >"$CHROOT/etc/apt/apt.conf.d/90orix-ci"
mkdir -p "$CHROOT/src"
git -C "$ROOT" ls-files -z --cached |
  tar -C "$ROOT" --null --files-from=- --ignore-failed-read -cf - |
  tar -C "$CHROOT/src" -xf -

# In the namespaces: the kernel's file systems and the package cache, then
# git (the package is built from a checkout) and the command.
INNER='set -e
mount -t proc proc "$1/proc"
mount -t sysfs sysfs "$1/sys"
mount --rbind /dev "$1/dev"
mount -t tmpfs -o mode=0755 tmpfs "$1/run"
mount -t tmpfs -o mode=1777 tmpfs "$1/tmp"
mount --bind "$2" "$1/var/cache/apt/archives"
if [ -n "$4" ]; then mkdir -p "$1/out"; mount --bind "$4" "$1/out"; fi
exec chroot "$1" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 ORIX_CI_CHROOT=1 DEBIAN_FRONTEND=noninteractive CMD="$3" \
  /bin/bash -c "set -e
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null
    cd /src && git init -q && git add -A && git -c user.name=ci -c user.email=ci@localhost commit -qm ci
    exec bash -c \"\$CMD\""'
say "running in the chroot (log: $LOG)"
status=0
unshare --mount --pid --fork --mount-proc --propagation private \
  bash -c "$INNER" inner "$CHROOT" "$CACHE/archives/$SUITE" "$COMMAND" "${ORIX_CHROOT_OUT:-}" \
  >>"$LOG" 2>&1 &
NS_PID=$!
wait "$NS_PID" || status=$?
NS_PID=""
exit "$status"
