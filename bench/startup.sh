#!/usr/bin/env bash
# Start-up of the window: from the process's start until its window is mapped
# on an X display, over several runs. Reference: the same measure for a
# trivial X client (xmessage) in the same run.
# usage: bench/startup.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd); runs=${2:-5}
cfg=$(mktemp -d); trap 'rm -rf "$cfg"' EXIT
export XDG_CONFIG_HOME=$cfg/config

time_to_window() { # command... ; prints milliseconds until a window named Pradelux/xmessage is viewable
  local name=$1; shift
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 &
  local pid=$!
  until xwininfo -root -tree 2>/dev/null | grep -q "\"$name\""; do sleep 0.002; done
  end=$(date +%s%N)
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
  echo $(( (end - start) / 1000000 ))
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

p=(); r=()
for _ in $(seq "$runs"); do
  p+=("$(time_to_window Pradelux "$build/bin/pradelux")")
  r+=("$(time_to_window xmessage xmessage -name xmessage -title xmessage hello)")
done
echo "pradelux start to window: median $(printf '%s\n' "${p[@]}" | median) ms (runs: ${p[*]})"
echo "xmessage start to window: median $(printf '%s\n' "${r[@]}" | median) ms (runs: ${r[*]})"
