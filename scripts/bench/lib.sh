# Shared pieces of the benchmark scripts (sourced, not run): the build, the
# development server, the late relay, a private X display and the client in
# a relocated root folder. Everything runs on 127.0.0.1 and under $BENCH_DIR;
# everything started is stopped again when the script exits.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${ORIX_BUILD_DIR:-$ROOT/build}"
BENCH_DIR="${ORIX_BENCH_DIR:-$BUILD/bench-run}"
APP="$BUILD/app/OrixClientAPP"
SERVER="$BUILD/devserver/orws-devserver"
SEED_DIGEST="E10ADC3949BA59ABBE56E057F20F883E" # MD5 of the seed accounts' password 123456

PIDS=()
bench_cleanup() {
  local i pid
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
    pid="${PIDS[i]}"
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  PIDS=()
}
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '%s\n' "$*"; }
# Could not measure: the only reason to fail.
die() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 1; }
now_ms() { date +%s%3N; }

# bench_build TARGET...: configures (with the benchmark programs) and builds.
bench_build() {
  bash "$ROOT/scripts/setup.sh" || die "setup failed"
  # Configured every time: a target added since the last run is known then.
  cmake -S "$ROOT" -B "$BUILD" -DORIX_BUILD_BENCH=ON >/dev/null || die "cmake failed"
  cmake --build "$BUILD" -j2 --target "$@" >/dev/null || die "build failed"
}

# wait_for_line FILE SED-EXPRESSION: prints the first match (100 ms polls, 20 s).
wait_for_line() {
  local value="" _
  for _ in $(seq 1 200); do
    value="$(sed -n "$2" "$1" 2>/dev/null | head -n1)"
    [ -n "$value" ] && break
    sleep 0.1
  done
  printf '%s' "$value"
}

# wait_for_port FILE: the port of the first "listening on 127.0.0.1:PORT" line.
wait_for_port() {
  wait_for_line "$1" 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p'
}

# start_devserver NAME [--tls CERT KEY]: sets DEV_PORT.
start_devserver() {
  local dir="$BENCH_DIR/$1"
  shift
  rm -rf "$dir" && mkdir -p "$dir"
  "$SERVER" --port 0 --db "$dir/devserver.db" --storage "$dir/storage" "$@" \
    >"$dir/stdout.log" 2>"$dir/requests.log" &
  PIDS+=($!)
  DEV_PORT="$(wait_for_port "$dir/stdout.log")"
  [ -n "$DEV_PORT" ] || die "the development server did not start ($dir)"
}

# start_relay TARGET-PORT: sets RELAY_PORT, RELAY_RULES (empty: pass on) and RELAY_LOG.
start_relay() {
  RELAY_RULES="$BENCH_DIR/relay.rules"
  RELAY_LOG="$BENCH_DIR/relay.log"
  : >"$RELAY_RULES"
  : >"$RELAY_LOG"
  python3 "$ROOT/scripts/bench/late_relay.py" --target "$1" --rules "$RELAY_RULES" \
    --log "$RELAY_LOG" >"$BENCH_DIR/relay.out" 2>&1 &
  PIDS+=($!)
  RELAY_PORT="$(wait_for_port "$BENCH_DIR/relay.out")"
  [ -n "$RELAY_PORT" ] || die "the relay did not start"
}

# start_xvfb: a private display; sets DISPLAY.
start_xvfb() {
  command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/setup.sh installs it)"
  Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp >"$BENCH_DIR/xvfb.display" \
    2>"$BENCH_DIR/xvfb.log" &
  PIDS+=($!)
  local number
  number="$(wait_for_line "$BENCH_DIR/xvfb.display" '1p')"
  [ -n "$number" ] || die "Xvfb did not start"
  export DISPLAY=":$number"
}

# start_session_bus: a private D-Bus session bus, as every desktop session
# has one (sets DBUS_SESSION_BUS_ADDRESS). Without it, a Qt program on X
# tries to launch a bus of its own when it first asks for one (accessibility,
# tray), which no desktop user ever sees.
start_session_bus() {
  command -v dbus-daemon >/dev/null || die "dbus-daemon is missing (scripts/setup.sh installs it)"
  dbus-daemon --session --nofork --nopidfile --print-address=1 >"$BENCH_DIR/dbus.address" \
    2>"$BENCH_DIR/dbus.log" &
  PIDS+=($!)
  local address
  address="$(wait_for_line "$BENCH_DIR/dbus.address" '1p')"
  [ -n "$address" ] || die "the session bus did not start"
  export DBUS_SESSION_BUS_ADDRESS="$address"
}

# make_root NAME PORT [SSL]: a relocated root with the configuration and the
# remembered automatic logon of zhangsan at 127.0.0.1:PORT; sets
# ORIX_ROOT_PREFIX, PROGRAM_FOLDER and HOME.
make_root() {
  export ORIX_ROOT_PREFIX="$BENCH_DIR/$1"
  rm -rf "$ORIX_ROOT_PREFIX"
  PROGRAM_FOLDER="$ORIX_ROOT_PREFIX/Library/Application Support/TavPrint Driver"
  mkdir -p "$PROGRAM_FOLDER" "$ORIX_ROOT_PREFIX/var/tmp" "$ORIX_ROOT_PREFIX/home/zhangsan" \
    "$ORIX_ROOT_PREFIX/var/spool/cups-pdf/zhangsan"
  export HOME="$ORIX_ROOT_PREFIX/home/zhangsan"
  printf '[Main%%20Window]\n2002=127.0.0.1\n2006=zhangsan\n[OPTION]\nSSL=%s\n' "${3:-0}" \
    >"$PROGRAM_FOLDER/OrixClientAPP.ini"
  printf '[General]\nServerName=127.0.0.1\nUserName=zhangsan\nPassWord=%s\nSavePasswordFlag=1\nAutoLoginFlag=1\nSaveDomainAgintLogFlag=0\nServerPort=%s\n' \
    "$SEED_DIGEST" "$2" >"$ORIX_ROOT_PREFIX/var/tmp/Last.ini"
}

# start_client LOG: the program on $DISPLAY from the program folder; sets
# CLIENT_PID and CLIENT_START_MS.
start_client() {
  CLIENT_START_MS="$(now_ms)"
  (cd "$PROGRAM_FOLDER" && exec env QT_QPA_PLATFORM=xcb "$APP") >"$1" 2>&1 &
  CLIENT_PID=$!
  PIDS+=($CLIENT_PID)
}

stop_client() {
  kill "$CLIENT_PID" 2>/dev/null || true
  wait "$CLIENT_PID" 2>/dev/null || true
}

# requests_logged OPERATION: how many requests for it the relay has seen.
requests_logged() {
  grep -c " $1 " "$RELAY_LOG" 2>/dev/null || true
}

# wait_polls N [SECONDS]: until the relay has seen N notice polls in all.
wait_polls() {
  local _
  for _ in $(seq 1 $((${2:-60} * 10))); do
    [ "$(requests_logged GetUserMessage)" -ge "$1" ] && return 0
    kill -0 "$CLIENT_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
