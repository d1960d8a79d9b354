#!/bin/sh
# The TavPrint PDF printer's queue and spool root on this workstation. The
# package runs it from its maintainer scripts (installed as
# /usr/lib/orixclient/tavpdf-queue); scripts/install-printer.sh and
# cups/private-cupsd.sh run it from the source tree. Needs root.
#
#   tavpdf-queue install [--wait SECONDS] [--quiet]
#       Makes the spool root (root, 0711) and creates or updates the queue
#       TavPDF with the backend tavpdf and the PPD: not shared, error policy
#       abort-job, operation policy "authenticated" (over the local socket
#       CUPS takes the job's owner from the peer's credentials, so nobody can
#       print under another user's name; local users are not asked for a
#       password). Never makes it the default printer. Waits up to SECONDS
#       (default 0) for the CUPS server to answer.
#   tavpdf-queue remove
#       Removes every queue whose device is the backend tavpdf.
#
# Exit status: 0 done; 1 failed; 2 the CUPS server does not answer (nothing
# was done to the queues; the message says how to do it later); 3 the queue
# works but does not know who prints (the server has no usable
# "authenticated" policy; the message says what to add).
#
# Environment, for a private CUPS server (tests, the demo); leave it unset on
# a workstation:
#   CUPS_SERVER       the server that gets the queue (default: the system's)
#   ORIX_PPD          the PPD given to lpadmin (default: the package's)
#   ORIX_CUPSD_CONF   the server's cupsd.conf (default /etc/cups/cupsd.conf)
#   ORIX_ROOT_PREFIX  relocates the spool root, as for the client
set -eu
# lpstat and lpadmin are read in the C locale, whatever the caller's.
export LC_ALL=C

QUEUE=TavPDF
DEVICE=tavpdf:/
POLICY=authenticated
PPD="${ORIX_PPD:-/usr/share/ppd/orixclient/tavpdf.ppd}"
CUPSD_CONF="${ORIX_CUPSD_CONF:-/etc/cups/cupsd.conf}"
SPOOL_ROOT="${ORIX_ROOT_PREFIX:-}/var/spool/cups-pdf"
LATER="run \"sudo /usr/lib/orixclient/tavpdf-queue install\" once the CUPS server runs"

quiet=""
say() { [ -n "$quiet" ] || printf 'tavpdf-queue: %s\n' "$*"; }
warn() { printf 'tavpdf-queue: %s\n' "$*" >&2; }
die() { warn "$*"; exit 1; }

server_answers() {
  lpstat -r 2>/dev/null | grep -q "is running"
}

wait_for_server() {
  waited=0
  while ! server_answers; do
    [ "$waited" -lt "$1" ] || return 1
    sleep 1
    waited=$((waited + 1))
  done
}

# The spool root: root's, 0711. Users reach their own folder in it (the
# backend makes it, 0700, for the first job); nobody can list who printed.
make_spool_root() {
  if [ -L "$SPOOL_ROOT" ] || { [ -e "$SPOOL_ROOT" ] && [ ! -d "$SPOOL_ROOT" ]; }; then
    die "$SPOOL_ROOT is not a folder; remove it and run this again"
  fi
  mkdir -p "$SPOOL_ROOT"
  chown root:root "$SPOOL_ROOT"
  chmod 0711 "$SPOOL_ROOT"
}

# True when cupsd.conf defines the policy and it asks for authentication of
# job creation ("AuthType" other than None in the Limit that names
# Create-Job). Unknown when the file cannot be read: then lpadmin decides.
policy_authenticates() {
  [ -r "$CUPSD_CONF" ] || return 0
  awk -v policy="$POLICY" '
    tolower($1) == "<policy" { inside = (tolower($2) == tolower(policy) ">") }
    tolower($1) == "</policy>" { inside = 0 }
    inside && tolower($1) == "<limit" { limit = ($0 ~ /[ \t]Create-Job([ \t>]|$)/) }
    inside && tolower($1) == "</limit>" { limit = 0 }
    inside && limit && tolower($1) == "authtype" && tolower($2) != "none" { found = 1 }
    END { exit found ? 0 : 1 }
  ' "$CUPSD_CONF"
}

# Creates or updates the queue; further lpadmin options in the arguments.
define_queue() {
  lpadmin -p "$QUEUE" -E -v "$DEVICE" -P "$PPD" -D "TavPrint PDF printer" \
    -o printer-error-policy=abort-job -o printer-is-shared=false "$@"
}

install_queue() {
  make_spool_root
  command -v lpadmin >/dev/null 2>&1 || {
    warn "the CUPS client programs are missing (cups-client); $LATER"
    exit 2
  }
  if ! wait_for_server "$wait_seconds"; then
    warn "the CUPS server${CUPS_SERVER:+ at $CUPS_SERVER} does not answer; the queue $QUEUE was not created; $LATER"
    exit 2
  fi
  [ -f "$PPD" ] || die "no PPD at $PPD"

  status=0
  if ! policy_authenticates; then
    warn "$CUPSD_CONF has no <Policy $POLICY> that asks for authentication of Create-Job:"
    warn "  any local user can print to $QUEUE under another user's name. Add the policy"
    warn "  (Debian's stock cupsd.conf has it; see the README's administrators' section),"
    warn "  restart CUPS and run this again."
    status=3
  fi
  # "Printer drivers are deprecated" is CUPS's notice about PPD files in
  # general; the queue works as before.
  if ! out="$(define_queue -o printer-op-policy="$POLICY" 2>&1)"; then
    case "$out" in
      *"Unknown printer-op-policy"*)
        warn "the CUPS server knows no policy \"$POLICY\": $QUEUE is created with the default"
        warn "  policy, under which any local user can print under another user's name."
        status=3
        out="$(define_queue 2>&1)" || die "lpadmin could not create the queue $QUEUE: $out"
        ;;
      *) die "lpadmin could not create the queue $QUEUE: $out" ;;
    esac
  fi
  printf '%s\n' "$out" | while IFS= read -r line; do
    case "$line" in "" | *"drivers are deprecated"*) ;; *) warn "$line" ;; esac
  done
  say "the queue $QUEUE is ready; users print to it with: lp -d $QUEUE <file>"
  return "$status"
}

# Every queue whose device is our backend, whatever its name.
our_queues() {
  lpstat -v 2>/dev/null | sed -n 's/^device for \(.*\): tavpdf:.*$/\1/p'
}

remove_queues() {
  command -v lpstat >/dev/null 2>&1 || return 0
  if ! server_answers; then
    warn "the CUPS server does not answer; remove the queue $QUEUE later with: sudo lpadmin -x $QUEUE"
    return 2
  fi
  for queue in $(our_queues); do
    lpadmin -x "$queue" || warn "could not remove the queue $queue"
  done
}

[ "$(id -u)" -eq 0 ] || die "needs root (the spool root and the queues are root's); run it with sudo"
[ $# -ge 1 ] || die "usage: tavpdf-queue install [--wait SECONDS] [--quiet] | remove"
command="$1"
shift
wait_seconds=0
while [ $# -gt 0 ]; do
  case "$1" in
    --wait) wait_seconds="${2:?--wait needs a number of seconds}"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    *) die "unknown option $1" ;;
  esac
done
case "$command" in
  install) install_queue ;;
  remove) remove_queues ;;
  *) die "unknown command $command" ;;
esac
