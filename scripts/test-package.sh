#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, starts the installed
# launcher as a new user would from a file manager's "Open With" (a file and a
# folder, a fresh home, a virtual display, no printer command), exports, and
# removes the package again, checking that nothing of it is left.
# Needs root (or sudo) for dpkg; scripts/test.sh runs it after the suite.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
tools=(desktop-file-utils appstream lintian xdotool)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The build folder to package: the test command's own, or one of its own.
build=${1:-build-package}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRADELUX_TESTS=OFF >/dev/null
fi
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/pradelux_*.deb
cmake --build "$build" --target package >/dev/null
deb=$(ls "$build"/pradelux_*.deb)
echo "package: $deb"
lintian --fail-on error "$deb"

work=$(mktemp -d)
# Whatever the package was installed as, every configuration file it lists
# is an absolute path.
cmake -S . -B "$work/prefix" -DPRADELUX_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr/local >/dev/null
if grep -v '^/' "$work/prefix/packaging/conffiles"; then echo "a configuration file listed by a relative path"; exit 1; fi

# A pradelux package that was installed before is put back afterwards, as
# it was (dpkg-repack makes a package of it as installed).
mkdir "$work/saved"
if dpkg-query -W -f='${Status}' pradelux 2>/dev/null | grep -q "install ok installed"; then
  command -v dpkg-repack >/dev/null || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq dpkg-repack >/dev/null
  (cd "$work/saved" && $sudo dpkg-repack pradelux >/dev/null)
  echo "The installed pradelux is put back after the test: $(ls "$work/saved")"
fi
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  if dpkg-query -W -f='${Status}' pradelux 2>/dev/null | grep -q installed; then
    $sudo dpkg --purge pradelux >/dev/null || true
  fi
  if ls "$work"/saved/*.deb >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$work"/saved/*.deb >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >/dev/null
dpkg -L pradelux | sort > "$work/files"
test -x /usr/bin/pradelux
desktop-file-validate /usr/share/applications/org.pradelux.Pradelux.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.pradelux.Pradelux.metainfo.xml >/dev/null
for size in 16 32 48 64 128 256; do
  test -s "/usr/share/icons/hicolor/${size}x${size}/apps/org.pradelux.Pradelux.png"
done

# A new user: nothing in the home folder, the printer comes with the package.
export HOME="$work/home"
mkdir -p "$HOME" "$work/decks/more"
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME XDG_CONFIG_DIRS XDG_RUNTIME_DIR
cp /usr/lib/pradelux/Samples/"Welcome to Pradelux.pptx" "$work/decks/Talk.pptx"
cp /usr/lib/pradelux/Samples/"Product Tour.odp" "$work/decks/more/Tour.odp"
cp /usr/lib/pradelux/Samples/"Quarterly Review (hidden slide).ppt" "$work/decks/more/Review.ppt"

display=:$((RANDOM % 400 + 100))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
sleep 1
# A session bus of its own, so the end of the session can be made.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
bus_pid=$(sed -n 2p <<<"$bus")
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
pradelux "$work/decks/Talk.pptx" "$work/decks/more" >"$work/app.log" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Pradelux$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "${window:-}" ] || { echo "the window did not appear"; cat "$work/app.log"; exit 1; }
sleep 1
# "Start Exporting To PDF"
xdotool mousemove --window "$window" 267 356 click 1
for _ in $(seq 120); do
  [ "$(ls "$HOME"/*.pdf 2>/dev/null | wc -l)" -ge 3 ] && break
  sleep 0.5
done
ls "$HOME"
for pdf in Talk Tour Review; do
  pages=$(pdfinfo "$HOME/$pdf.pdf" | awk '/^Pages:/ {print $2}')
  echo "$pdf.pdf: $pages pages"
  test "$pages" -eq 3
done
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=
# With the session over, nothing of the program keeps running: the warm
# renderer ends with its session bus.
kill "$bus_pid"; bus_pid=
for _ in $(seq 50); do pgrep -f /usr/lib/pradelux/ >/dev/null || break; sleep 0.2; done
if pgrep -af /usr/lib/pradelux/; then echo "still running after the session ended"; exit 1; fi
# The printer it used came with the package, for every user.
test "$(pradelux-printer list | cut -f1,4)" = "$(printf 'Veltrande PDF Writer\tsystem')"

$sudo dpkg --purge pradelux >/dev/null
left=0
while read -r f; do
  if [ -e "$f" ] && [ ! -d "$f" ]; then echo "left behind: $f"; left=1; fi
done < "$work/files"
while read -r f; do
  case "$f" in /usr/lib/pradelux*|/usr/share/doc/pradelux*|/etc/xdg/Veltrande*)
    if [ -d "$f" ] && [ -z "$(ls -A "$f")" ]; then echo "left behind: $f"; left=1; fi ;; esac
done < "$work/files"
[ "$left" -eq 0 ]
echo "The package installs, exports from its launcher and leaves nothing behind."
echo "package: 1 passed, 0 failed"
