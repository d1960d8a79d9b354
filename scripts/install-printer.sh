#!/usr/bin/env bash
# Installs the TavPrint PDF printer on this workstation: the backend tavpdf
# (root, mode 0700, so that CUPS runs it as root and it can create each
# user's spool folder), the PPD, the spool root /var/spool/cups-pdf/ (root,
# 0755) and the queue TavPDF. Safe to run again: an existing queue is updated.
#
#   sudo bash scripts/install-printer.sh [<backend>]
#
# <backend> defaults to build/cups/tavpdf, built first when missing. The CUPS
# server must be running (Debian: apt-get install cups; systemctl start cups).
#
# The environment can point the installation at a private CUPS server (as
# cups/private-cupsd.sh does for tests and the demo); leave it unset on a
# workstation:
#   CUPS_SERVER       the server that gets the queue (default: the system's)
#   ORIX_SERVERBIN    its ServerBin folder (default: cups-config --serverbin)
#   ORIX_PPD_DIR      where the PPD is kept (default /usr/share/ppd/tavprint)
#   ORIX_ROOT_PREFIX  relocates the spool root, as for the client
set -euo pipefail

HERE="${BASH_SOURCE[0]%/*}"
[ "$HERE" != "${BASH_SOURCE[0]}" ] || HERE=.
ROOT="$(cd "$HERE/.." && pwd)"
QUEUE=TavPDF
PPD_SOURCE="$ROOT/cups/tavpdf.ppd"

die() { printf 'install-printer: %s\n' "$*" >&2; exit 1; }

[ "$EUID" -eq 0 ] || die "needs root (the backend and the spool root belong to root); run it with sudo"
command -v lpadmin >/dev/null || die "lpadmin is missing; install cups (bash scripts/setup.sh)"

backend="${1:-$ROOT/build/cups/tavpdf}"
if [ ! -f "$backend" ] && [ $# -eq 0 ]; then
  [ -f "$ROOT/build/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$ROOT/build" >/dev/null
  cmake --build "$ROOT/build" -j2 --target tavpdf >/dev/null
fi
[ -f "$backend" ] || die "no backend at $backend"

serverbin="${ORIX_SERVERBIN:-$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)}"
ppd_dir="${ORIX_PPD_DIR:-/usr/share/ppd/tavprint}"
spool_root="${ORIX_ROOT_PREFIX:-}/var/spool/cups-pdf"

# Mode 0700: CUPS runs a backend that nobody else may execute as root, and
# only root can hand a new spool folder to its user.
install -d -m 0755 "$serverbin/backend"
install -m 0700 -o root -g root "$backend" "$serverbin/backend/tavpdf"
install -d -m 0755 "$ppd_dir"
install -m 0644 -o root -g root "$PPD_SOURCE" "$ppd_dir/tavpdf.ppd"
install -d -m 0755 -o root -g root "$spool_root"

# "Printer drivers are deprecated" is CUPS's notice about PPD files in
# general; the queue works as before.
if ! out="$(lpadmin -p "$QUEUE" -E -v tavpdf:/ -P "$ppd_dir/tavpdf.ppd" \
    -D "TavPrint PDF printer" -o printer-error-policy=abort-job \
    -o printer-is-shared=false 2>&1)"; then
  if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    die "the CUPS server is not running${CUPS_SERVER:+ at $CUPS_SERVER}; start it (systemctl start cups) and run this again"
  fi
  die "lpadmin could not create the queue $QUEUE: $out"
fi
while IFS= read -r line; do
  [[ -z "$line" || "$line" == *"drivers are deprecated"* ]] || printf '%s\n' "$line" >&2
done <<<"$out"

printf 'Installed the queue %s; users print to it with:\n  lp -d %s <file>\n' "$QUEUE" "$QUEUE"
