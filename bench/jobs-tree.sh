#!/usr/bin/env bash
# --jobs 2 against --jobs 1 on an archive's layout: a tree of 4 folders of 30
# small decks each (1 to 3 slides, a third each .odp, .pptx and .ppt), once
# with names of their own in every folder and once with one set of names
# repeated in every folder (--keep-folders). Counts the renderers each run
# started: a job's LibreOffice serves the rows of one folder, so a job that
# hops between folders starts one for nearly every row.
# usage: bench/jobs-tree.sh BUILD_DIR [ROUNDS]   (bench/commandline.sh runs it too)
set -euo pipefail
build=$(cd "$1" && pwd); rounds=${2:-3}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
"$build/bin/pradelux-printer" install >/dev/null
. "$(dirname "$0")/own.sh"
stop_renderer() { stop_own "$build/bin/pradelux-render"; }

small=$build/bench-corpus-small
if [ ! -d "$small" ]; then
  mkdir -p "$work/flat" "$small"
  decks=()
  for n in $(seq 0 29); do decks+=("$(printf 's%02d' "$n"):$((n % 3 + 1))"); done
  python3 "$(dirname "$0")/../scripts/flat-decks.py" "$work/flat" "${decks[@]}"
  for kind in odp pptx ppt; do
    files=()
    for n in $(seq 0 29); do
      case $((n % 3)) in 0) k=odp ;; 1) k=pptx ;; 2) k=ppt ;; esac
      [ $k = $kind ] && files+=("$work/flat/$(printf 's%02d' "$n").fodp")
    done
    soffice --headless -env:UserInstallation=file://$work/convert --convert-to $kind --outdir "$small" \
      "${files[@]}" >/dev/null 2>&1
  done
fi
own=$work/own; same=$work/same
for f in 1 2 3 4; do
  mkdir -p "$own/folder$f" "$same/folder$f"
  for deck in "$small"/*; do
    cp "$deck" "$own/folder$f/f$f-${deck##*/}"; cp "$deck" "$same/folder$f/"
  done
done
rows=$((4 * $(ls "$small" | wc -l)))
dbus-run-session -- "$build/bin/pradelux" --export --output "$work" "$small/s00.odp" >/dev/null 2>&1

# The renderers a run started: every LibreOffice (soffice.bin) seen while
# the run lasts, sampled every 20 ms (one lives at least as long as it takes
# to load). Run nothing else of LibreOffice's beside the benchmark.
counted() { # tree jobs [option...]; prints "wall renderers"
  local tree=$1 jobs=$2; shift 2
  stop_renderer; rm -rf "$work/out" "$work/seen"; mkdir -p "$work/out"
  python3 - "$work/seen" <<'EOF2' &
import os, sys, time
out = sys.argv[1]
seen = set()
while not os.path.exists(out + ".stop"):
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if pid not in seen and os.readlink(f"/proc/{pid}/exe").endswith("/soffice.bin"):
                seen.add(pid)
        except OSError:
            pass
    time.sleep(0.02)
open(out, "w").write("%d\n" % len(seen))
EOF2
  local sampler=$! start end
  start=$(date +%s%N)
  dbus-run-session -- "$build/bin/pradelux" --export --jobs "$jobs" "$@" --output "$work/out" "$tree" >/dev/null 2>&1
  end=$(date +%s%N)
  touch "$work/seen.stop"; wait "$sampler"; rm -f "$work/seen.stop"
  stop_renderer
  local pdfs; pdfs=$(find "$work/out" -name '*.pdf' | wc -l)
  [ "$pdfs" -eq "$rows" ] || { echo "$tree --jobs $jobs $*: $pdfs of $rows PDFs"; exit 1; }
  echo "$(echo "scale=3; ($end - $start) / 1000000000" | bc) $(cat "$work/seen")"
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for layout in own same; do
  keep=(); [ $layout = same ] && keep=(--keep-folders)
  ones=; twos=; ratios=; starts1=; starts2=
  for round in $(seq "$rounds"); do
    read -r w1 r1 < <(counted "$work/$layout" 1 "${keep[@]}")
    read -r w2 r2 < <(counted "$work/$layout" 2 "${keep[@]}")
    ones+=" $w1"; twos+=" $w2"; starts1+=" $r1"; starts2+=" $r2"
    ratios+=" $(echo "scale=2; $w2 / $w1" | bc | sed 's/^\./0./')"
  done
  name="names of their own"; [ $layout = same ] && name="one set of names in every folder, --keep-folders"
  echo "4 folders x $((rows / 4)) small decks, $name: --jobs 1:$ones s (renderers:$starts1);" \
    "--jobs 2:$twos s (renderers:$starts2); a round's ratio:$ratios;" \
    "median $(echo "$ratios" | median) (target at most 0.75, at most 16 renderers)"
done
