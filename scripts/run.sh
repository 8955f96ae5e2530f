#!/usr/bin/env bash
# Installs what is missing, builds Pradelux, installs the PDF printer for this
# user and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
# Only what runs is built (no tests, no benchmarks), in a folder of its own,
# and of its Debian release's own (a Debian 13 root may share the checkout).
build=build-run
release_id=$(. /etc/os-release && echo "$VERSION_ID")
[ "$release_id" = 12 ] || build=build-run-debian$release_id
cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRADELUX_TESTS=OFF >/dev/null
cmake --build $build -j"$(nproc)"

if ! $build/bin/pradelux-printer list | cut -f1 | grep -qx "Veltrande PDF Writer"; then
  $build/bin/pradelux-printer install
fi

launch=($build/bin/pradelux)
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ ! -S "/run/user/$(id -u)/bus" ]; then
  echo "No session bus: starting one for Pradelux"
  launch=(dbus-run-session -- "${launch[@]}")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Pradelux on a virtual display (Xvfb); nothing will appear on a screen"
  launch=(xvfb-run -a -s "-screen 0 1024x768x24" "${launch[@]}")
fi
exec "${launch[@]}"
