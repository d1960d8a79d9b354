#!/usr/bin/env bash
# Runs the client against the development server, on this machine, without
# touching the real program folder or /var/tmp:
#
#   1. installs the packages (scripts/setup.sh) and builds the program and
#      the server into build/ when they are missing or out of date;
#   2. starts orws-devserver on a free port of 127.0.0.1 with a freshly
#      seeded SQLite database in the demo folder;
#   3. writes a relocated program folder (ORIX_ROOT_PREFIX=<demo>/root) with
#      an OrixClientAPP.ini for 127.0.0.1 and a remembered logon that holds
#      the server's port;
#   4. starts a private CUPS server with the PDF printer's queue TavPDF
#      (cups/private-cupsd.sh; needs root, see below), whose backend writes
#      the jobs into the relocated spool folder the client watches;
#   5. starts OrixClientAPP from that folder (the notice texts are looked
#      up in the working directory; the optional sign-on plug-in is loaded
#      from the program folder).
#
# With a desktop ($DISPLAY set) the logon dialog comes up; log on with the
# account printed below and print with the lp command printed below: the
# settings dialog comes up, and after "确定" the job is on the server.
# Ctrl-C ends the client, the CUPS server and the development server.
#
# Without a desktop the client runs on a private Xvfb display (with a tray
# when trayer is installed) and logs on by itself with the remembered
# password; the script then prints a sample document, confirms the settings
# dialog with a key press (xdotool), waits for the job on the development
# server and its notice, lists the server's jobs and saves screenshots; then
# everything is stopped again.
#
# The PDF printer needs root: cupsd runs the backend as root so that it can
# create each user's spool folder. Without root the client runs without it
# (the script says so); start the script with sudo to print to the client.
#
# Environment: ORIX_DEMO_DIR (default build/demo), ORIX_BUILD_DIR (default
# build), ORIX_DEMO_USER / ORIX_DEMO_PASSWORD (default zhangsan / 123456).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${ORIX_BUILD_DIR:-$ROOT/build}"
DEMO="${ORIX_DEMO_DIR:-$BUILD/demo}"
DEMO_USER="${ORIX_DEMO_USER:-zhangsan}"
DEMO_PASSWORD="${ORIX_DEMO_PASSWORD:-123456}"

PIDS=()
CUPS_DIR=""
MADE_USER=""
cleanup() {
  local pid
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
    pid="${PIDS[i]}"
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  if [ -n "$CUPS_DIR" ]; then
    bash "$ROOT/cups/private-cupsd.sh" stop "$CUPS_DIR" || true
    rm -rf "$CUPS_DIR"
  fi
  [ -z "$MADE_USER" ] || userdel "$MADE_USER" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '%s\n' "$*"; }
die() { printf 'run-client: %s\n' "$*" >&2; exit 1; }

# --- 1. packages and build ---------------------------------------------------------
bash "$ROOT/scripts/setup.sh"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" >/dev/null
fi
cmake --build "$BUILD" -j2 --target OrixClientAPP orws-devserver tavpdf disc_minizip disc_codec
APP="$BUILD/app/OrixClientAPP"
SERVER="$BUILD/devserver/orws-devserver"
[ -x "$APP" ] || die "no program at $APP"
[ -x "$SERVER" ] || die "no development server at $SERVER"

# --- 2. development server -------------------------------------------------------------
mkdir -p "$DEMO"
rm -rf "$DEMO/server" "$DEMO/root"
mkdir -p "$DEMO/server"
# Under sudo the server runs as the user who called sudo, owning its folder:
# it needs no root, and it runs what any local user sends it on 127.0.0.1.
SERVER_AS=()
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ]; then
  chown "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$DEMO/server"
  SERVER_AS=(setpriv --reuid="$SUDO_UID" --regid="${SUDO_GID:-$SUDO_UID}" --clear-groups --)
fi
# The client is given the server's own port, never "8085", so it speaks
# Latin-1 strings: the server must read them the same way.
"${SERVER_AS[@]}" "$SERVER" --port 0 --db "$DEMO/server/devserver.db" \
  --storage "$DEMO/server/storage" --strings latin1 \
  >"$DEMO/server/stdout.log" 2>"$DEMO/server/requests.log" &
PIDS+=($!)
PORT=""
for _ in $(seq 1 100); do
  PORT="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$DEMO/server/stdout.log")"
  [ -n "$PORT" ] && break
  kill -0 "${PIDS[0]}" 2>/dev/null || die "the server did not start; see $DEMO/server/requests.log"
  sleep 0.1
done
[ -n "$PORT" ] || die "the server did not report its port"

# --- 3. relocated program folder and remembered logon --------------------------------
export ORIX_ROOT_PREFIX="$DEMO/root"
PROGRAM_FOLDER="$ORIX_ROOT_PREFIX/Library/Application Support/TavPrint Driver"
mkdir -p "$PROGRAM_FOLDER" "$ORIX_ROOT_PREFIX/var/tmp" "$ORIX_ROOT_PREFIX/var/spool/cups-pdf"
# The disc-burning libraries, loaded from the program folder.
cp "$BUILD/plugins/libminizip.so" "$BUILD/plugins/revududir.so" "$PROGRAM_FOLDER/"

headless=0
[ -z "${DISPLAY:-}" ] && headless=1

# Level 14: the logon events go to the client's standard output; 15 adds a
# line per timer tick ("tmid=..., online=1"), which tells the script that
# the client is online.
LEVEL=14
[ "$headless" = 1 ] && LEVEL=15
cat >"$PROGRAM_FOLDER/OrixClientAPP.ini" <<EOF
[Main%20Window]
2002=127.0.0.1
2006=$DEMO_USER

[OPTION]
CDPassword=1

[Debug]
Level=$LEVEL
EOF

# Without a desktop nobody can type: remember the password and log on
# automatically. With a desktop only the server, port and user are filled in.
if [ "$headless" = 1 ]; then
  DIGEST="$(printf '%s' "$DEMO_PASSWORD" | md5sum | cut -d' ' -f1 | tr a-f A-F)"
  SAVE=1
else
  DIGEST=""
  SAVE=0
fi
cat >"$ORIX_ROOT_PREFIX/var/tmp/Last.ini" <<EOF
[General]
ServerName=127.0.0.1
UserName=$DEMO_USER
PassWord=$DIGEST
SavePasswordFlag=$SAVE
AutoLoginFlag=$SAVE
SaveDomainAgintLogFlag=0
ServerPort=$PORT
EOF

# --- 4. the PDF printer ------------------------------------------------------------------
# Jobs land in <spool root>/<job owner>; the client watches <spool root>/<last
# component of $HOME>. The jobs are printed by this script's user, so the
# client gets a home folder of that name when $HOME has another one. The
# printer writes no job of root's (it would parse it with root's rights):
# run as root, the script prints as the user who called sudo, else as a
# throwaway user "orixdemo" that it removes again (special accounts such as
# nobody are refused too).
PRINT_USER="$(id -un)"
if [ "$(id -u)" -eq 0 ]; then
  PRINT_USER="${SUDO_USER:-root}"
  if [ "$PRINT_USER" = root ]; then
    PRINT_USER=orixdemo
    if ! id "$PRINT_USER" >/dev/null 2>&1; then
      useradd --no-create-home --shell /usr/sbin/nologin --user-group \
        --comment "throwaway user of the OrixClient demo" "$PRINT_USER"
      MADE_USER="$PRINT_USER"
    fi
  fi
  # The user's folder as the printer makes it for the first job; made now,
  # before the client (root here) would make it its own.
  install -d -m 0700 -o "$PRINT_USER" -g "$(id -gn "$PRINT_USER")" \
    "$ORIX_ROOT_PREFIX/var/spool/cups-pdf/$PRINT_USER"
fi
CLIENT_HOME="$HOME"
if [ "${HOME##*/}" != "$PRINT_USER" ]; then
  CLIENT_HOME="$DEMO/home/$PRINT_USER"
  mkdir -p "$CLIENT_HOME"
fi
CUPS_SOCK=""
if [ "$(id -u)" -eq 0 ]; then
  # Under /tmp: the filters (user lp) must reach the job files.
  CUPS_DIR="$(mktemp -d /tmp/orix-demo-cupsd-XXXXXX)"
  if CUPS_OUT="$(bash "$ROOT/cups/private-cupsd.sh" start "$CUPS_DIR" "$BUILD/cups/tavpdf" \
      2>"$DEMO/cupsd.err")"; then
    CUPS_SOCK="$(sed -n 's/^CUPS_SERVER=//p' <<<"$CUPS_OUT")"
  else
    say "PDF printer: not started: $(cat "$DEMO/cupsd.err")"
  fi
else
  say "PDF printer: not started: the private CUPS server needs root (cupsd runs the"
  say "  printer's backend as root so that it can create each user's spool folder)."
  say "  Start this script with sudo to print to the client."
fi

say "Development server: http://127.0.0.1:$PORT (requests logged to $DEMO/server/requests.log)"
say "Log on with: server 127.0.0.1:$PORT, user $DEMO_USER, password $DEMO_PASSWORD"
say "Other seeded accounts: devserver/README.md"
say "Program folder: $PROGRAM_FOLDER"
if [ -n "$CUPS_SOCK" ]; then
  if [ "$headless" = 0 ]; then
    LP="CUPS_SERVER=$CUPS_SOCK lp -d TavPDF <file>"
    if [ "$PRINT_USER" = "${SUDO_USER:-}" ]; then
      say "Print to the client as $PRINT_USER (any PDF, text or PostScript file):"
    else
      LP="runuser -u $PRINT_USER -- env $LP"
      say "Print to the client (any PDF, text or PostScript file readable by $PRINT_USER), as root:"
    fi
    say "  $LP"
  fi
  say "Jobs are spooled to $ORIX_ROOT_PREFIX/var/spool/cups-pdf/$PRINT_USER"
fi

# --- 5. the client -----------------------------------------------------------------------
cd "$PROGRAM_FOLDER"
if [ "$headless" = 0 ]; then
  HOME="$CLIENT_HOME" "$APP" "$@" &
  PIDS+=($!)
  wait "${PIDS[-1]}"
  exit $?
fi

command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/setup.sh installs it)"
Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$DEMO/xvfb.display" 2>"$DEMO/xvfb.log" &
PIDS+=($!)
DISPLAY_NUMBER=""
for _ in $(seq 1 100); do
  DISPLAY_NUMBER="$(head -n1 "$DEMO/xvfb.display" 2>/dev/null || true)"
  [ -n "$DISPLAY_NUMBER" ] && break
  sleep 0.1
done
[ -n "$DISPLAY_NUMBER" ] || die "Xvfb did not start; see $DEMO/xvfb.log"
export DISPLAY=":$DISPLAY_NUMBER"
say "Display: $DISPLAY (Xvfb)"

if command -v trayer >/dev/null; then
  trayer --edge bottom --align right --widthtype request --height 32 \
    >"$DEMO/trayer.log" 2>&1 &
  PIDS+=($!)
fi

HOME="$CLIENT_HOME" QT_QPA_PLATFORM=xcb "$APP" "$@" >"$DEMO/client.log" 2>&1 &
CLIENT=$!
PIDS+=($CLIENT)

# The first tick of the online timer comes 5 seconds after the logon.
online=0
for _ in $(seq 1 600); do
  if grep -q "^tmid=[0-9]*, online=1" "$DEMO/client.log" 2>/dev/null; then
    online=1
    break
  fi
  kill -0 "$CLIENT" 2>/dev/null || break
  sleep 0.1
done
[ "$online" = 1 ] || die "the client did not go online; see $DEMO/client.log"

# The main job: a document printed to TavPDF comes up in the settings dialog;
# "确定" (the default button: a Return key press) sends it to the server.
JOB_SUMMARY=""
if [ -n "$CUPS_SOCK" ]; then
  command -v xdotool >/dev/null || die "xdotool is missing (scripts/setup.sh installs it)"
  SAMPLE="$CUPS_DIR/sample.txt"
  printf '示例文档\n\n本文档由 run-client.sh 打印到 TavPDF。\nA sample document printed by run-client.sh.\n' \
    >"$SAMPLE"
  chmod 0644 "$SAMPLE"
  start_ms=$(($(date +%s%N) / 1000000))
  runuser -u "$PRINT_USER" -- env CUPS_SERVER="$CUPS_SOCK" lp -d TavPDF -t "示例文档.txt" "$SAMPLE" \
    >/dev/null
  DIALOG=""
  for _ in $(seq 1 300); do
    DIALOG="$(xdotool search --name '^打印任务$' 2>/dev/null | head -n1 || true)"
    [ -n "$DIALOG" ] && break
    sleep 0.05
  done
  [ -n "$DIALOG" ] || die "no settings dialog came up; see $DEMO/client.log"
  shown_ms=$(($(date +%s%N) / 1000000 - start_ms))
  say "Printed a sample document; the settings dialog came up after $shown_ms ms"
  sleep 0.5
  import -window root "$DEMO/settings-dialog.png" 2>/dev/null || true
  xdotool windowfocus --sync "$DIALOG" key Return
  arrived=0
  for _ in $(seq 1 300); do
    if "$SERVER" jobs --db "$DEMO/server/devserver.db" --storage "$DEMO/server/storage" \
        2>/dev/null | grep -q "示例文档"; then
      arrived=1
      break
    fi
    sleep 0.1
  done
  [ "$arrived" = 1 ] || die "the job did not reach the development server; see $DEMO/client.log"
  JOB_SUMMARY="$("$SERVER" jobs --db "$DEMO/server/devserver.db" --storage "$DEMO/server/storage")"
  # The server files a notice for the stored job; the client's polls (one
  # notice each 5 s, the seeded ones first) pop it up.
  for _ in $(seq 1 400); do
    delivered="$(sqlite3 "$DEMO/server/devserver.db" \
      "SELECT count(*) FROM Notices WHERE FieldText LIKE '示例文档%' AND Delivered = 1" \
      2>/dev/null || echo 0)"
    [ "$delivered" = 1 ] && break
    sleep 0.1
  done
  sleep 0.5
fi

# The window hid itself after start; a second start of the program brings
# the running (online) client's window to the front and exits at once.
HOME="$CLIENT_HOME" QT_QPA_PLATFORM=xcb "$APP" >>"$DEMO/second-start.log" 2>&1 || true
sleep 1

SHOT="$DEMO/screenshot.png"
if command -v import >/dev/null; then
  import -window root "$SHOT"
elif command -v xwd >/dev/null && command -v convert >/dev/null; then
  xwd -root -silent | convert xwd:- "$SHOT"
else
  die "no screenshot tool (imagemagick's import)"
fi
say "Logged on as $DEMO_USER; screenshot: $SHOT"
if [ -n "$JOB_SUMMARY" ]; then
  say "The printed job arrived on the development server (orws-devserver jobs):"
  say "$JOB_SUMMARY"
  say "Settings dialog as it came up: $DEMO/settings-dialog.png"
fi
say "Client output: $DEMO/client.log"
