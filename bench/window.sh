#!/usr/bin/env bash
# The window's pace: twelve small decks through the real window on Xvfb,
# clicked as a user clicks, with every row printed by a LibreOffice of its
# own (the window's default) and with the rows of one folder sharing one.
# Each row waits 3.4 s for the window's fixed pauses; the figure is what a
# row takes beyond them, from the click until the twelfth PDF stands.
# usage: bench/window.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=$(cd "$1" && pwd); rounds=${2:-2}
work=$(mktemp -d)
. "$(dirname "$0")/own.sh"
cleanup() {
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  sleep 0.5; rm -rf "$work"
}
trap cleanup EXIT
rows=12
mkdir -p "$work/decks"
decks=(); for i in $(seq -w 1 $rows); do decks+=("talk$i:$(( (10#$i % 3) + 1 ))"); done
python3 "$(dirname "$0")/../scripts/flat-decks.py" "$work/decks" "${decks[@]}"

display=:$((RANDOM % 400 + 500))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
sleep 1

# One round: a fresh home and session; isolate is 1 or 0. Prints the seconds
# per row beyond the pauses.
round() {
  local home=$work/home-$1-$2 window= start end
  mkdir -p "$home/out"
  export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache
  mkdir -p "$XDG_CONFIG_HOME/Veltrande"
  printf '[Pradelux]\nLocation=%s\nIsolateRows=%s\n' "$home/out" "$1" >"$XDG_CONFIG_HOME/Veltrande/Pradelux.ini"
  "$build/bin/pradelux-printer" install >/dev/null
  local bus
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  bus_pid=$(sed -n 2p <<<"$bus")
  export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
  "$build/bin/pradelux" "$work"/decks/*.fodp >"$home/app.log" 2>&1 &
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Pradelux$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || { echo "the window did not appear" >&2; cat "$home/app.log" >&2; exit 1; }
  # The window's start-up (and the LibreOffice it starts ahead) is done.
  sleep 3
  start=$(date +%s%N)
  xdotool mousemove --window "$window" 267 356 click 1
  while [ "$(ls "$home/out" | grep -c '\.pdf$')" -lt $rows ]; do
    sleep 0.05
    (( $(date +%s%N) - start < 200000000000 )) || { echo "the rows did not end" >&2; exit 1; }
  done
  end=$(date +%s%N)
  grep -o 'rendered in [0-9.]*' "$XDG_CACHE_HOME/pradelux-office/server.log" | awk '{s+=$3} END {printf "%.3f\n", s/NR}' >"$work/rendered-$1-$2"
  kill "$bus_pid"; bus_pid=
  for program in pradelux pradelux-office pradelux-render; do stop_own "$build/bin/$program"; done
  sleep 1
  # The PDF of the last row stands before that row's last two pauses (2 s).
  echo "scale=3; (($end - $start) / 1000000000 - ($rows * 3.4 - 2)) / $rows" | bc
}

isolated=; shared=
for r in $(seq "$rounds"); do
  isolated+=" $(round 1 "$r")"
  shared+=" $(round 0 "$r")"
done
echo "window, $rows rows, seconds a row beyond the 3.4 s of pauses:"
echo "  every row its own LibreOffice (the default):$isolated (target at most 0.25)"
echo "  one LibreOffice for the folder:$shared"
echo "  rendering alone, a row's mean by round: every row its own: $(cat "$work"/rendered-1-* | tr '\n' ' ')" \
  "one for the folder: $(cat "$work"/rendered-0-* | tr '\n' ' ')"
