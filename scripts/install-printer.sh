#!/usr/bin/env bash
# Installs the TavPrint PDF printer from this source tree on a workstation
# without the package: the backend tavpdf (root, mode 0700, so that CUPS runs
# it as root and it can create each user's spool folder) and the PPD, then
# the spool root and the queue TavPDF through the package's own helper
# (cups/tavpdf-queue.sh: spool root root's 0711, queue not shared, operation
# policy "authenticated"). Safe to run again: an existing queue is updated.
#
#   sudo bash scripts/install-printer.sh [<backend>]
#
# <backend> defaults to build/cups/tavpdf, built first when missing. The CUPS
# server must be running (Debian: apt-get install cups; systemctl start cups,
# or /etc/init.d/cups start on a machine without systemd).
#
# The environment can point the installation at a private CUPS server (as
# cups/private-cupsd.sh does for tests and the demo); leave it unset on a
# workstation:
#   CUPS_SERVER       the server that gets the queue (default: the system's)
#   ORIX_SERVERBIN    its ServerBin folder (default: cups-config --serverbin)
#   ORIX_PPD_DIR      where the PPD is kept (default /usr/share/ppd/orixclient)
#   ORIX_CUPSD_CONF   its cupsd.conf (default /etc/cups/cupsd.conf)
#   ORIX_ROOT_PREFIX  relocates the spool root, as for the client
set -euo pipefail

HERE="${BASH_SOURCE[0]%/*}"
[ "$HERE" != "${BASH_SOURCE[0]}" ] || HERE=.
ROOT="$(cd "$HERE/.." && pwd)"

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
ppd_dir="${ORIX_PPD_DIR:-/usr/share/ppd/orixclient}"

# Mode 0700: CUPS runs a backend that nobody else may execute as root, and
# only root can hand a new spool folder to its user.
install -d -m 0755 "$serverbin/backend"
install -m 0700 -o root -g root "$backend" "$serverbin/backend/tavpdf"
install -d -m 0755 "$ppd_dir"
install -m 0644 -o root -g root "$ROOT/cups/tavpdf.ppd" "$ppd_dir/tavpdf.ppd"

status=0
ORIX_PPD="$ppd_dir/tavpdf.ppd" sh "$ROOT/cups/tavpdf-queue.sh" install || status=$?
[ "$status" -ne 2 ] ||
  die "the CUPS server${CUPS_SERVER:+ at $CUPS_SERVER} is not running; start it (systemctl start cups, or /etc/init.d/cups start) and run this again"
exit "$status"
