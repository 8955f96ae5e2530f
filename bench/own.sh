# Sourced by the benchmarks: ends only what this benchmark started.
# stop_own PROGRAM: kills the processes of PROGRAM (a path) whose environment
# holds this benchmark's own cache folder ($XDG_CACHE_HOME), and waits for
# them; a run of the same build beside the benchmark goes on.
stop_own() {
  local program=$1 pid pids=()
  for pid in $(pgrep -u "$(id -u)" -x "$(basename "$program" | cut -c1-15)"); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$program")" ] || continue
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_CACHE_HOME=$XDG_CACHE_HOME" || continue
    pids+=("$pid")
  done
  [ ${#pids[@]} -eq 0 ] && return 0
  kill "${pids[@]}" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "${pids[@]}" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "${pids[@]}" 2>/dev/null || true
}
