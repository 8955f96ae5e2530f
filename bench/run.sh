#!/usr/bin/env bash
# Runs every benchmark: builds, then measures inside a private session bus and
# a virtual display. Figures go to bench/README.md by hand, with date and machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
for p in x11-utils x11-apps; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || \
    { [ "$(id -u)" -eq 0 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" || sudo apt-get install -y -qq "$p"; }
done
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
echo "== machine: $(nproc) cores, $(free -g | awk '/Mem/ {print $2}') GiB, $(date -u +%F)"
echo "== export of one presentation"
dbus-run-session -- build/bench/bench_doppt "${ROUNDS:-3}"
echo "== export run of ten presentations"
dbus-run-session -- build/bench/bench_export 10
echo "== folder scan and appending rows"
build/bench/bench_scan
echo "== start-up of the window"
xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- bench/startup.sh build "${RUNS:-7}"
echo "== the command line over a corpus, one job and two"
bench/commandline.sh build "${DECKS:-42}" "${ROUNDS:-3}"
echo "== one deck at a time, 1 to 2,000 slides: kept, afresh and bare"
bench/decksizes.sh build "${ROUNDS:-3}"
