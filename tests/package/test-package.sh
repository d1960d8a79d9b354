#!/usr/bin/env bash
# The Debian package on this machine, the way an administrator uses it:
#   1. builds it (scripts/package.sh, DEB_BUILD_OPTIONS=nocheck: the tests
#      already ran), checks paths, modes, conffiles and dependencies, lintian;
#   2. starts the system's cupsd when it does not run (without systemd: its
#      init script), installs the packages with apt, checks the queue TavPDF;
#   3. runs "OrixClientAPP --check" as a fresh local user against the
#      development server of the second package (without a desktop only the
#      tray and notification lines may fail);
#   4. prints a PDF with lp as that user and checks the job folder; then the
#      refused cases: another user's "lp -U <first user>", "lp -U root", a
#      job of root and one of a system account write nothing;
#   5. purges the packages and checks that the queue, the autostart entry,
#      the program and the configuration are gone, the user's unhandled job
#      is kept and reported, and nothing it started still runs;
#   6. installs the way a workstation image is built: preseeded debconf
#      answers, no cupsd running (as in a chroot), so no queue; checks the
#      configuration; then the first boot: cupsd and the unit
#      orixclient-queue.service (run as systemd would run it when systemd is
#      not PID 1) create the queue; an administrator's edit survives
#      dpkg-reconfigure; the purge forgets the answers.
# Whatever the outcome, it removes what it added (packages and what apt
# installed for them, users, the server it started, cupsd when it started
# it). A package left installed by an earlier run is purged first.
#
# Needs root on a Debian machine that may be changed (CI); skips otherwise.
# Prints the figures at the end: package size, build, install and whole
# test time.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
OUT="$ROOT/build/package"
USER_A=orixpkga # prints
USER_B=orixpkgb # tries to print under A's name
SPOOL=/var/spool/cups-pdf
PROGRAM_FOLDER="/Library/Application Support/TavPrint Driver"

say() { printf 'package test: %s\n' "$*"; }
fail() { say "FAILED: $*" >&2; exit 1; }
check() { # check DESCRIPTION COMMAND...: runs the command, fails the test when it fails
  local what="$1"
  shift
  "$@" || fail "$what"
}

if [ "$(id -u)" -ne 0 ]; then
  say "SKIP: needs root (it installs the package, creates users and starts cupsd; run it on a disposable machine)"
  exit 0
fi
if ! command -v apt-get >/dev/null || ! command -v dpkg-deb >/dev/null; then
  say "SKIP: not a Debian machine (no apt-get or dpkg-deb)"
  exit 0
fi
# The system's paths and the system's CUPS, never a relocated root or a private server.
unset ORIX_ROOT_PREFIX CUPS_SERVER
export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -o DPkg::Lock::Timeout=300 -y -qq)
T0=$(date +%s%N)
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

WORK="$(mktemp -d /tmp/orix-package-test-XXXXXX)"
chmod 0755 "$WORK"
STARTED_CUPSD=""
SERVER_PID=""
NEW_PACKAGES=()
SPOOL_EXISTED=""
[ -e "$SPOOL" ] && SPOOL_EXISTED=1
CUPSD_WAS_RUNNING=""

# True while process $1 runs (a zombie nobody reaped counts as ended).
alive() {
  local state
  state="$(ps -o stat= -p "${1:-0}" 2>/dev/null)" || return 1
  [ -n "$state" ] && [[ "$state" != Z* ]]
}
installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q "install ok installed"; }
cupsd_answers() { LC_ALL=C lpstat -r 2>/dev/null | grep -qx "scheduler is running"; }

start_cupsd() {
  cupsd_answers && return 0
  if [ -x /etc/init.d/cups ]; then
    /etc/init.d/cups start >/dev/null
  else
    cupsd
  fi
  STARTED_CUPSD=1
  for _ in $(seq 1 100); do
    cupsd_answers && return 0
    sleep 0.1
  done
  fail "the system's cupsd did not start"
}

stop_cupsd() {
  [ -n "$STARTED_CUPSD" ] || return 0
  if [ -x /etc/init.d/cups ]; then
    /etc/init.d/cups stop >/dev/null 2>&1 || true
  elif [ -f /run/cups/cupsd.pid ]; then
    kill "$(cat /run/cups/cupsd.pid)" 2>/dev/null || true
  fi
  STARTED_CUPSD=""
}

remove_users() {
  local user
  for user in "$USER_A" "$USER_B"; do
    id "$user" >/dev/null 2>&1 && userdel -r "$user" >/dev/null 2>&1
    rm -rf "${SPOOL:?}/$user"
  done
}

purge() {
  local packages=()
  installed orixclient && packages+=(orixclient)
  installed orixclient-devserver && packages+=(orixclient-devserver)
  [ ${#packages[@]} -eq 0 ] || "${APT[@]}" purge "${packages[@]}"
}

cleanup() {
  local status=$?
  trap - EXIT
  set +e
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
  fi
  purge >/dev/null 2>&1
  [ ${#NEW_PACKAGES[@]} -eq 0 ] || "${APT[@]}" purge "${NEW_PACKAGES[@]}" >/dev/null 2>&1
  remove_users
  [ -n "$SPOOL_EXISTED" ] || rmdir "$SPOOL" 2>/dev/null
  stop_cupsd
  rm -rf "$WORK"
  [ "$status" -eq 0 ] || say "failed; everything it added is removed again"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- what an earlier run may have left ------------------------------------------------
cupsd_answers && CUPSD_WAS_RUNNING=1
start_cupsd
if installed orixclient || installed orixclient-devserver; then
  say "purging the package an earlier run left installed"
  purge >/dev/null
fi
remove_users
QUEUES_BEFORE="$(lpstat -v 2>/dev/null | sort || true)"

# --- 1. build, contents, lintian --------------------------------------------------------
T_BUILD=$(date +%s%N)
DEB="$(DEB_BUILD_OPTIONS=nocheck bash "$ROOT/scripts/package.sh" "$OUT" | tail -n1)"
BUILD_MS=$(ms_since "$T_BUILD")
DEV_DEB="${DEB/orixclient_/orixclient-devserver_}"
check "no package at $DEB" test -f "$DEB" -a -f "$DEV_DEB"

contents="$(dpkg-deb -c "$DEB" | awk '{ mode = $1; owner = $2; $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print mode, owner, $0 }')"
has() { grep -qxF -- "$1" <<<"$contents" || fail "the package lacks \"$1\""; }
has "-rwxr-xr-x root/root ./usr/bin/OrixClientAPP"
has "-rwx------ root/root ./usr/lib/cups/backend/tavpdf"
has "-rw-r--r-- root/root ./usr/share/ppd/orixclient/tavpdf.ppd"
has "-rwxr-xr-x root/root ./usr/lib/orixclient/tavpdf-queue"
for library in ifclient.so libminizip.so revududir.so; do
  has "-rw-r--r-- root/root ./usr/lib/orixclient/$library"
done
has "drwxr-xr-x root/root .$PROGRAM_FOLDER/"
has "lrwxrwxrwx root/root .$PROGRAM_FOLDER/OrixClientAPP.ini -> /etc/orixclient/OrixClientAPP.ini"
has "lrwxrwxrwx root/root .$PROGRAM_FOLDER/libminizip.so -> /usr/lib/orixclient/libminizip.so"
has "lrwxrwxrwx root/root .$PROGRAM_FOLDER/revududir.so -> /usr/lib/orixclient/revududir.so"
has "-rw-r--r-- root/root ./usr/share/orixclient/OrixClientAPP.ini"
grep -q " \./etc/orixclient/" <<<"$contents" && fail "the package ships /etc/orixclient (ucf writes it)"
grep -qE "^-rw-r--r-- root/root \.(/usr)?/lib/systemd/system/orixclient-queue\.service$" <<<"$contents" ||
  fail "the package lacks orixclient-queue.service"
has "-rw-r--r-- root/root ./etc/xdg/autostart/orixclient.desktop"
has "-rw-r--r-- root/root ./usr/share/applications/orixclient.desktop"
has "-rw-r--r-- root/root ./usr/share/metainfo/org.orixclient.OrixClient.metainfo.xml"
has "-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/orixclient.png"
has "-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/orixclient.svg"
# The sign-on stand-in switches every client to the outside sign-on: never linked by default.
if grep -E "ifclient|orws-devserver|tst_|bench" <<<"$contents" | grep -v "^-rw-r--r-- root/root ./usr/lib/orixclient/ifclient.so$"; then
  fail "the client's package carries the above"
fi
dpkg-deb -c "$DEV_DEB" >"$WORK/devserver-contents"
check "orws-devserver in its own package" grep -q "./usr/bin/orws-devserver$" "$WORK/devserver-contents"
conffiles="$(dpkg-deb -I "$DEB" conffiles | sort | paste -sd' ')"
check "conffiles: $conffiles" \
  test "$conffiles" = "/etc/xdg/autostart/orixclient.desktop"
depends="$(dpkg-deb -f "$DEB" Depends)"
for wanted in "libcups2" "libqpdf29" "cups-daemon" "cups-client" "cups-filters" "xdg-utils" "ucf" \
  "fonts-noto-cjk | fonts-wqy-microhei"; do
  grep -qF "$wanted" <<<"$depends" || fail "Depends lacks $wanted: $depends"
done
check "Recommends" grep -q gnome-shell-extension-appindicator <(dpkg-deb -f "$DEB" Recommends)
# The software centres' metadata, as shipped (no network: screenshots are not fetched).
dpkg-deb -x "$DEB" "$WORK/unpacked"
check "appstreamcli validate failed (above)" \
  env LC_ALL=C appstreamcli validate --no-net \
  "$WORK/unpacked/usr/share/metainfo/org.orixclient.OrixClient.metainfo.xml"
for entry in usr/share/applications/orixclient.desktop etc/xdg/autostart/orixclient.desktop; do
  check "$entry lacks X-GNOME-UsesNotifications" \
    grep -qx "X-GNOME-UsesNotifications=true" "$WORK/unpacked/$entry"
done
T_LINTIAN=$(date +%s%N)
check "lintian found errors or warnings (above)" \
  lintian --allow-root --fail-on error,warning "${DEB%/*}"/orixclient_*_"$(dpkg --print-architecture)".changes
LINTIAN_MS=$(ms_since "$T_LINTIAN")
say "built and checked $(basename "$DEB") ($(stat -c %s "$DEB") bytes) and $(basename "$DEV_DEB")"

# --- 2. install -----------------------------------------------------------------------------
dpkg-query -W -f='${Package}\n' | sort >"$WORK/packages-before"
T_INSTALL=$(date +%s%N)
"${APT[@]}" install --no-install-recommends "$DEB" "$DEV_DEB" >"$WORK/install.log" 2>&1 ||
  fail "apt-get install failed: $(cat "$WORK/install.log")"
INSTALL_MS=$(ms_since "$T_INSTALL")
dpkg-query -W -f='${Package}\n' | sort >"$WORK/packages-after"
mapfile -t NEW_PACKAGES < <(comm -13 "$WORK/packages-before" "$WORK/packages-after" |
  grep -vx -e orixclient -e orixclient-devserver)
if grep -q "tavpdf-queue" "$WORK/install.log"; then
  fail "the installation complained: $(grep tavpdf-queue "$WORK/install.log")"
fi
check "the queue TavPDF with the backend tavpdf" \
  grep -qx "device for TavPDF: tavpdf:/" <(lpstat -v TavPDF 2>/dev/null)
check "the spool root is root's, 0711" test "$(stat -c '%U %a' "$SPOOL")" = "root 711"
check "the backend is root's, 0700" test "$(stat -c '%U %a' /usr/lib/cups/backend/tavpdf)" = "root 700"
check "TavPDF is not the default printer" test -z "$(lpstat -d 2>/dev/null | grep TavPDF)"
check "TavPDF is not shared" grep -q "printer-is-shared=false" <(lpoptions -p TavPDF)
# The postinst is quiet and idempotent: a second configure changes nothing.
check "a second configure" dpkg-reconfigure orixclient
check "still one queue after the second configure" \
  test "$(lpstat -v | grep -c 'tavpdf:')" -eq 1
# A queue that an administrator disabled stays so through a reconfiguration (or an upgrade).
cupsdisable TavPDF
cupsreject TavPDF
check "dpkg-reconfigure with a disabled queue" dpkg-reconfigure orixclient
check "dpkg-reconfigure enabled the queue again" grep -q "^printer TavPDF disabled" <(LC_ALL=C lpstat -p TavPDF)
check "dpkg-reconfigure made the queue accept jobs again" \
  grep -q "^TavPDF not accepting" <(LC_ALL=C lpstat -a TavPDF)
cupsenable TavPDF
cupsaccept TavPDF

# --- 3. the readiness check as a fresh user ------------------------------------------------
useradd --create-home --shell /bin/bash "$USER_A"
useradd --create-home --shell /bin/bash "$USER_B"
/usr/bin/orws-devserver --port 0 --db "$WORK/dev.db" >"$WORK/server.out" 2>"$WORK/server.err" &
SERVER_PID=$!
PORT=""
for _ in $(seq 1 100); do
  PORT="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$WORK/server.out")"
  [ -n "$PORT" ] && break
  sleep 0.1
done
check "the development server did not start: $(cat "$WORK/server.err")" test -n "$PORT"
sed -i "s/^;2002=.*/2002=127.0.0.1:$PORT/" /etc/orixclient/OrixClientAPP.ini
as_user() { # as_user USER COMMAND...: a login-like environment without a desktop
  local user="$1"
  shift
  runuser -u "$user" -- env -i HOME="/home/$user" USER="$user" LOGNAME="$user" \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"
}
status=0
as_user "$USER_A" OrixClientAPP --check >"$WORK/check.out" 2>"$WORK/check.err" || status=$?
sed 's/^/  /' "$WORK/check.out"
# Without a desktop session there is no tray and no notification server: only those may fail.
check "--check failed on more than the desktop (above)" \
  test -z "$(grep '^FAIL' "$WORK/check.out" | grep -v -e '^FAIL  tray ' -e '^FAIL  notifications ')"
check "--check exits 1 when a line fails" test "$status" -eq 1
for item in configuration server "printer queue" "printer backend" "spool folder" \
  "single instance" "remembered logon"; do
  grep -q "^ok    $item " "$WORK/check.out" || fail "--check has no ok line for $item"
done
check "the user's log is in the user's own folder" \
  grep -qF "/home/$USER_A/.local/state/OrixClient/AppLog.txt" "$WORK/check.out"

# --- 4. printing as the user, and the refusals --------------------------------------------
DOC="$WORK/report.pdf"
bash "$ROOT/scripts/one-page-pdf.sh" "Package test" >"$DOC"
chmod 0644 "$DOC"

job_id() { sed -n 's/^request id is TavPDF-\([0-9]*\) .*/\1/p'; }
# Waits until job $1 has ended (completed, cancelled or aborted).
wait_job() {
  for _ in $(seq 1 300); do
    lpstat -W completed -o TavPDF 2>/dev/null | grep -q "^TavPDF-$1 " && return 0
    sleep 0.1
  done
  return 1
}

id="$(as_user "$USER_A" lp -d TavPDF -n 2 -t "季度报告.pdf" "$DOC" | job_id)"
check "lp as $USER_A" test -n "$id"
check "job $id did not end" wait_job "$id"
folder="$(ls -d "$SPOOL/$USER_A"/*-"$(printf '%010d' "$id")" 2>/dev/null || true)"
check "no job folder for job $id in $SPOOL/$USER_A" test -n "$folder"
check "the user's folder is the user's, 0700" \
  test "$(stat -c '%U %a' "$SPOOL/$USER_A")" = "$USER_A 700"
check "the job folder is the user's, 0700" test "$(stat -c '%U %a' "$folder")" = "$USER_A 700"
check "the job folder holds job.pdf and options" \
  test "$(ls -A "$folder" | paste -sd' ')" = "job.pdf options"
check "job.pdf is the user's, 0600" test "$(stat -c '%U %a' "$folder/job.pdf")" = "$USER_A 600"
check "job.pdf is a PDF" test "$(head -c 5 "$folder/job.pdf")" = "%PDF-"
check "options: copies" grep -q "copies=2" "$folder/options"
check "options: title" grep -q "title=季度报告.pdf" "$folder/options"
check "options: pages" grep -q "job-impressions=2" "$folder/options"
check "the spool root lists nothing to other users" \
  test -z "$(as_user "$USER_B" ls "$SPOOL" 2>/dev/null)"
say "printed as $USER_A: $folder"

snapshot() { find "$SPOOL" -printf '%p %u %m\n' 2>/dev/null | sort; }
before="$(snapshot)"
if out="$(as_user "$USER_B" lp -d TavPDF -U "$USER_A" "$DOC" 2>&1)"; then
  fail "$USER_B printed under the name of $USER_A: $out"
fi
if out="$(as_user "$USER_B" lp -d TavPDF -U root "$DOC" 2>&1)"; then
  fail "$USER_B printed under the name of root: $out"
fi
id="$(lp -d TavPDF "$DOC" | job_id)"
check "lp as root" test -n "$id"
check "root's job $id did not end" wait_job "$id"
id="$(runuser -u daemon -- lp -d TavPDF "$DOC" | job_id)"
check "lp as daemon" test -n "$id"
check "daemon's job $id did not end" wait_job "$id"
check "a refused job wrote something: $(diff <(echo "$before") <(snapshot))" \
  test "$(snapshot)" = "$before"
say "refused: $USER_B as $USER_A, $USER_B as root, root's job, a system account's job"

# --- 5. purge -----------------------------------------------------------------------------------
kill "$SERVER_PID"
wait "$SERVER_PID" 2>/dev/null || true
SERVER_PID=""
T_PURGE=$(date +%s%N)
purge >"$WORK/purge.log" 2>&1 || fail "apt-get purge failed: $(cat "$WORK/purge.log")"
PURGE_MS=$(ms_since "$T_PURGE")
check "the purge did not report the user's unhandled job" \
  grep -q "left 1 job folder(s) of $USER_A" "$WORK/purge.log"
check "the user's unhandled job was removed" test -f "$folder/job.pdf"
check "a queue printing to tavpdf is left" test -z "$(lpstat -v 2>/dev/null | grep tavpdf:)"
check "the queues are not as before" test "$(lpstat -v 2>/dev/null | sort || true)" = "$QUEUES_BEFORE"
for gone in /usr/bin/OrixClientAPP /usr/bin/orws-devserver /etc/xdg/autostart/orixclient.desktop \
  /etc/orixclient /usr/lib/cups/backend/tavpdf /usr/lib/orixclient /Library; do
  [ ! -e "$gone" ] || fail "$gone is still there"
done
# Processes of the installed programs (other checkouts' builds may run meanwhile).
for process in /proc/[0-9]*; do
  case "$(readlink "$process/exe" 2>/dev/null)" in
    /usr/bin/OrixClientAPP* | /usr/bin/orws-devserver*) fail "${process#/proc/} still runs" ;;
  esac
done
remove_users
[ -n "$SPOOL_EXISTED" ] || check "$SPOOL is left" rmdir "$SPOOL"
if [ -n "$STARTED_CUPSD" ]; then
  pid="$(cat /run/cups/cupsd.pid 2>/dev/null || true)"
  stop_cupsd
  for _ in $(seq 1 50); do
    alive "$pid" || break
    sleep 0.1
  done
  alive "$pid" && fail "the cupsd the test started still runs"
fi

# --- 6. a workstation image: preseeded, no cupsd at installation, the first boot --------------
# Runs unit $1 as systemd runs a oneshot service: skipped unless its
# ConditionPathExists holds, then ExecStart (its status 0 or one of
# SuccessExitStatus) and ExecStartPost, in a clean environment.
run_unit() {
  local file status success command
  file="$(dpkg -L orixclient | grep "/systemd/system/$1$" | head -n1)"
  [ -f "$file" ] || return 1
  while IFS= read -r path; do
    [ -e "$path" ] || return 0
  done < <(sed -n 's/^ConditionPathExists=//p' "$file")
  success=" 0 $(sed -n 's/^SuccessExitStatus=//p' "$file" | paste -sd' ') "
  while IFS= read -r command; do
    status=0
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=zh_CN.UTF-8 sh -c "$command" || status=$?
    [[ "$success" == *" $status "* ]] || return 1
  done < <(sed -n 's/^ExecStart=//p' "$file")
  while IFS= read -r command; do
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c "$command" || return 1
  done < <(sed -n 's/^ExecStartPost=//p' "$file")
}

image_install() {
  local conf=/etc/orixclient/OrixClientAPP.ini pending=/var/lib/orixclient/create-queue
  T_IMAGE=$(date +%s%N)
  debconf-set-selections <<<"orixclient orixclient/server string print.example.com
orixclient orixclient/port string 9443
orixclient orixclient/tls boolean true"
  # No cupsd, as in a chroot where the image is built.
  if [ -x /etc/init.d/cups ]; then
    /etc/init.d/cups stop >/dev/null 2>&1 || true
  elif [ -f /run/cups/cupsd.pid ]; then
    kill "$(cat /run/cups/cupsd.pid)" 2>/dev/null || true
  fi
  for _ in $(seq 1 100); do
    cupsd_answers || break
    sleep 0.1
  done
  cupsd_answers && fail "cupsd did not stop"
  "${APT[@]}" install --no-install-recommends "$DEB" >"$WORK/image.log" 2>&1 ||
    fail "apt-get install without cupsd failed: $(cat "$WORK/image.log")"
  check "the preseeded server in the configuration" grep -qx "2002=print.example.com:9443" "$conf"
  check "the preseeded TLS in the configuration" grep -qx "SSL=1" "$conf"
  check "the configuration's other lines kept" grep -qx ";2006=" "$conf"
  check "the queue is left for the first boot" test -f "$pending"
  check "orixclient-queue.service is enabled" \
    test -L /etc/systemd/system/multi-user.target.wants/orixclient-queue.service

  # The first boot.
  start_cupsd
  [ -z "$CUPSD_WAS_RUNNING" ] || STARTED_CUPSD=""
  if lpstat -p TavPDF >/dev/null 2>&1; then fail "the installation without cupsd made a queue"; fi
  check "orixclient-queue.service failed" run_unit orixclient-queue.service
  check "the first boot made no queue" grep -qx "device for TavPDF: tavpdf:/" <(LC_ALL=C lpstat -v TavPDF 2>/dev/null)
  check "the first boot's queue does not accept jobs" \
    grep -q "^TavPDF accepting requests" <(LC_ALL=C lpstat -a TavPDF)
  check "the unit's condition is left" test ! -e "$pending"
  # Once only: an administrator's removal of the queue stands.
  lpadmin -x TavPDF
  check "orixclient-queue.service failed the second time" run_unit orixclient-queue.service
  if lpstat -p TavPDF >/dev/null 2>&1; then fail "the unit made the queue a second time"; fi

  # dpkg-reconfigure with the answers as they are keeps an administrator's lines; it
  # creates the queue again, on the system's server and spool root whatever the caller's
  # environment says ("sudo -E"), in Chinese.
  printf '; kept by the administrator\n' >>"$conf"
  sed -i 's/^;2006=$/2006=wangwu/' "$conf"
  CUPS_SERVER="$WORK/no-such-server" ORIX_ROOT_PREFIX="$WORK/elsewhere" LANG=zh_CN.UTF-8 \
    DEBIAN_FRONTEND=noninteractive dpkg-reconfigure orixclient >"$WORK/reconfigure.log" 2>&1 ||
    fail "dpkg-reconfigure failed: $(cat "$WORK/reconfigure.log")"
  check "dpkg-reconfigure made no queue on the system's server" \
    grep -qx "device for TavPDF: tavpdf:/" <(LC_ALL=C lpstat -v TavPDF 2>/dev/null)
  check "dpkg-reconfigure followed the caller's ORIX_ROOT_PREFIX" test ! -e "$WORK/elsewhere"
  check "dpkg-reconfigure lost an administrator's lines" \
    grep -qx "; kept by the administrator" "$conf"
  check "dpkg-reconfigure lost an administrator's key" grep -qx "2006=wangwu" "$conf"
  check "dpkg-reconfigure lost the server" grep -qx "2002=print.example.com:9443" "$conf"
  purge >"$WORK/image-purge.log" 2>&1 || fail "apt-get purge failed: $(cat "$WORK/image-purge.log")"
  check "the purge left the configuration" test ! -e /etc/orixclient
  check "the purge left the debconf answers" test -z "$(debconf-show orixclient 2>/dev/null)"
  check "the purge left /var/lib/orixclient" test ! -e /var/lib/orixclient
  IMAGE_MS=$(ms_since "$T_IMAGE")
  say "image: preseeded configuration, no queue without cupsd, the first boot made it"
}
image_install

say "passed"
printf '%-44s %12s\n' "figure" "value" \
  "package size (orixclient .deb)" "$(stat -c %s "$DEB") B" \
  "installed size (orixclient)" "$(dpkg-deb -f "$DEB" Installed-Size) KiB" \
  "package build (nocheck, from a clean copy)" "$BUILD_MS ms" \
  "lintian" "$LINTIAN_MS ms" \
  "apt-get install (both packages)" "$INSTALL_MS ms" \
  "apt-get purge (both packages)" "$PURGE_MS ms" \
  "image install, first boot and purge" "$IMAGE_MS ms" \
  "whole package test" "$(ms_since "$T0") ms"
