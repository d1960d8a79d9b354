#!/usr/bin/env bash
# Footprint and start-up of the client, and the time of a whole logon over
# HTTP and HTTPS.
#
# 1. The real program on a private Xvfb display with a session bus (as in
#    any desktop session) that offers a tray and a notification server
#    (orix-fake-desktop: a StatusNotifier watcher with a host, and
#    org.freedesktop.Notifications), logged on (remembered automatic logon)
#    to the development server through late_relay.py: resident and
#    proportional memory once online and idle, whether a GL library is
#    mapped, whether its status icon registered with the watcher, the time
#    from the start of the process to its first request, and the CPU it
#    uses while idle and online (polls included) over BENCH_IDLE_SECONDS
#    (default 60). The reference row is the same build with the X11
#    platform's GLX integration chosen by the user
#    (QT_XCB_GL_INTEGRATION=xcb_glx), i.e. what the client loaded before.
#    The start is the median of BENCH_STARTS (default 5) starts; the last
#    row gives it (and the memory) on the bare display without a session
#    bus, where Qt tries to launch a bus of its own (and the client, without
#    a tray, stays in the task bar). A reference row gives
#    the start of bench_qtstart, a bare Qt window (without GL, as the
#    client runs) that sends one request:
#    the floor of any Qt widgets program on the machine.
#    Targets: <= 50 MB resident, <= 80 ms to the first request, < 0.5 % CPU.
# 2. orix-notice-bench: BENCH_NOTICES (default 1000) notices received one
#    after another through the client's notice path, with the notification
#    server and without it (pop-ups): resident memory after them against
#    before the first, the windows left on screen and the notices up.
# 3. bench_logon: BENCH_LOGON_ROUNDS (default 10) whole logons of the
#    session over HTTP and over HTTPS (a test authority added to the
#    system's trust store), with the shared TLS context and, for reference,
#    with a TLS context (and trust store) made for every call.
#
# Exits non-zero only when it could not measure. ORIX_BUILD_DIR and
# ORIX_BENCH_DIR may be set.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

IDLE_SECONDS="${BENCH_IDLE_SECONDS:-60}"
ROUNDS="${BENCH_LOGON_ROUNDS:-10}"
STARTS="${BENCH_STARTS:-5}"
NOTICES="${BENCH_NOTICES:-1000}"
bench_build OrixClientAPP orws-devserver bench_logon bench_qtstart orix-fake-desktop \
  orix-notice-bench
rm -rf "$BENCH_DIR" && mkdir -p "$BENCH_DIR"
CLK_TCK="$(getconf CLK_TCK)"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
smaps_kb() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/smaps_rollup"; }

# launch ID [VARIABLE=VALUE...]: starts the program in a fresh root and waits
# until it polls; sets START_MS, the ms from its start to its first request.
launch() {
  local id="$1" first
  shift
  : >"$RELAY_LOG"
  make_root "root-$id" "$RELAY_PORT"
  CLIENT_START_MS="$(now_ms)"
  # Started as a desktop starts it: no program in between.
  (cd "$PROGRAM_FOLDER" && export QT_QPA_PLATFORM=xcb "$@" && exec "$APP") \
    >"$BENCH_DIR/client-$id.log" 2>&1 &
  CLIENT_PID=$!
  PIDS+=($CLIENT_PID)
  wait_polls 1 60 || die "the client ($id) did not go online"
  first="$(head -n1 "$RELAY_LOG" | cut -d' ' -f1)"
  START_MS=$((first - CLIENT_START_MS))
}

# start_fake_desktop: the desktop's tray and notification server on the
# session bus; sets FAKE_LOG.
start_fake_desktop() {
  FAKE_LOG="$BENCH_DIR/fake-desktop.log"
  "$BUILD/scripts/bench/orix-fake-desktop" >"$FAKE_LOG" 2>"$BENCH_DIR/fake-desktop.err" &
  PIDS+=($!)
  [ "$(wait_for_line "$FAKE_LOG" '/^ready$/p')" = ready ] || die "the fake desktop did not start"
}

# client_row ID LABEL IDLE [VARIABLE=VALUE...]: the program's figures; the
# idle CPU only when IDLE is 1.
client_row() {
  local id="$1" label="$2" idle="$3" starts="" before after rss pss gl start i cpu="-" items tray
  shift 3
  items="$(grep -c ' item ' "$FAKE_LOG" || true)"
  for ((i = 1; i <= STARTS; i++)); do
    launch "$id" "$@"
    starts+="$START_MS "
    [ "$i" -lt "$STARTS" ] && stop_client
  done
  start="$(printf '%s\n' $starts | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')"
  sleep 5
  rss="$(smaps_kb "$CLIENT_PID" Rss)"
  pss="$(smaps_kb "$CLIENT_PID" Pss)"
  # The GL driver stack (Mesa's driver and LLVM), not the small libGL that
  # Qt's GUI library links anyway.
  gl="$(grep -cE '(_dri\.so|libLLVM|libgallium)' "/proc/$CLIENT_PID/maps" || true)"
  # Each start's icon registers with the watcher.
  tray=no
  [ "$(grep -c ' item ' "$FAKE_LOG" || true)" -ge $((items + STARTS)) ] && tray=yes
  if [ "$idle" = 1 ]; then
    before="$(cpu_ticks "$CLIENT_PID")"
    sleep "$IDLE_SECONDS"
    after="$(cpu_ticks "$CLIENT_PID")"
    cpu="$(awk -v c="$((after - before))" -v hz="$CLK_TCK" -v t="$IDLE_SECONDS" \
      'BEGIN { printf("%.2f", 100 * c / hz / t) }')"
  fi
  stop_client
  awk -v l="$label" -v r="$rss" -v p="$pss" -v g="$gl" -v t="$tray" -v s="$start" -v c="$cpu" \
    'BEGIN { printf("%-34s %8.1f %8.1f %6s %5s %10d %10s\n", l, r / 1024, p / 1024,
             (g > 0 ? "yes" : "no"), t, s, c) }'
}

# notice_row LABEL: orix-notice-bench on the display and bus as they are.
notice_row() {
  local out
  out="$(cd "$BENCH_DIR" && env QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none \
    "$BUILD/scripts/bench/orix-notice-bench" "$NOTICES" 2>"$BENCH_DIR/notice-bench.err")" ||
    die "orix-notice-bench failed"
  set -- "$1" $out
  awk -v l="$1" -v b="$3" -v a="$5" -v w="$7" -v n="$9" \
    'BEGIN { printf("%-34s %10.1f %10.1f %8d %10d\n", l, b / 1024, a / 1024, w, n) }'
}

start_devserver server
start_relay "$DEV_PORT"
start_xvfb
start_session_bus
start_fake_desktop
say "Client on Xvfb with a tray and a notification server, online and idle (idle CPU over ${IDLE_SECONDS} s):"
printf '%-34s %8s %8s %6s %5s %10s %10s\n' "run" "RSS_MB" "PSS_MB" "GL_drv" "tray" "start_ms" \
  "idle_CPU_%"
client_row default "default" 1
client_row glx "reference: GLX chosen by the user" 1 QT_XCB_GL_INTEGRATION=xcb_glx
SESSION_BUS="$DBUS_SESSION_BUS_ADDRESS"
unset DBUS_SESSION_BUS_ADDRESS
client_row nobus "default, no session bus" 0
export DBUS_SESSION_BUS_ADDRESS="$SESSION_BUS"
# The floor: a bare Qt window that sends one request, started the same way.
floor_starts=""
for ((i = 1; i <= STARTS; i++)); do
  : >"$RELAY_LOG"
  t0="$(now_ms)"
  (export QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none && exec "$BUILD/scripts/bench/bench_qtstart" "$RELAY_PORT") \
    >"$BENCH_DIR/qtstart.log" 2>&1 || true
  first="$(grep -m1 ' QtStart ' "$RELAY_LOG" | cut -d' ' -f1)"
  [ -n "$first" ] || die "the bare Qt program sent no request"
  floor_starts+="$((first - t0)) "
done
floor="$(printf '%s\n' $floor_starts | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')"
printf '%-34s %8s %8s %6s %5s %10d %10s\n' "reference: bare Qt window + request" - - - - \
  "$floor" -
say "targets: RSS <= 50 MB, first request <= 80 ms after start, idle CPU < 0.5 %"
say ""

# --- many notices ---------------------------------------------------------------------------
say "${NOTICES} notices received, one every millisecond, every third an approval request:"
printf '%-34s %10s %10s %8s %10s\n' "run" "RSS_before" "RSS_after" "windows" "notices_up"
notice_row "desktop notifications"
# A bus that is not there: no notification server answers.
DBUS_SESSION_BUS_ADDRESS="unix:path=$BENCH_DIR/no-bus" notice_row "pop-ups (no notification server)"
say "(RSS in MB, before the first notice and after the last; windows and notices still up)"
say ""

# --- logon time over HTTP and HTTPS ---------------------------------------------------------
PKI="$BENCH_DIR/pki"
mkdir -p "$PKI"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=bench-ca -keyout "$PKI/ca.key" -out "$PKI/ca.pem" 2>/dev/null ||
  die "openssl could not make the test authority"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -CA "$PKI/ca.pem" -CAkey "$PKI/ca.key" \
  -addext basicConstraints=CA:FALSE -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$PKI/server.key" -out "$PKI/server.pem" 2>/dev/null ||
  die "openssl could not make the server certificate"
# The system's authorities and the test one: as large a store as a real one.
SYSTEM_BUNDLE="$(openssl version -d | sed 's/^OPENSSLDIR: "\(.*\)"$/\1/')/certs/ca-certificates.crt"
[ -f "$SYSTEM_BUNDLE" ] || SYSTEM_BUNDLE=/etc/ssl/certs/ca-certificates.crt
cat "$SYSTEM_BUNDLE" "$PKI/ca.pem" >"$PKI/bundle.pem" 2>/dev/null || die "no system trust store"
export SSL_CERT_FILE="$PKI/bundle.pem"
HTTP_PORT="$DEV_PORT"
start_devserver server-tls --tls "$PKI/server.pem" "$PKI/server.key"
HTTPS_PORT="$DEV_PORT"

# logon_row LABEL PORT SSL [per-call-tls]
logon_row() {
  local out
  make_root "logon-$1" "$2" "$3"
  out="$("$BUILD/scripts/bench/bench_logon" "$2" "$ROUNDS" ${4:-})" || die "bench_logon failed"
  set -- "$1" $out
  printf '%-34s %10s %10s %8s\n' "$1" "$3" "$5" "$7"
}

# How many calls one logon makes, counted by the relay.
: >"$RELAY_LOG"
make_root "logon-count" "$RELAY_PORT" 0
"$BUILD/scripts/bench/bench_logon" "$RELAY_PORT" 1 >/dev/null || die "bench_logon failed"
CALLS="$(wc -l <"$RELAY_LOG")"

say "Whole logon of the session (${CALLS} calls), ${ROUNDS} rounds each:"
printf '%-34s %10s %10s %8s\n' "run" "median_ms" "mean_ms" "failed"
logon_row "HTTP" "$HTTP_PORT" 0
logon_row "HTTPS, shared TLS context" "$HTTPS_PORT" 1
logon_row "HTTPS, TLS context per call (ref.)" "$HTTPS_PORT" 1 per-call-tls
