#!/usr/bin/env bash
# A private MariaDB server and data source "scpn" for trying the stored
# tokens, apart from the tests' server and any system one.
#
#   scripts/try-db.sh start        start the server, load examples/database/tokens.sql
#                                  (only on the first start) and print how to use it
#   scripts/try-db.sh stop         shut the server down (the data stays)
#   scripts/try-db.sh env          the exports that make unixODBC see the data source:
#                                     eval "$(scripts/try-db.sh env)"
#   scripts/try-db.sh load F.sql   run F.sql against database scpn as root
#
# State in /tmp/scpn-try-db, server on 127.0.0.1:33062; everything else is
# scripts/test-db.sh. Packages: mariadb-server odbc-mariadb unixodbc.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
export SCPN_TEST_DB_DIR=/tmp/scpn-try-db
export SCPN_TEST_DB_PORT=33062

case "${1:-}" in
  start)
    fresh=0
    [ -d "$SCPN_TEST_DB_DIR/data/mysql" ] || fresh=1
    "$here/test-db.sh" start
    if [ "$fresh" -eq 1 ]; then
      "$here/test-db.sh" load "$here/../examples/database/tokens.sql"
      echo "try-db: loaded examples/database/tokens.sql"
    fi
    cat <<TEXT
try-db: data source "scpn" is in $SCPN_TEST_DB_DIR/odbc.ini. In this shell:
  eval "\$(scripts/try-db.sh env)"
  cd examples/basic && ../../build/scpnsim -p --fcount 1000 --lcount 1 --seed 1
Change the tokens with: scripts/try-db.sh load YOUR.sql
TEXT
    ;;
  stop | env | status) "$here/test-db.sh" "$1" ;;
  load)
    [ -f "${2:-}" ] || { echo "usage: $0 load FILE.sql" >&2; exit 2; }
    "$here/test-db.sh" load "$2"
    ;;
  *)
    echo "usage: $0 start|stop|status|env|load FILE.sql" >&2
    exit 2
    ;;
esac
