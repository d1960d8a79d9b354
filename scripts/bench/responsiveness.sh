#!/usr/bin/env bash
# How long the client's GUI thread stalls while the server answers late or
# never. The real program runs on a private Xvfb display, logged on through
# late_relay.py to the development server, with the stall probe on
# (ORIX_STALL_PROBE: a 10 ms timer on the GUI thread records how late each
# tick comes). Phases:
#
#   prompt server           the reference: every call answered at once
#   notices 8 s late        each notice poll answered after 8 s
#   notices never answered  each notice poll accepted and never answered
#   logon, calls 1 s late   a poll refused (the client goes offline), then
#                           the automatic logon with every call 1 s late
#
# Prints the worst and the 99th-percentile lateness per phase (target: the
# GUI thread never stalls longer than 100 ms). Exits non-zero only when it
# could not measure. ORIX_BUILD_DIR, ORIX_BENCH_DIR and BENCH_PHASE_SECONDS
# (default 24) may be set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

PHASE_SECONDS="${BENCH_PHASE_SECONDS:-24}"
bench_build OrixClientAPP orws-devserver
rm -rf "$BENCH_DIR" && mkdir -p "$BENCH_DIR"
start_devserver server
start_relay "$DEV_PORT"
start_xvfb
make_root root "$RELAY_PORT"
PROBE="$BENCH_DIR/stall.log"
export ORIX_STALL_PROBE="$PROBE"
start_client "$BENCH_DIR/client.log"
wait_polls 1 60 || die "the client did not go online"

PHASES="$BENCH_DIR/phases"
: >"$PHASES"
# phase NAME RULES SECONDS
phase() {
  printf '%b' "$2" >"$RELAY_RULES"
  local start
  start="$(now_ms)"
  sleep "$3"
  printf '%s\t%s\t%s\n' "$1" "$start" "$(now_ms)" >>"$PHASES"
}

phase "prompt server (reference)" "" 12
phase "notices 8 s late" "GetUserMessage 8\n" "$PHASE_SECONDS"
phase "notices never answered" "GetUserMessage never\n" "$PHASE_SECONDS"

# The logon: a refused poll sends the client offline; its automatic logon
# then meets a server that answers every call a second late.
start="$(now_ms)"
logons="$(requests_logged UserLogon)"
printf 'GetUserMessage refuse\n* 1\n' >"$RELAY_RULES"
for _ in $(seq 1 600); do
  [ "$(requests_logged UserLogon)" -gt "$logons" ] && break
  sleep 0.1
done
[ "$(requests_logged UserLogon)" -gt "$logons" ] || die "the client did not log on again"
printf '* 1\n' >"$RELAY_RULES"
polls="$(requests_logged GetUserMessage)"
wait_polls $((polls + 1)) 120 || die "the client did not come back online"
calls="$(awk -v t="$start" '$1 >= t && $2 != "GetUserMessage" && $3 == "1"' "$RELAY_LOG" | wc -l)"
printf '%s\t%s\t%s\n' "logon, calls 1 s late ($calls calls)" "$start" "$(now_ms)" >>"$PHASES"
: >"$RELAY_RULES"
sleep 1.5 # the probe writes once a second
kill -0 "$CLIENT_PID" 2>/dev/null || die "the client ended early"
[ -s "$PROBE" ] || die "the stall probe wrote nothing"

python3 - "$PROBE" "$PHASES" <<'PY'
import sys
samples = [tuple(map(int, line.split())) for line in open(sys.argv[1]) if line.strip()]
print("%-38s %8s %6s %8s %8s %10s" % ("phase", "seconds", "ticks", "worst_ms", "p99_ms", ">100ms"))
for line in open(sys.argv[2]):
    name, start, end = line.rstrip("\n").split("\t")
    start, end = int(start), int(end)
    late = sorted(l for t, l in samples if start <= t <= end)
    if not late:
        print("%-38s %8.1f %6d %8s %8s %10s" % (name, (end - start) / 1000, 0, "-", "-", "-"))
        continue
    p99 = late[min(len(late) - 1, int(0.99 * len(late)))]
    print("%-38s %8.1f %6d %8d %8d %10d" % (name, (end - start) / 1000, len(late), late[-1], p99,
                                           sum(1 for l in late if l > 100)))
print("target: worst < 100 ms in every phase")
PY
