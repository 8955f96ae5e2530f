#!/usr/bin/env bash
# Installs what is missing, builds Pradelux with warnings as errors and runs
# every test. The tests start their own session buses and need no display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRADELUX_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure --timeout 900
