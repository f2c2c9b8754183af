#!/usr/bin/env bash
# Installs the dependencies (if missing) and builds scpnsim into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# SCPN_WERROR=ON (as CI sets it) makes every warning an error.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCPN_WERROR="${SCPN_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
