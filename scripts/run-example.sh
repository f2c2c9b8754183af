#!/usr/bin/env bash
# Builds scpnsim and runs the main job: a transient simulation of the model in
# the shipped example directory, limited to one minute of wall-clock time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cd examples/basic
status=0
../../build/scpnsim -T --mstart 0 --mstop 100 --nofsampling 5 --epsmax 5 --secmax 60 --seed 1 || status=$?
if [ -f results.log ]; then
  echo "---- results.log ----"
  cat results.log
fi
exit "$status"
