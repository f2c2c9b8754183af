#!/usr/bin/env bash
# Builds scpnsim with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
# The database tests start a private MariaDB server (scripts/test-db.sh) on
# first use; it is stopped whatever the outcome.
trap 'scripts/test-db.sh stop >/dev/null 2>&1 || true' EXIT
ctest --test-dir build --output-on-failure -j"$(nproc)"
