#!/bin/sh
# The TavPrint PDF printer's queue and spool root on this workstation. The
# package runs it from its maintainer scripts and its boot-time unit
# orixclient-queue.service (installed as /usr/lib/orixclient/tavpdf-queue);
# scripts/install-printer.sh and cups/private-cupsd.sh run it from the source
# tree. Needs root, except for check-policy.
#
#   tavpdf-queue install [--wait SECONDS] [--quiet] [--if-missing]
#       Makes the spool root (root, 0711) and creates or updates the queue
#       TavPDF with the backend tavpdf and the PPD: not shared, error policy
#       abort-job, operation policy "authenticated" (over the local socket
#       CUPS takes the job's owner from the peer's credentials, so nobody can
#       print under another user's name; local users are not asked for a
#       password). Never makes it the default printer. A new queue is enabled
#       and accepts jobs; an existing one keeps the state an administrator
#       gave it. Where the server's policy does not authenticate job creation
#       the queue is left rejecting jobs and disabled (fail closed), and the
#       message says what to add to cupsd.conf. Waits up to SECONDS (default
#       0) for the CUPS server to answer. --if-missing leaves an existing
#       queue alone.
#   tavpdf-queue remove
#       Removes every queue whose device is the backend tavpdf.
#   tavpdf-queue check-policy
#       Exit status 0 when cupsd.conf has the policy "authenticated" and its
#       Limit for Create-Job and for Print-Job asks for authentication
#       (AuthType other than None), else 1 with what to add.
#
# Exit status: 0 done; 1 failed; 2 the CUPS server does not answer (nothing
# was done to the queues; the message says how to do it later); 3 the queue
# exists but rejects jobs, because the server has no usable "authenticated"
# policy (the message says what to add).
#
# It reads only exit statuses and the C locale's output of the CUPS tools, so
# it works in any locale.
#
# Environment, for a private CUPS server (tests, the demo); leave it unset on
# a workstation (the package's scripts clear it):
#   CUPS_SERVER       the server that gets the queue (default: the system's)
#   ORIX_PPD          the PPD given to lpadmin (default: the package's)
#   ORIX_CUPSD_CONF   the server's cupsd.conf (default /etc/cups/cupsd.conf)
#   ORIX_ROOT_PREFIX  relocates the spool root, as for the client
set -eu
LC_ALL=C
export LC_ALL
unset LANGUAGE || true

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
  lpstat -r 2>/dev/null | grep -qx "scheduler is running"
}

queue_exists() {
  lpstat -p "$QUEUE" >/dev/null 2>&1
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

# True when cupsd.conf defines the policy and the Limit that governs
# Create-Job, and the one that governs Print-Job (the Limit naming the
# operation, else "Limit All"), ask for authentication: an AuthType other
# than None ("Default" standing for DefaultAuthType, Basic when unset).
# False when the file cannot be read.
policy_authenticates() {
  [ -r "$CUPSD_CONF" ] || return 1
  awk -v policy="$POLICY" '
    { line = $0; sub(/^[ \t]+/, "", line); if (line ~ /^#/) next }
    tolower($1) == "defaultauthtype" && !inside { defaultType = tolower($2) }
    tolower($1) == "<policy" {
      name = tolower($2); sub(/>$/, "", name)
      inside = (name == tolower(policy)); if (inside) found = 1; limit = 0; next
    }
    tolower($1) == "</policy>" { inside = 0; limit = 0; next }
    inside && tolower($1) == "<limit" {
      ops = tolower(line); sub(/^<limit[ \t]+/, "", ops); sub(/>[ \t\r]*$/, "", ops)
      gsub(/[ \t]+/, " ", ops)
      limits++; names[limits] = " " ops " "; limit = limits; next
    }
    inside && tolower($1) == "</limit>" { limit = 0; next }
    inside && limit && tolower($1) == "authtype" { type[limit] = tolower($2) }
    function governs(op,    i) {
      for (i = 1; i <= limits; i++) if (index(names[i], " " op " ")) return i
      for (i = 1; i <= limits; i++) if (index(names[i], " all ")) return i
      return 0
    }
    function asks(op,    i, t) {
      i = governs(op); if (!i) return 0
      t = type[i]; if (t == "default") t = defaultType == "" ? "basic" : defaultType
      return t != "" && t != "none"
    }
    END { exit found && asks("create-job") && asks("print-job") ? 0 : 1 }
  ' "$CUPSD_CONF"
}

# What an administrator adds to cupsd.conf: the policy of Debian's stock
# configuration.
explain_policy() {
  warn "$CUPSD_CONF has no <Policy $POLICY> whose Limit for Create-Job and Print-Job asks"
  warn "  for authentication, so any local user could print to $QUEUE under another"
  warn "  user's name. $QUEUE rejects jobs until this is added to $CUPSD_CONF"
  warn "  (with \"DefaultAuthType Basic\"; CUPS before 2.4.10 also needs \"PeerCred on\""
  warn "  in cups-files.conf, newer ones reject that line):"
  cat >&2 <<EOF
<Policy $POLICY>
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    AuthType Default
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Cancel-Job>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
</Policy>
EOF
  warn "  then restart CUPS and run: sudo /usr/lib/orixclient/tavpdf-queue install;"
  warn "  then sudo cupsenable $QUEUE; sudo cupsaccept $QUEUE"
}

# Creates or updates the queue; further lpadmin options in the arguments.
define_queue() {
  lpadmin -p "$QUEUE" -v "$DEVICE" -P "$PPD" -D "TavPrint PDF printer" \
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

  existing=""
  queue_exists && existing=1
  if [ -n "$existing" ] && [ -n "$if_missing" ]; then
    say "the queue $QUEUE is there; left as it is"
    return 0
  fi
  safe=1
  policy_authenticates || safe=""
  # Only a new queue on a server that knows who prints is enabled here: an
  # administrator's "cupsdisable" or "cupsreject" outlives upgrades.
  enable=""
  [ -z "$existing" ] && [ -n "$safe" ] && enable=-E
  # "Printer drivers are deprecated" is CUPS's notice about PPD files in
  # general; the queue works as before.
  if ! out="$(define_queue $enable -o printer-op-policy="$POLICY" 2>&1)"; then
    case "$out" in
      *"Unknown printer-op-policy"*)
        safe=""
        out="$(define_queue 2>&1)" || die "lpadmin could not create the queue $QUEUE: $out"
        ;;
      *) die "lpadmin could not create the queue $QUEUE: $out" ;;
    esac
  fi
  printf '%s\n' "$out" | while IFS= read -r line; do
    case "$line" in "" | *"drivers are deprecated"*) ;; *) warn "$line" ;; esac
  done
  if [ -z "$safe" ]; then
    reason="the CUPS server has no policy $POLICY that authenticates job creation"
    cupsreject -r "$reason" "$QUEUE" || die "cupsreject $QUEUE failed"
    cupsdisable -r "$reason" "$QUEUE" || die "cupsdisable $QUEUE failed"
    explain_policy
    return 3
  fi
  say "the queue $QUEUE is ready; users print to it with: lp -d $QUEUE <file>"
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
  status=0
  for queue in $(our_queues); do
    lpadmin -x "$queue" || { warn "could not remove the queue $queue"; status=1; }
  done
  return "$status"
}

[ $# -ge 1 ] || die "usage: tavpdf-queue install [--wait SECONDS] [--quiet] [--if-missing] | remove | check-policy"
command="$1"
shift
wait_seconds=0
if_missing=""
while [ $# -gt 0 ]; do
  case "$1" in
    --wait) wait_seconds="${2:?--wait needs a number of seconds}"; shift 2 ;;
    --quiet) quiet=1; shift ;;
    --if-missing) if_missing=1; shift ;;
    *) die "unknown option $1" ;;
  esac
done
if [ "$command" = check-policy ]; then
  policy_authenticates && exit 0
  explain_policy
  exit 1
fi
[ "$(id -u)" -eq 0 ] || die "needs root (the spool root and the queues are root's); run it with sudo"
case "$command" in
  install) install_queue ;;
  remove) remove_queues ;;
  *) die "unknown command $command" ;;
esac
