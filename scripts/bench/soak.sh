#!/usr/bin/env bash
# A long run of the real client against the development server, as a
# workstation of a large site lives through server trouble:
#
#   soak.sh [--minutes N]      (default 10; ORIX_SOAK_MINUTES works too)
#
# The client runs on a private Xvfb display with relocated paths, logged on
# automatically through late_relay.py. Meanwhile (soak.py): a notice is
# queued every 5 s, a captured job (50 KB to 3 MB, a job folder written into
# the spool folder) comes every minute and is confirmed with a Return key
# press, about a fifth of the notice polls get a malformed answer, and there
# are two outages of a tenth of the run, at 10 % and 25 % of it: one in
# which the server's port is closed (connections refused) and one in which
# every connection is accepted and closed unanswered (starting 3 s after a
# job was confirmed). The last tenth has no malformed answers.
#
# Prints logon attempts per minute (most in any 60 s, total; the refused
# ones are seen through a preloaded connect() trace), RSS at start and end
# and its slope per 1000 notices after the warm-up (the first 40 %, which
# holds both outages and so every first-time allocation), open descriptors and
# threads, windows on screen, jobs printed against jobs stored once and
# byte-equal on the server, folders left, and whether the client is online
# at the end, with the targets. Exits non-zero only when it could not
# measure. ORIX_BUILD_DIR and ORIX_BENCH_DIR may be set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

MINUTES="${ORIX_SOAK_MINUTES:-10}"
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) MINUTES="${2:?--minutes takes a number}"; shift 2 ;;
    -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
    *) die "unknown argument $1 (try --help)" ;;
  esac
done
[[ "$MINUTES" =~ ^[0-9]+([.][0-9]+)?$ ]] || die "--minutes takes a number"
SECONDS_TOTAL="$(python3 -c "print(max(60, int(float('$MINUTES') * 60)))")"
command -v xdotool >/dev/null || die "xdotool is missing (scripts/setup.sh installs it)"

bench_build OrixClientAPP orws-devserver orix-connect-trace
rm -rf "$BENCH_DIR" && mkdir -p "$BENCH_DIR"
start_devserver server
start_relay "$DEV_PORT"
start_xvfb
start_session_bus
make_root root "$RELAY_PORT"
SPOOL="$ORIX_ROOT_PREFIX/var/spool/cups-pdf/zhangsan"
chmod 0700 "$SPOOL"
TRACE="$BENCH_DIR/connects.log"
: >"$TRACE"
ORIX_CONNECT_TRACE="$TRACE" LD_PRELOAD="$BUILD/scripts/bench/liborix-connect-trace.so" \
  start_client "$BENCH_DIR/client.log"
wait_polls 1 60 || die "the client did not go online; see $BENCH_DIR/client.log"

say "soak: $SECONDS_TOTAL s; the run's files are in $BENCH_DIR"
python3 "$ROOT/scripts/bench/soak.py" --server "$SERVER" --db "$BENCH_DIR/server/devserver.db" \
  --storage "$BENCH_DIR/server/storage" --spool "$SPOOL" --rules "$RELAY_RULES" \
  --relay-log "$RELAY_LOG" --connect-trace "$TRACE" --pid "$CLIENT_PID" \
  --relay-port "$RELAY_PORT" --seconds "$SECONDS_TOTAL" --samples "$BENCH_DIR/samples.txt"
