#!/usr/bin/env bash
# Upload benchmark: documents of 1 MiB, 100 MiB and 1 GiB go through the
# client's mobile print upload (SaveMobilePrintJob, blocks of 102400 bytes,
# one request each) to the development server on 127.0.0.1, and the same
# bytes go to the same server, in the same run, as one plain HTTP POST by
# curl ("Content-Type: application/octet-stream", which the server reads to
# its end and discards: the reference for what the loopback connection and
# the server's receiving carry). Prints the throughput of each, their ratio
# and the client's peak resident memory per size. Each upload is checked
# byte for byte against what the server stored.
#
# Targets: the client reaches at least 50 % of curl's throughput at 100 MiB
# and 1 GiB; its peak memory does not grow with the document.
#
# Environment: ORIX_BUILD_DIR (default build), ORIX_BENCH_DIR (default
# <build>/bench-upload, removed afterwards), ORIX_BENCH_SIZES (MiB, default
# "1 100 1024"). Exits non-zero only when it could not measure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${ORIX_BUILD_DIR:-$ROOT/build}"
WORK="${ORIX_BENCH_DIR:-$BUILD/bench-upload}"
SIZES="${ORIX_BENCH_SIZES:-1 100 1024}"

die() { printf 'upload.sh: %s\n' "$*" >&2; exit 1; }

command -v curl >/dev/null || die "curl is missing"
if ! grep -qs '^ORIX_BUILD_BENCH:BOOL=ON' "$BUILD/CMakeCache.txt"; then
  cmake -S "$ROOT" -B "$BUILD" -DORIX_BUILD_BENCH=ON >/dev/null || die "cmake failed"
fi
cmake --build "$BUILD" -j2 --target orws-devserver orix-upload-bench >/dev/null ||
  die "the build failed"
SERVER="$BUILD/devserver/orws-devserver"
CLIENT="$BUILD/scripts/bench/orix-upload-bench"

SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

rm -rf "$WORK"
mkdir -p "$WORK/root/var/tmp"
# The client's temporary files go to <root>/var/tmp, not the real /var/tmp.
export ORIX_ROOT_PREFIX="$WORK/root"

# The client speaks Latin-1 strings on any port text but "8085".
"$SERVER" --port 0 --db "$WORK/devserver.db" --storage "$WORK/storage" --strings latin1 \
  >"$WORK/server.out" 2>"$WORK/server.log" &
SERVER_PID=$!
PORT=""
for _ in $(seq 1 100); do
  PORT="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$WORK/server.out")"
  [ -n "$PORT" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || die "the server did not start: $(cat "$WORK/server.log")"
  sleep 0.1
done
[ -n "$PORT" ] || die "the server did not report its port"

# Best of several runs for the small sizes, where one run is short and noisy.
runs_for() { if [ "$1" -le 1 ]; then echo 5; elif [ "$1" -le 100 ]; then echo 2; else echo 1; fi; }

rate() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1048576; else print "inf" }'; }

printf '%-9s %14s %14s %7s %16s\n' "size" "client MiB/s" "curl MiB/s" "ratio" "client peak RSS"
for mib in $SIZES; do
  doc="$WORK/document-$mib.bin"
  head -c "$((mib * 1048576))" /dev/urandom >"$doc"
  bytes=$(stat -c %s "$doc")
  best_client=""; best_curl=""; rss_max=0
  for _ in $(seq 1 "$(runs_for "$mib")"); do
    line="$("$CLIENT" "$PORT" "$doc")" || die "the upload of $mib MiB failed"
    seconds=$(sed -n 's/.* seconds=\([0-9.]*\) .*/\1/p' <<<"$line")
    rss=$(sed -n 's/.* peak_rss_kb=\([0-9]*\) .*/\1/p' <<<"$line")
    stored=$(sed -n 's/.* stored=\(.*\)$/\1/p' <<<"$line")
    [ -n "$seconds" ] && [ -n "$stored" ] || die "no figures from the client: $line"
    cmp -s "$doc" "$WORK/storage/$stored/document.dat" ||
      die "the server's copy of the $mib MiB document differs"
    rm -rf "${WORK:?}/storage/$stored"
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
    if [ -z "$best_client" ] || awk -v a="$seconds" -v b="$best_client" 'BEGIN { exit !(a < b) }'; then
      best_client=$seconds
    fi

    result="$(curl -s -o "$WORK/curl.out" -H 'Expect:' -H 'Content-Type: application/octet-stream' \
      -X POST -T "$doc" -w '%{http_code} %{time_total}' "http://127.0.0.1:$PORT/discard")" ||
      die "curl failed"
    [ "${result%% *}" = 200 ] && grep -q "discarded $bytes bytes" "$WORK/curl.out" ||
      die "the server did not take curl's $mib MiB: $result $(cat "$WORK/curl.out")"
    seconds=${result#* }
    if [ -z "$best_curl" ] || awk -v a="$seconds" -v b="$best_curl" 'BEGIN { exit !(a < b) }'; then
      best_curl=$seconds
    fi
  done
  rm -f "$doc"
  client_rate=$(rate "$bytes" "$best_client")
  curl_rate=$(rate "$bytes" "$best_curl")
  ratio=$(awk -v c="$best_client" -v r="$best_curl" 'BEGIN { printf "%.0f%%", 100 * r / c }')
  printf '%-9s %14s %14s %7s %13d KiB\n' "$mib MiB" "$client_rate" "$curl_rate" "$ratio" "$rss_max"
done
