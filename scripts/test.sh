#!/usr/bin/env bash
# Builds scpnsim with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
