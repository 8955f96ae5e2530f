#!/usr/bin/env bash
# Installs what is missing, builds Pradelux with warnings as errors and runs
# every test, then builds it again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test once more. The tests start
# their own session buses and need no display. Last, the Debian package is
# built from the first build, installed, used and removed, and the example
# Slurm array script is run on a one-machine cluster.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
# ccache (found by CMake) keeps what was compiled; with these a clone in
# another folder finds it too.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
# The first pass is optimised as a release is, without debug information
# (which made its build 16 % slower); the sanitizer pass keeps it.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DPRADELUX_WERROR=ON >/dev/null
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPRADELUX_SANITIZE=ON -DPRADELUX_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
# The sanitizer build compiles on one core while the first pass's tests,
# which mostly wait for LibreOffice and the window's pauses, run in groups
# at once.
cmake --build build-sanitize -j1 >build-sanitize/build.log 2>&1 &
sanitizer_build=$!
(cd build && ctest --output-on-failure --timeout 900 -j"$(nproc)")
wait "$sanitizer_build" || { tail -50 build-sanitize/build.log; exit 1; }
cmake --build build-sanitize -j"$(nproc)"

# Qt keeps some allocations until exit on purpose; leaks are not what this
# pass looks for.
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure --timeout 900 -j"$(nproc)")

# The check of what a file holds, fuzzed for a minute from its corpus.
tests/fuzz/run.sh 60

# The Debian package, installed and used as a new user would, then removed.
scripts/test-package.sh build

# The example batch script for Slurm job arrays on a one-machine cluster.
tests/cluster/slurm.sh build
