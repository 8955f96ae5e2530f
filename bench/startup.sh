#!/usr/bin/env bash
# Start-up of the window: from the process's start until its window is mapped
# on an X display, over several runs. Reference: the same measure for a
# trivial X client (xmessage) in the same run. Start-up includes its checks:
# the presentation application is started and let go once, and the printer
# list is read, so run this inside a session bus with LibreOffice installed.
# usage: bench/startup.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd); runs=${2:-5}
cfg=$(mktemp -d); trap 'rm -rf "$cfg"' EXIT
export XDG_CONFIG_HOME=$cfg/config
"$build/bin/pradelux-printer" install >/dev/null

time_to_window() { # pattern command... ; prints milliseconds until a window matching the pattern exists
  local pattern=$1; shift
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 &
  local pid=$!
  until xwininfo -root -tree 2>/dev/null | grep -q "$pattern"; do sleep 0.002; done
  end=$(date +%s%N)
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
  echo $(( (end - start) / 1000000 ))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

p=(); r=()
for _ in $(seq "$runs"); do
  # The main window carries the program's class; Qt's 1x1 leader window does not.
  p+=("$(time_to_window '"Pradelux": ("pradelux"' "$build/bin/pradelux")")
  r+=("$(time_to_window '"xmessage": (' xmessage -name xmessage -title xmessage hello)")
done
echo "pradelux start to window: median $(printf '%s\n' "${p[@]}" | median) ms (runs: ${p[*]})"
echo "xmessage start to window: median $(printf '%s\n' "${r[@]}" | median) ms (runs: ${r[*]})"
