#!/usr/bin/env bash
# Upload benchmark: documents of 1 MiB, 100 MiB and 1 GiB go through the
# client's mobile print upload (SaveMobilePrintJob: blocks of 102400 bytes,
# one request and one new connection each) to the development server on
# 127.0.0.1. Two curl references are measured against the same server in the
# same run, each run taking its turn right after the client's:
#
#   same requests  one curl process sends exactly the requests the client
#                  sends: the client's block requests are recorded beforehand
#                  (orix-upload-bench --requests: the same code with the
#                  connection replaced by a recorder), curl posts block 0,
#                  the stored name the server answered is put into the other
#                  blocks (which repeat it), and one curl process posts them
#                  in order, each on its own connection with the client's
#                  head lines (curl chunks the body at its own boundaries).
#                  Its time is the sum of curl's time per request. This is
#                  what the server and the loopback connection allow for
#                  these requests: the target is judged against it.
#   one POST       the whole document as one plain HTTP POST
#                  ("Content-Type: application/octet-stream", which the
#                  server reads to its end and discards): the ceiling of
#                  the connection and the server's receiving, without any of
#                  the work per block.
#
# Prints the throughput of each, the client's ratio to each and the client's
# peak resident memory per size (the best of several runs; ORIX_BENCH_RUNS
# sets their number). Each upload, the client's and curl's same requests, is
# checked byte for byte against what the server stored.
#
# Targets: the client reaches at least 50 % of the same-requests reference
# at 100 MiB and 1 GiB; its peak memory does not grow with the document.
#
# Environment: ORIX_BUILD_DIR (default build), ORIX_BENCH_DIR (default
# <build>/bench-upload, removed afterwards), ORIX_BENCH_SIZES (MiB, default
# "1 100 1024"), ORIX_BENCH_RUNS (default 5, 3 and 2 for up to 1, up to 100
# and more MiB). Needs about three times the largest size in free disk space.
# Exits non-zero only when it could not measure.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
WORK="${ORIX_BENCH_DIR:-$BUILD/bench-upload}"
BENCH_DIR="$WORK"
SIZES="${ORIX_BENCH_SIZES:-1 100 1024}"

command -v curl >/dev/null || die "curl is missing"
bench_build orws-devserver orix-upload-bench
CLIENT="$BUILD/scripts/bench/orix-upload-bench"

trap 'bench_cleanup; rm -rf "$WORK"' EXIT
rm -rf "$WORK"
mkdir -p "$WORK/root/var/tmp"
# The client's temporary files go to <root>/var/tmp, not the real /var/tmp.
export ORIX_ROOT_PREFIX="$WORK/root"

# The client speaks Latin-1 strings on any port text but "8085".
start_devserver server --strings latin1
PORT="$DEV_PORT"
STORAGE="$WORK/server/storage"
URL="http://127.0.0.1:$PORT/"

runs_for() {
  if [ -n "${ORIX_BENCH_RUNS:-}" ]; then echo "$ORIX_BENCH_RUNS"
  elif [ "$1" -le 1 ]; then echo 5; elif [ "$1" -le 100 ]; then echo 3; else echo 2; fi
}
rate() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1048576; else print "inf" }'; }
percent() { awk -v c="$1" -v r="$2" 'BEGIN { printf "%.0f%%", 100 * r / c }'; }
# best VARIABLE SECONDS: keeps the smaller time.
best() {
  if [ -z "${!1}" ] || awk -v a="$2" -v b="${!1}" 'BEGIN { exit !(a < b) }'; then
    printf -v "$1" '%s' "$2"
  fi
}
# check_stored NAME DOCUMENT WHO: the server's copy is the document; then removed.
check_stored() {
  cmp -s "$2" "$STORAGE/$1/document.dat" || die "the server's copy of $3 differs"
  rm -rf "${STORAGE:?}/$1"
}

# The curl options of one recorded request: the client's head lines (curl
# makes the same request line and Host itself), nothing curl would add.
REQ="$WORK/requests"
curl_head() {
  local line
  while IFS= read -r line; do
    line="${line%$'\r'}"
    case "$line" in POST\ * | Host:* | "") continue ;; esac
    printf 'header = "%s"\n' "$line"
  done <"$REQ/head"
  printf 'header = "Accept:"\nheader = "Expect:"\nrequest = "POST"\nrequest-target = "/"\n'
}

printf '%-9s %12s %15s %6s %15s %6s %16s\n' "size" "client MiB/s" "curl same MiB/s" "ratio" \
  "curl POST MiB/s" "ratio" "client peak RSS"
for mib in $SIZES; do
  doc="$WORK/document-$mib.bin"
  head -c "$((mib * 1048576))" /dev/urandom >"$doc"
  bytes=$(stat -c %s "$doc")

  # The client's requests, recorded once per size with a stand-in of the
  # stored name (the server's names are all of this length), renamed to the
  # server's answer before each replay.
  rm -rf "$REQ" && mkdir -p "$REQ"
  placeholder="M000000000000000000.spl"
  "$CLIENT" --requests "$REQ" "$PORT" "$doc" "$placeholder" >/dev/null ||
    die "the requests of $mib MiB could not be recorded"
  head_options="$(curl_head)"
  { printf '%s\nurl = "%s"\nupload-file = "%s"\noutput = "%s"\nwrite-out = "%%{http_code} %%{time_total}\\n"\n' \
      "$head_options" "$URL" "$REQ/000000.body" "$WORK/first.out"; } >"$WORK/first.conf"
  blocks=$(find "$REQ" -name '*.body' | wc -l)
  {
    for ((i = 1; i < blocks; i++)); do
      printf '%s\nurl = "%s"\nupload-file = "%s/%06d.body"\noutput = "/dev/null"\nwrite-out = "%%{http_code} %%{time_total}\\n"\n' \
        "$head_options" "$URL" "$REQ" "$i"
      [ "$i" -lt $((blocks - 1)) ] && printf 'next\n'
    done
  } >"$WORK/rest.conf"
  current="$placeholder"

  best_client=""; best_same=""; best_post=""; rss_max=0
  for _ in $(seq 1 "$(runs_for "$mib")"); do
    line="$("$CLIENT" "$PORT" "$doc")" || die "the upload of $mib MiB failed"
    seconds=$(sed -n 's/.* seconds=\([0-9.]*\) .*/\1/p' <<<"$line")
    rss=$(sed -n 's/.* peak_rss_kb=\([0-9]*\) .*/\1/p' <<<"$line")
    stored=$(sed -n 's/.* stored=\(.*\)$/\1/p' <<<"$line")
    [ -n "$seconds" ] && [ -n "$stored" ] || die "no figures from the client: $line"
    check_stored "$stored" "$doc" "the client's $mib MiB"
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
    best best_client "$seconds"

    # curl, the same requests: block 0, then the rest with the answered name.
    first="$(curl -s -K "$WORK/first.conf")" || die "curl failed on block 0"
    name="$(sed -n 's/.*<SplFileNameOut>\([^<]*\)<.*/\1/p' "$WORK/first.out")"
    [ "${first%% *}" = 200 ] && [ -n "$name" ] ||
      die "the server refused curl's block 0: $first $(cat "$WORK/first.out")"
    "$CLIENT" --rename "$REQ" "$current" "$name" >/dev/null || die "the stored name was not put in"
    current="$name"
    curl -s -K "$WORK/rest.conf" >"$WORK/rest.out" || die "curl failed on the blocks after 0"
    [ "$(grep -c '^200 ' "$WORK/rest.out")" -eq $((blocks - 1)) ] ||
      die "the server refused some of curl's blocks: $(grep -v '^200 ' "$WORK/rest.out" | head -3)"
    seconds=$(awk -v t="${first#* }" '{ t += $2 } END { printf "%.6f", t }' "$WORK/rest.out")
    check_stored "$name" "$doc" "curl's same requests of $mib MiB"
    best best_same "$seconds"

    # curl, one POST.
    result="$(curl -s -o "$WORK/curl.out" -H 'Expect:' -H 'Content-Type: application/octet-stream' \
      -X POST -T "$doc" -w '%{http_code} %{time_total}' "${URL}discard")" || die "curl failed"
    [ "${result%% *}" = 200 ] && grep -q "discarded $bytes bytes" "$WORK/curl.out" ||
      die "the server did not take curl's $mib MiB: $result $(cat "$WORK/curl.out")"
    best best_post "${result#* }"
  done
  rm -rf "$doc" "$REQ"
  printf '%-9s %12s %15s %6s %15s %6s %12d KiB\n' "$mib MiB" "$(rate "$bytes" "$best_client")" \
    "$(rate "$bytes" "$best_same")" "$(percent "$best_client" "$best_same")" \
    "$(rate "$bytes" "$best_post")" "$(percent "$best_client" "$best_post")" "$rss_max"
done
