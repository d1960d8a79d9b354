#!/usr/bin/env bash
# Speed of the PDF printer, in a private CUPS server (cups/private-cupsd.sh):
#   - start of the private server with its queue (median of 5);
#   - lp -> job folder complete in the spool folder, for a one-page PDF and
#     for a short text file (median of 20 each);
#   - reference, same run: the same PDF printed raw (lp -o raw: no filters,
#     only the server and the backend).
# Needs root (see cups/private-cupsd.sh). Exits non-zero only when it could
# not measure.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${ORIX_BUILD_DIR:-$ROOT/build}"
HELPER="$ROOT/cups/private-cupsd.sh"
RUNS=20

die() { printf 'pdf-printer bench: %s\n' "$*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root (the private CUPS server runs the backend as root)"
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target tavpdf >/dev/null
BACKEND="$BUILD/cups/tavpdf"

WORK="$(mktemp -d /tmp/orix-bench-cups-XXXXXX)"
chmod 0755 "$WORK"
trap 'bash "$HELPER" stop "$WORK/cupsd" >/dev/null 2>&1 || true; rm -rf "$WORK"; userdel "${PRINT_USER:-}" 2>/dev/null || true' EXIT
export ORIX_ROOT_PREFIX="$WORK/root"

now_us() { local t="${EPOCHREALTIME/./}"; echo "$t"; }
# A sleep without a child process: waiting on a pipe that never has data.
exec {NAP}<> <(:)
nap() { read -r -t 0.002 -u "$NAP" _ || true; }

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.0f", m / 1000 }'; }

# --- server start ---------------------------------------------------------------
starts=()
for _ in 1 2 3 4 5; do
  bash "$HELPER" stop "$WORK/cupsd"
  t0="$(now_us)"
  bash "$HELPER" start "$WORK/cupsd" "$BACKEND" >"$WORK/start.out" || die "the private server did not start"
  t1="$(now_us)"
  starts+=($((t1 - t0)))
done
eval "$(grep -E '^(CUPS_SERVER|PRINTER)=' "$WORK/start.out" | sed 's/^/export /')"
start_ms="$(printf '%s\n' "${starts[@]}" | median)"

# --- documents ------------------------------------------------------------------
bash "$ROOT/scripts/one-page-pdf.sh" "Benchmark page" >"$WORK/page.pdf"
printf '基准测试 benchmark line\n%.0s' $(seq 1 40) >"$WORK/text.txt"
chmod 0644 "$WORK/page.pdf" "$WORK/text.txt"

# The printer writes no job of root's nor of special accounts (nobody): the
# jobs are printed by a throwaway user, removed again.
PRINT_USER="orixbench$$"
useradd --no-create-home --shell /usr/sbin/nologin --user-group \
  --comment "throwaway user of an OrixClient benchmark" "$PRINT_USER"
SPOOL_USER="$ORIX_ROOT_PREFIX/var/spool/cups-pdf/$PRINT_USER"

# lp with the arguments given; prints microseconds until the job folder is
# complete.
measure() {
  local t0 id name deadline
  t0="$(now_us)"
  id="$(runuser -u "$PRINT_USER" -- env LC_ALL=C CUPS_SERVER="$CUPS_SERVER" lp -d TavPDF "$@" |
    sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p')"
  [ -n "$id" ] || return 1
  deadline=$((t0 + 30000000))
  name="$(printf -- '-%010d' "$id")"
  until compgen -G "$SPOOL_USER/*$name" >/dev/null; do
    [ "$(now_us)" -lt "$deadline" ] || return 1
    nap
  done
  echo $(($(now_us) - t0))
}

run() {
  local i
  measure "$@" >/dev/null || return 1 # warm-up
  for ((i = 0; i < RUNS; i++)); do measure "$@" || return 1; done | median
}

pdf_ms="$(run "$WORK/page.pdf")" || die "a PDF job did not arrive"
text_ms="$(run "$WORK/text.txt")" || die "a text job did not arrive"
raw_ms="$(run -o raw "$WORK/page.pdf")" || die "a raw job did not arrive"

printf '%-58s %8s\n' "what" "ms"
printf '%-58s %8s\n' "private CUPS server start with queue (median of 5)" "$start_ms"
printf '%-58s %8s\n' "lp -> job folder complete, 1-page PDF (median of $RUNS)" "$pdf_ms"
printf '%-58s %8s\n' "lp -> job folder complete, Chinese text (median of $RUNS)" "$text_ms"
printf '%-58s %8s\n' "reference: same PDF raw, no filters (median of $RUNS)" "$raw_ms"
