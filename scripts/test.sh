#!/usr/bin/env bash
# Installs what is missing, builds Pradelux with warnings as errors and runs
# every test, then builds it again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test once more; fuzzes the check
# of what a file holds; builds the Debian package, installs it, uses it and
# removes it; and runs the example Slurm array script on a one-machine
# cluster. The tests start their own session buses and need no display.
#
# Both Debian releases are tested from one run: on Debian 12, as root, the
# sanitizer pass and a second package test run in a Debian 13 root
# (scripts/debian13.sh), so every test program runs on both. Elsewhere every
# pass runs on the machine itself.
#   scripts/test.sh            every pass
#   scripts/test.sh PASS...    only these: release sanitize fuzz package cluster
set -euo pipefail
cd "$(dirname "$0")/.."

# Where the time goes: each step's end, by the clock (the Debian 13 root's
# steps, in the background, say theirs in their own log).
mark() { echo "== $(date +%T) $*"; }
scripts/deps.sh
mark "packages installed"
# ccache (found by CMake) keeps what was compiled; with these a clone in
# another folder finds it too.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
# Each Debian release builds in folders of its own: the checkout is the
# same inside the Debian 13 root.
release_id=$(. /etc/os-release && echo "$VERSION_ID")
b=build
[ "$release_id" = 12 ] || b=build-debian$release_id
passes=("$@")
debian13=
if [ ${#passes[@]} -eq 0 ]; then
  passes=(release sanitize fuzz package cluster)
  if [ "$release_id" = 12 ] && [ "$(id -u)" -eq 0 ]; then
    debian13=yes
    passes=(release fuzz package cluster)
  else
    echo "Every pass runs on this machine (a Debian 13 root is tested from Debian 12, as root)."
  fi
fi
has() { [[ " ${passes[*]} " == *" $1 "* ]]; }

release_build() {
  # Optimised as a release is, without debug information (which made the
  # build 16 % slower); the sanitizer pass keeps its line tables.
  cmake -S . -B $b -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DPRADELUX_WERROR=ON >/dev/null
  cmake --build $b -j"$(nproc)"
}
sanitize_configure() {
  # Debug information of lines alone, which is what the sanitizers' reports
  # name: the build takes a fifth less time than with full information.
  cmake -S . -B $b-sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DPRADELUX_SANITIZE=ON \
    -DPRADELUX_WERROR=ON >/dev/null
}
# Beside the other passes: a second compiler only while the machine's load
# leaves room for it.
sanitize_build() {
  cmake --build $b-sanitize -- -j"$(nproc)" -l"$(nproc)"
}
sanitize_tests() {
  cmake --build $b-sanitize -j"$(nproc)"
  # Qt keeps some allocations until exit on purpose; leaks are not what this
  # pass looks for.
  (cd $b-sanitize && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure --timeout 900 -j"$(nproc)")
}
package_build() {
  # The package's programs alone, optimised as the release build is.
  cmake -S . -B $b-package -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DPRADELUX_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  cmake --build $b-package -j"$1"
}
case "${passes[*]}" in
--sanitize-build)
  # In the Debian 13 root, while the release tests run outside it.
  mark "Debian 13 root ready"
  sanitize_configure
  sanitize_build
  mark "Debian 13 sanitizer build made"
  exit ;;
--package-build)
  # In the Debian 13 root, beside the sanitizer tests.
  package_build 1
  mark "Debian 13 package built"
  exit ;;
esac

# The sanitizer build compiles while the release tests, which mostly wait
# for LibreOffice and the window's pauses, run in groups at once, and then
# this machine's other passes; in the Debian 13 root it is made (and the
# root with it) meanwhile, and the Debian 13 package is built on one core
# beside the sanitizer tests there.
background=
if [ -n "$debian13" ]; then
  mkdir -p build-debian13-sanitize
  log=build-debian13-sanitize/build.log
  scripts/debian13.sh scripts/test.sh --sanitize-build >$log 2>&1 &
  background=$!
elif has sanitize; then
  sanitize_configure
  log=$b-sanitize/build.log
  sanitize_build >$log 2>&1 &
  background=$!
fi
if has release; then
  release_build
  mark "release build made"
  (cd $b && ctest --output-on-failure --timeout 900 -j"$(nproc)")
  mark "release tests passed"
fi

# The check of what a file holds, fuzzed for a minute from its corpus.
if has fuzz; then
  tests/fuzz/run.sh 60
  mark "fuzzers ran"
fi

# The Debian package, installed and used as a new user would, then removed.
if has package; then
  if has release; then
    scripts/test-package.sh $b
  else
    package_build "$(nproc)"
    scripts/test-package.sh $b-package
  fi
  mark "package tried"
fi

# The example batch script for Slurm job arrays on a one-machine cluster.
if has cluster; then
  [ -f $b/CMakeCache.txt ] || release_build
  tests/cluster/slurm.sh $b
  mark "cluster ran"
fi

if [ -n "$background" ]; then
  if ! wait "$background"; then
    tail -50 "$log"
    exit 1
  fi
  grep '^== ' "$log" || true
fi
if has sanitize; then
  sanitize_tests
  mark "sanitizer tests passed"
fi
if [ -n "$debian13" ]; then
  echo "Debian 13: the sanitizer pass and the package"
  # The root was made or found up to date when the background entered it.
  export PRADELUX_TEST_ROOT_CHECKED=yes
  package_log=build-debian13-sanitize/package.log
  scripts/debian13.sh scripts/test.sh --package-build >$package_log 2>&1 &
  package=$!
  scripts/debian13.sh scripts/test.sh sanitize
  wait "$package" || { tail -50 $package_log; exit 1; }
  grep '^== ' $package_log || true
  scripts/debian13.sh scripts/test.sh package
  mark "Debian 13 passes passed"
fi
