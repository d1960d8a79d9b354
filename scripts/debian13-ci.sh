#!/usr/bin/env bash
# The test command once more on Debian 13: in a fresh trixie chroot made from
# this machine's apt sources (scripts/chroot-run.sh: private mount and PID
# namespaces, nothing left running or mounted, the chroot deleted), the
# project's test command runs as a new user would run it: scripts/setup.sh,
# build, ctest, fuzz smoke and the package test (install, print as a
# throwaway user, refusals, purge; in C.UTF-8 and zh_CN.UTF-8).
#
#   bash scripts/debian13-ci.sh
#
# Skips (exit 0, the reason printed) when not root, without network or a
# tool, when this machine already is Debian 13, and inside its own chroot.
# Exit status: 0 passed or skipped, 1 failed. Prints its time at the end;
# the whole output of the run is in $ORIX_CI_CACHE/debian13-ci.log (default
# /var/cache/orix-ci).
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SUITE=trixie
LOG="${ORIX_CI_CACHE:-/var/cache/orix-ci}/debian13-ci.log"
say() { printf 'debian13-ci: %s\n' "$*"; }
skip() { say "SKIP: $*"; exit 0; }

[ -z "${ORIX_CI_CHROOT:-}" ] || skip "already inside a CI chroot"
[ "$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" != "$SUITE" ] ||
  skip "this machine is Debian 13 itself; the test command has run here"
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, namespaces); run it on a disposable machine"
mkdir -p "$(dirname "$LOG")"

T0=$(date +%s)
status=0
bash "$ROOT/scripts/chroot-run.sh" "$SUITE" "$LOG" "bash scripts/run-tests.sh" || status=$?
[ "$status" -ne 3 ] || skip "the chroot cannot be made here (above)"
tail -n 30 "$LOG" | sed 's/^/  | /'
printf '%-40s %8s s\n' "debian13-ci: test command in Debian 13" "$(($(date +%s) - T0))"
[ "$status" -eq 0 ] || { say "FAILED (exit $status); log: $LOG" >&2; exit 1; }
say "passed"
