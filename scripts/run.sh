#!/usr/bin/env bash
# Builds Tervane and runs the relay in the foreground from the program folder build/tervane/,
# on the settings database delivered there (created only when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --runtime
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVANE_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target TervixSrv tervane-svc tervane_database
if [ -x build/tervane/TervixSrv ]; then
  cd build/tervane
  exec ./TervixSrv
fi
echo "Built the program folder build/tervane/:"
ls -l build/tervane
echo "The relay program TervixSrv is not part of this build yet; nothing to run."
