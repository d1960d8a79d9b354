#!/usr/bin/env bash
# A private CUPS server with the TavPrint PDF queue, for tests, the demo and
# benchmarks. It runs beside (and never touches) the machine's own CUPS: its
# configuration, spool, logs, state and ServerBin live under one folder, it
# listens only on a UNIX domain socket in that folder, and the backend writes
# its job folders under $ORIX_ROOT_PREFIX/var/spool/cups-pdf/ instead of the
# production spool root.
#
#   private-cupsd.sh start <dir> [<backend>]   start it, print what a client needs
#   private-cupsd.sh stop <dir>                stop the server started in <dir>
#
# start prints, one per line:
#   CUPS_SERVER=<dir>/run/cups.sock      (export it for lp, lpstat, cancel)
#   PRINTER=TavPDF                       (the queue; lp's default destination)
#   ORIX_ROOT_PREFIX=<root>              (the backend's relocated root)
#
# <backend> is the built backend (default: build/cups/tavpdf of this source
# tree). The spool root is relocated to $ORIX_ROOT_PREFIX when that is set,
# else to <dir>/root. The queue is made as on a workstation: its operation
# policy "authenticated" takes the job's owner from the socket peer's
# credentials, so "lp -U <another user>" is refused. <dir> is created 0755: the filters run as the user lp
# and must be able to reach the job files in it, and so must the users that
# print through the socket, so every folder above it must be searchable by
# everybody (/tmp is).
#
# ORIX_CUPSD_WITHOUT_POLICY=1 leaves the policy "authenticated" out of the
# server's cupsd.conf, to show how the queue fails closed without it (the
# queue is then created rejecting jobs).
#
# Needs root (cupsd only runs the backend as root, and only root can hand a
# job folder to its user) and the Debian packages cups-daemon, cups-client and
# cups-filters (scripts/setup.sh). Exit status: 0 done, 1 failed, 3 cannot run
# on this machine (the reason is printed).
set -euo pipefail

QUEUE=TavPDF
HERE="${BASH_SOURCE[0]%/*}"
[ "$HERE" != "${BASH_SOURCE[0]}" ] || HERE=.
HERE="$(cd "$HERE" && pwd)"
PPD="$HERE/tavpdf.ppd"
SYSTEM_SERVERBIN=/usr/lib/cups

die() { printf 'private-cupsd: %s\n' "$*" >&2; exit 1; }
cannot() { printf 'private-cupsd: cannot run here: %s\n' "$*" >&2; exit 3; }

usage() {
  printf 'usage: %s start <dir> [<backend>] | stop <dir>\n' "$0" >&2
  exit 1
}

stop_server() {
  local dir="$1" pid
  [ -f "$dir/run/cupsd.pid" ] || return 0
  pid="$(cat "$dir/run/cupsd.pid")"
  rm -f "$dir/run/cupsd.pid"
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  # Only the cupsd started for this folder: its command line names our config.
  if ! tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$dir/etc/cupsd.conf"; then
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 300); do
    alive "$pid" || return 0
    sleep 0.01
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# True while the process runs; a zombie (an exited server that nobody has
# reaped yet, the caller having gone) counts as ended.
alive() {
  local state
  state="$(sed -n 's/^[0-9]* (.*) \([A-Z]\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)" || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# Whether this cupsd takes PeerCred in cups-files.conf: CUPS 2.4.2 does (and
# rejects it in cupsd.conf); 2.4.10 knows it in neither file, its socket
# always passing the peer's credentials. Asked of cupsd itself: its syntax
# check of a minimal configuration.
peercred_known() {
  local probe="$1/probe" status=0
  mkdir -p "$probe"
  printf 'ServerRoot %s\nErrorLog %s/error_log\nPeerCred on\n' "$probe" "$probe" >"$probe/cups-files.conf"
  printf 'Listen %s/s.sock\n' "$probe" >"$probe/cupsd.conf"
  cupsd -t -c "$probe/cupsd.conf" -s "$probe/cups-files.conf" >/dev/null 2>&1 || status=1
  rm -rf "$probe"
  return "$status"
}

start_server() {
  local dir="$1" backend="$2"
  [ "$EUID" -eq 0 ] || cannot "needs root (cupsd runs the backend as root so that it can create each user's spool folder); run it with sudo"
  command -v cupsd >/dev/null || cannot "cupsd is missing; install cups-daemon, cups-client and cups-filters (bash scripts/setup.sh)"
  command -v lpadmin >/dev/null || cannot "lpadmin is missing; install cups-client (bash scripts/setup.sh)"
  [ -x "$SYSTEM_SERVERBIN/filter/pdftopdf" ] || cannot "the pdftopdf filter is missing; install cups-filters (bash scripts/setup.sh)"
  [ -f "$backend" ] || die "no backend at $backend (build the target tavpdf first)"
  [ -f "$PPD" ] || die "no PPD at $PPD"

  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  stop_server "$dir"
  local root="${ORIX_ROOT_PREFIX:-$dir/root}"
  local sock="$dir/run/cups.sock"
  [ ${#sock} -lt 100 ] || die "the folder's path is too long for a socket: $dir"
  [[ "$dir$root" != *[[:space:]]* ]] || die "the folders may not contain blanks: $dir, $root"
  [[ "$root" == /* ]] || die "ORIX_ROOT_PREFIX must be an absolute path: $root"

  # A fresh configuration each time; the root folder (job folders) is kept.
  rm -rf "$dir/etc" "$dir/bin" "$dir/share" "$dir/spool" "$dir/cache" "$dir/run" "$dir/log"
  chmod 0755 "$dir"
  mkdir -m 0755 "$dir/etc" "$dir/etc/ppd" "$dir/bin" "$dir/run" "$dir/log" "$dir/cache"
  mkdir -m 0710 "$dir/spool"
  mkdir -m 1770 "$dir/spool/tmp"
  chgrp lp "$dir/spool" "$dir/spool/tmp"
  local links=()
  for sub in filter daemon notifier driver monitor; do
    [ -e "$SYSTEM_SERVERBIN/$sub" ] && links+=("$SYSTEM_SERVERBIN/$sub")
  done
  ln -s "${links[@]}" "$dir/bin/"
  if ! runuser -u lp -- test -x "$dir/bin"; then
    die "the user lp cannot reach $dir; choose a folder under /tmp or make its parents searchable"
  fi

  local peercred=""
  peercred_known "$dir" && peercred="PeerCred on"
  cat >"$dir/etc/cups-files.conf" <<EOF
ServerRoot $dir/etc
ServerBin $dir/bin
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/run
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/run/printcap
User lp
Group lp
SystemGroup root
$peercred
FileDevice No
SetEnv ORIX_ROOT_PREFIX $root
EOF
  cat >"$dir/etc/cupsd.conf" <<EOF
Listen $sock
LogLevel info
Browsing No
WebInterface No
DefaultShared No
DefaultAuthType Basic
PreserveJobFiles No
PreserveJobHistory Yes
MaxJobs 1000
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Create-Job Print-Job Print-URI Validate-Job Get-Jobs Get-Job-Attributes Get-Printer-Attributes CUPS-Get-Printers CUPS-Get-Default CUPS-Get-Classes CUPS-Get-Devices CUPS-Get-PPDs CUPS-Get-PPD>
    Order deny,allow
  </Limit>
  <Limit Cancel-Job>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
</Policy>
# The queue's policy, as in Debian's stock cupsd.conf: creating a job needs
# authentication, which over the socket is the peer's credentials (PeerCred),
# so a local user prints without a password and only
# under his own name.
<Policy authenticated>
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
  <Limit Get-Jobs Get-Job-Attributes Get-Printer-Attributes CUPS-Get-Printers CUPS-Get-Default CUPS-Get-Classes CUPS-Get-Devices CUPS-Get-PPDs CUPS-Get-PPD>
    Order deny,allow
  </Limit>
  <Limit Cancel-Job>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
</Policy>
EOF
  if [ -n "${ORIX_CUPSD_WITHOUT_POLICY:-}" ]; then
    sed -i '/^<Policy authenticated>$/,/^<\/Policy>$/d' "$dir/etc/cupsd.conf"
  fi

  # setsid: the server does not die with the caller's terminal or process
  # group; it is stopped by "stop" (by its pid, checked against its config).
  setsid cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" \
    </dev/null >"$dir/log/cupsd.out" 2>&1 &
  local pid=$!
  echo "$pid" >"$dir/run/cupsd.pid"
  local up=""
  for _ in $(seq 1 500); do
    if [ -S "$sock" ]; then up=1; break; fi
    alive "$pid" || break
    sleep 0.01
  done
  if [ -z "$up" ]; then
    stop_server "$dir"
    die "cupsd did not start; see $dir/log/error_log and $dir/log/cupsd.out"
  fi

  local installed=0
  CUPS_SERVER="$sock" ORIX_SERVERBIN="$dir/bin" ORIX_PPD_DIR="$dir/share/ppd" \
    ORIX_CUPSD_CONF="$dir/etc/cupsd.conf" ORIX_ROOT_PREFIX="$root" \
    bash "$HERE/../scripts/install-printer.sh" "$backend" \
    >"$dir/log/install.out" 2>&1 || installed=$?
  # Without the policy the queue is made rejecting jobs (status 3).
  if [ "$installed" -ne 0 ] && { [ "$installed" -ne 3 ] || [ -z "${ORIX_CUPSD_WITHOUT_POLICY:-}" ]; }; then
    stop_server "$dir"
    die "the queue could not be installed: $(cat "$dir/log/install.out")"
  fi
  printf 'CUPS_SERVER=%s\nPRINTER=%s\nORIX_ROOT_PREFIX=%s\n' "$sock" "$QUEUE" "$root"
}

[ $# -ge 2 ] || usage
case "$1" in
  start)
    backend="${3:-$HERE/../build/cups/tavpdf}"
    start_server "$2" "$backend"
    ;;
  stop)
    [ -d "$2" ] || exit 0
    stop_server "$(cd "$2" && pwd)"
    ;;
  *) usage ;;
esac
