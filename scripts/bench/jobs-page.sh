#!/usr/bin/env bash
# How fast the page "我的任务" opens with many jobs stored (the list is bounded to the newest
# 200 or 90 days: a heavy user may hold thousands): reading jobs.json, building the page on its
# table model and painting it once, offscreen, median of five runs. Reference from the same run:
# the empty list, and the same rows put into a QTableWidget. Target: 10,000 jobs within 100 ms.
# Exits non-zero only when it could not measure.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

bench_build orix-jobs-bench
BENCH="$BUILD/scripts/bench/orix-jobs-bench"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$BENCH_DIR"

printf '%-34s %8s %12s %12s\n' "what" "jobs" "read ms" "shown ms"
for jobs in 0 200 10000; do
  read -r rd sh < <("$BENCH" "$jobs" 2>"$BENCH_DIR/jobs-bench.err") ||
    die "the benchmark failed at $jobs jobs: $(cat "$BENCH_DIR/jobs-bench.err")"
  [ -n "${sh:-}" ] || die "no figures at $jobs jobs: $(cat "$BENCH_DIR/jobs-bench.err")"
  printf '%-34s %8d %12s %12s\n' "page on its model" "$jobs" "$rd" "$sh"
done
read -r rd sh < <("$BENCH" 10000 table-widget 2>"$BENCH_DIR/jobs-bench.err") ||
  die "the reference failed: $(cat "$BENCH_DIR/jobs-bench.err")"
printf '%-34s %8d %12s %12s\n' "reference: QTableWidget" 10000 "$rd" "$sh"
