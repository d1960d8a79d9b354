#!/usr/bin/env bash
# Disc-burning request benchmark: files of 16 MiB and 128 MiB (incompressible) go through the
# client's disc worker (orix-disc-bench: the compression and codec libraries loaded from a
# relocated program folder, then the upload in 65536-byte blocks through SaveCDJobByBlock) to
# the development server on 127.0.0.1, without the one-second pause between blocks. Reference
# in the same run: the same bytes as one plain HTTP POST by curl to the server's discard sink.
# Each upload is unpacked by the server's cd-extract and compared with its file. Then a small
# request with the production pause shows the paced rate, which must stay at or below
# 64 KiB/s.
#
# Environment: ORIX_BUILD_DIR (default build), ORIX_BENCH_DIR (default
# <build>/bench-disc, removed afterwards), ORIX_BENCH_SIZES (MiB, default "16 128").
# Exits non-zero only when it could not measure.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
WORK="${ORIX_BENCH_DIR:-$BUILD/bench-disc}"
BENCH_DIR="$WORK"
SIZES="${ORIX_BENCH_SIZES:-16 128}"

command -v curl >/dev/null || die "curl is missing"
bench_build orws-devserver orix-disc-bench disc_minizip disc_codec
CLIENT="$BUILD/scripts/bench/orix-disc-bench"

trap 'bench_cleanup; rm -rf "$WORK"' EXIT
rm -rf "$WORK"
# The program folder with the two libraries, /var/tmp and the temporary folder, all under WORK.
export ORIX_ROOT_PREFIX="$WORK/root"
PROGRAM_FOLDER="$ORIX_ROOT_PREFIX/Library/Application Support/TavPrint Driver"
mkdir -p "$PROGRAM_FOLDER" "$ORIX_ROOT_PREFIX/var/tmp" "$WORK/tmp" "$WORK/in"
cp "$BUILD/plugins/libminizip.so" "$BUILD/plugins/revududir.so" "$PROGRAM_FOLDER/"
export TMPDIR="$WORK/tmp"

start_devserver server --strings latin1
PORT="$DEV_PORT"

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $2"; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1048576; else print "inf" }'; }

# Runs one request of file with the pause interval in ms; checks what the server unpacks.
request() {
  local file=$1 interval=$2 line
  line="$("$CLIENT" "$PORT" "$file" "$interval" 2>>"$WORK/client.log")" ||
    die "the request of $file failed: $(tail -3 "$WORK/client.log")"
  rm -rf "$WORK/out"
  "$SERVER" cd-extract --db "$WORK/server/devserver.db" --storage "$WORK/server/storage" --latest \
    --out "$WORK/out" >/dev/null 2>>"$WORK/cd-extract.log" || die "cd-extract failed"
  cmp -s "$file" "$WORK/out$file" || die "the server's copy of $file differs"
  rm -rf "$WORK/server/storage/$(field stored "$line")" "$WORK/out"
  [ -z "$(ls -A "$WORK/tmp")" ] || die "the worker left files in its temporary folder"
  printf '%s\n' "$line"
}

printf '%-8s %9s %9s %10s %10s %7s %14s\n' "size" "zip MiB/s" "enc MiB/s" "upl MiB/s" \
  "curl MiB/s" "ratio" "peak RSS"
for mib in $SIZES; do
  file="$WORK/in/data-$mib.bin"
  head -c "$((mib * 1048576))" /dev/urandom >"$file"
  line="$(request "$file" 0)"
  bytes=$(stat -c %s "$file")
  uploaded=$(field uploaded "$line")
  upload_seconds=$(field upload "$line")
  result="$(curl -s -o "$WORK/curl.out" -H 'Expect:' -H 'Content-Type: application/octet-stream' \
    -X POST -T "$file" -w '%{http_code} %{time_total}' "http://127.0.0.1:$PORT/discard")" ||
    die "curl failed"
  [ "${result%% *}" = 200 ] || die "the server did not take curl's $mib MiB: $result"
  curl_seconds=${result#* }
  ratio=$(awk -v u="$uploaded" -v us="$upload_seconds" -v b="$bytes" -v cs="$curl_seconds" \
    'BEGIN { printf "%.0f%%", 100 * (u / us) / (b / cs) }')
  printf '%-8s %9s %9s %10s %10s %7s %10s KiB\n' "$mib MiB" "$(rate "$bytes" "$(field zip "$line")")" \
    "$(rate "$bytes" "$(field encrypt "$line")")" "$(rate "$uploaded" "$upload_seconds")" \
    "$(rate "$bytes" "$curl_seconds")" "$ratio" "$(field peak_rss_kb "$line")"
  rm -f "$file"
done

# The paced upload: 256 KiB with the production pause of one second after each block.
file="$WORK/in/paced.bin"
head -c 262144 /dev/urandom >"$file"
line="$(request "$file" 1000)"
awk -v u="$(field uploaded "$line")" -v s="$(field upload "$line")" -v n="$(field blocks "$line")" \
  'BEGIN { printf "paced upload: %d bytes in %d calls, %.1f s, %.1f KiB/s (limit 64)\n", u, n, s, u / s / 1024 }'
