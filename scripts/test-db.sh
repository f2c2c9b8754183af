#!/usr/bin/env bash
# Runs a private MariaDB server for the database tests, apart from any system one.
#
#   scripts/test-db.sh start        init (first time), launch, wait, create db scpn + user
#   scripts/test-db.sh stop         shut the server down
#   scripts/test-db.sh status       exit 0 if the server answers, 1 otherwise
#   scripts/test-db.sh env          print the exports that make unixODBC see the DSNs:
#                                     eval "$(scripts/test-db.sh env)"
#   scripts/test-db.sh load F.sql   run F.sql against database scpn as root
#
# Everything (data, socket, pid, log, odbc.ini) lives in SCPN_TEST_DB_DIR
# (default /tmp/scpn-test-db); the server listens on 127.0.0.1:SCPN_TEST_DB_PORT
# (default 33061). DSNs: "scpn" (user quorvel/quorvel) and "scpn_wrongpass"
# (same user, bad password). Packages: mariadb-server odbc-mariadb unixodbc.
# As root the server runs as the mysql user, so the folder's parents must be
# traversable by it (anything under /tmp is).
set -euo pipefail

DIR="${SCPN_TEST_DB_DIR:-/tmp/scpn-test-db}"
PORT="${SCPN_TEST_DB_PORT:-33061}"
DATA="$DIR/data"
SOCK="$DIR/mariadbd.sock"
PIDFILE="$DIR/mariadbd.pid"
LOG="$DIR/mariadbd.log"
DRIVER="MariaDB Unicode"

# --no-defaults keeps the system's /etc/mysql configuration out of the way.
client() { mariadb --no-defaults --socket="$SOCK" -uroot "$@"; }
answers() { mariadb-admin --no-defaults --socket="$SOCK" -uroot --connect-timeout=2 ping >/dev/null 2>&1; }
server_pid() { [ -s "$PIDFILE" ] && cat "$PIDFILE"; }

fail() {
  echo "test-db: $*" >&2
  if [ -f "$LOG" ]; then
    echo "--- last lines of $LOG ---" >&2
    tail -n 25 "$LOG" >&2
  fi
  exit 1
}

# odbcinst.ini folder: the system one when it registers the driver, else a
# private copy that names the driver library directly.
sysini_dir() {
  if [ -f "$DIR/odbcinst.ini" ]; then echo "$DIR"; else echo /etc; fi
}

write_odbc_files() {
  if ! grep -qF "[$DRIVER]" /etc/odbcinst.ini 2>/dev/null; then
    local lib
    lib="$(dpkg -L odbc-mariadb 2>/dev/null | grep -m1 '/libmaodbc\.so$' || true)"
    [ -n "$lib" ] || fail "ODBC driver '$DRIVER' not registered and libmaodbc.so not found (install odbc-mariadb)"
    printf '[%s]\nDriver=%s\n' "$DRIVER" "$lib" >"$DIR/odbcinst.ini"
  fi
  local dsn
  {
    for dsn in scpn:quorvel scpn_wrongpass:wrong; do
      printf '[%s]\nDriver=%s\nServer=127.0.0.1\nPort=%s\nDatabase=scpn\nUser=quorvel\nPassword=%s\nCONN_TIMEOUT=5\n\n' \
        "${dsn%%:*}" "$DRIVER" "$PORT" "${dsn#*:}"
    done
  } >"$DIR/odbc.ini"
}

start() {
  command -v mariadbd >/dev/null || fail "mariadbd not found (apt-get install mariadb-server)"
  mkdir -p "$DIR"
  if ! answers; then
    local as_user=()
    if [ "$(id -u)" -eq 0 ]; then
      as_user=(--user=mysql)
      chown mysql:mysql "$DIR"
    fi
    if [ ! -d "$DATA/mysql" ]; then
      rm -rf "$DATA"
      mariadb-install-db --no-defaults "${as_user[@]}" --datadir="$DATA" \
        --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
        >"$DIR/install-db.log" 2>&1 || { LOG="$DIR/install-db.log"; fail "mariadb-install-db failed"; }
    fi
    setsid mariadbd --no-defaults "${as_user[@]}" --datadir="$DATA" --socket="$SOCK" \
      --port="$PORT" --bind-address=127.0.0.1 --skip-networking=0 --skip-name-resolve \
      --pid-file="$PIDFILE" --log-error="$LOG" \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      </dev/null >>"$DIR/mariadbd.out" 2>&1 &
    local pid=$! i
    for ((i = 0; i < 60; i++)); do
      answers && break
      kill -0 "$pid" 2>/dev/null || fail "mariadbd exited during start-up"
      sleep 0.5
    done
    answers || fail "mariadbd did not answer within 30 s"
  fi
  # Cheap and idempotent, so done on every start.
  client <<'SQL' || fail "could not create database scpn / user quorvel"
CREATE DATABASE IF NOT EXISTS scpn;
CREATE USER IF NOT EXISTS 'quorvel'@'localhost' IDENTIFIED BY 'quorvel';
CREATE USER IF NOT EXISTS 'quorvel'@'127.0.0.1' IDENTIFIED BY 'quorvel';
GRANT ALL ON scpn.* TO 'quorvel'@'localhost';
GRANT ALL ON scpn.* TO 'quorvel'@'127.0.0.1';
SQL
  write_odbc_files
  echo "test-db: MariaDB on 127.0.0.1:$PORT (state in $DIR)"
}

stop() {
  local pid i
  pid="$(server_pid || true)"
  if answers; then
    mariadb-admin --no-defaults --socket="$SOCK" -uroot shutdown >/dev/null 2>&1 || true
  fi
  if [ -n "$pid" ]; then
    for ((i = 0; i < 60; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "test-db: mariadbd $pid did not stop, killing it" >&2
      kill -9 "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$PIDFILE"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) answers ;;
  env)
    echo "export ODBCINI=$DIR/odbc.ini"
    echo "export ODBCSYSINI=$(sysini_dir)"
    ;;
  load)
    [ -f "${2:-}" ] || { echo "usage: $0 load FILE.sql" >&2; exit 2; }
    client scpn <"$2"
    ;;
  *)
    echo "usage: $0 start|stop|status|env|load FILE.sql" >&2
    exit 2
    ;;
esac
