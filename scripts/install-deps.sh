#!/usr/bin/env bash
# Installs the Debian packages scpnsim needs to build and test. Idempotent:
# packages already present are left alone and apt is only asked when one is missing.
set -euo pipefail

PACKAGES=(
  g++ cmake make
  libxerces-c-dev
  libtclap-dev
  unixodbc-dev unixodbc odbc-mariadb
  mariadb-server
  libjemalloc-dev
  openmpi-bin libopenmpi-dev
  libcpp-httplib-dev nlohmann-json3-dev libjs-chart.js
  chromium chromium-driver
  googletest libgtest-dev libgmock-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
