#!/usr/bin/env bash
# The command line at full speed: pradelux --export over a corpus of decks of
# mixed formats and sizes, with one job and with two, against one bare
# LibreOffice process converting the same files, all measured in this run.
# Each measure starts with nothing of LibreOffice loaded (a fresh session bus
# for pradelux; a profile that already exists for both).
# usage: bench/commandline.sh BUILD_DIR [DECKS] [ROUNDS]
# Ends with bench/jobs-tree.sh: --jobs on a tree of folders.
set -euo pipefail
build=$(cd "$1" && pwd); count=${2:-42}; rounds=${3:-3}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
corpus=$build/bench-corpus-$count
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
"$build/bin/pradelux-printer" install >/dev/null

# The corpus: flat ODP decks of 1 to 150 slides, a third each kept as .odp,
# written as .pptx and as .ppt by LibreOffice. Made once per build folder.
if [ ! -d "$corpus" ]; then
  mkdir -p "$work/flat" "$corpus"
  sizes=(1 3 8 20 60 150) decks=()
  for n in $(seq 0 $((count - 1))); do decks+=("$(printf 'deck%02d' "$n"):${sizes[n % 6]}"); done
  python3 "$(dirname "$0")/../scripts/flat-decks.py" "$work/flat" "${decks[@]}"
  for kind in odp pptx ppt; do
    files=()
    for f in "$work"/flat/*.fodp; do
      n=$((10#$(basename "$f" .fodp | tr -dc 0-9)))
      case $((n % 3)) in 0) [ $kind = odp ] && files+=("$f") ;; 1) [ $kind = pptx ] && files+=("$f") ;;
                          2) [ $kind = ppt ] && files+=("$f") ;; esac
    done
    soffice --headless -env:UserInstallation=file://$work/convert --convert-to $kind --outdir "$corpus" \
      "${files[@]}" >/dev/null 2>&1
  done
fi
echo "corpus: $(ls "$corpus" | wc -l) decks ($(ls "$corpus" | sed 's/.*\.//' | sort | uniq -c | tr '\n' ' '))"

seconds() { # command... ; prints the wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
bare_profile=file://$work/bare-profile
# The bare batch tags its PDFs too, as Pradelux does by default, so that the
# ratio compares like with like.
tagged='pdf:impress_pdf_Export:{"UseTaggedPDF":{"type":"boolean","value":"true"}}'
soffice --headless -env:UserInstallation=$bare_profile --convert-to "$tagged" --outdir "$work/warm-up" \
  "$corpus/deck00.odp" >/dev/null 2>&1
# What LibreOffice itself gains from a second processor on this machine: two
# bare processes at once, each over every other deck, each with its profile.
soffice --headless -env:UserInstallation=${bare_profile}-2 --convert-to "$tagged" --outdir "$work/warm-up" \
  "$corpus/deck00.odp" >/dev/null 2>&1
halves() {
  local files=("$corpus"/*) odd=() even=() i
  for i in "${!files[@]}"; do if ((i % 2)); then odd+=("${files[i]}"); else even+=("${files[i]}"); fi; done
  soffice --headless -env:UserInstallation=$bare_profile --convert-to "$tagged" --outdir "$work/halves" "${even[@]}" &
  soffice --headless -env:UserInstallation=${bare_profile}-2 --convert-to "$tagged" --outdir "$work/halves" "${odd[@]}"
  wait
}
# One warm-up so the render profile exists, as the bare one does.
dbus-run-session -- "$build/bin/pradelux" --export --output "$work" "$corpus/deck00.odp" >/dev/null 2>&1

# The three measures take turns, so that a slower moment of a shared machine
# falls on all of them; each figure is the median of its rounds. Every
# pradelux run starts its own LibreOffice: the renderer of the run before is
# ended first.
. "$(dirname "$0")/own.sh"
stop_renderer() { stop_own "$build/bin/pradelux-render"; }
bares=; ones=; twos=; halfs=; untagged=
for round in $(seq "$rounds"); do
  rm -rf "$work/bare" "$work/one" "$work/two" "$work/halves"; mkdir -p "$work/one" "$work/two"
  bares+=" $(seconds soffice --headless -env:UserInstallation=$bare_profile --convert-to "$tagged" --outdir "$work/bare" \
    "$corpus"/*)"
  halfs+=" $(seconds halves)"
  stop_renderer
  ones+=" $(seconds dbus-run-session -- "$build/bin/pradelux" --export --jobs 1 --report "$work/one.json" \
    --output "$work/one" "$corpus")"
  cp "$XDG_CACHE_HOME/pradelux-office/server.log" "$work/one.log"
  stop_renderer
  # The PDFs as they were before they were tagged by default.
  rm -rf "$work/untagged"; mkdir -p "$work/untagged"
  untagged+=" $(seconds dbus-run-session -- "$build/bin/pradelux" --export --jobs 1 --no-tags --output "$work/untagged" \
    "$corpus")"
  stop_renderer
  twos+=" $(seconds dbus-run-session -- "$build/bin/pradelux" --export --jobs 2 --output "$work/two" "$corpus")"
  stop_renderer
  for d in bare halves one two; do
    [ "$(ls "$work/$d" | wc -l)" -eq "$count" ] || { echo "$d: $(ls "$work/$d" | wc -l) of $count PDFs"; exit 1; }
  done
done
bare=$(echo "$bares" | median); one=$(echo "$ones" | median); two=$(echo "$twos" | median)
# The kept renderer's PDFs have the pages of LibreOffice's own.
pages() { pdfinfo "$1" | awk '/^Pages:/ {print $2}'; }
for f in "$work"/bare/*.pdf; do
  [ "$(pages "$f")" = "$(pages "$work/one/${f##*/}")" ] ||
    { echo "${f##*/}: $(pages "$work/one/${f##*/}") pages, the bare batch's $(pages "$f")"; exit 1; }
done

# The program's own time of a row: the row's time in the report of the last
# --jobs 1 round less the time its presentation application waited for the
# renderer, which the application's log gives for each PDF it wrote.
own=$(python3 - "$work/one.json" "$work/one.log" <<'EOF2'
import json, re, sys, statistics
rendered = {}
for line in open(sys.argv[2], encoding="utf-8"):
    m = re.search(r": wrote (.*) \(rendered in ([0-9.]+) s\)$", line.rstrip("\n"))
    if m:
        rendered[m.group(1)] = float(m.group(2))
rows = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
own = [r["seconds"] - rendered[r["pdf"]] for r in rows if r["status"] == "written" and r["pdf"] in rendered]
assert len(own) == len(rows), f"{len(own)} of {len(rows)} rows have both times"
print(f"{statistics.median(own) * 1000:.0f} ms (rows: {min(own) * 1000:.0f} to {max(own) * 1000:.0f} ms)")
EOF2
)
echo "rounds: $rounds; bare:$bares s; bare in two halves at once:$halfs s; --jobs 1:$ones s; --jobs 2:$twos s"
# A round's ratio compares measures taken a few seconds apart; the median of
# the rounds' ratios stands against a machine whose speed drifts.
ratios() { paste -d' ' <(echo "$1" | tr ' ' '\n' | grep .) <(echo "$2" | tr ' ' '\n' | grep .) |
  awk '{printf " %.2f", $1 / $2}'; }
one_bare=$(ratios "$ones" "$bares"); two_one=$(ratios "$twos" "$ones"); halves_bare=$(ratios "$halfs" "$bares")
echo "one bare soffice --convert-to pdf (tagged) over the corpus: $bare s (median)"
echo "pradelux --export --jobs 1: $one s (median); a round's ratio to the bare batch:$one_bare;" \
  "median $(echo "$one_bare" | median) (target at most 1.0)"
echo "pradelux --export --jobs 2: $two s (median); a round's ratio to --jobs 1:$two_one;" \
  "median $(echo "$two_one" | median) (target at most 0.65)"
echo "two bare soffice processes at once, over half the corpus each: a round's ratio to the bare batch:$halves_bare;" \
  "median $(echo "$halves_bare" | median) (LibreOffice's own gain from a second processor; no target)"
echo "pradelux's own time per row beyond its renderer's, median: $own (target at most 30 ms)"
tags=$(ratios "$ones" "$untagged")
echo "--jobs 1 tagged (the default) against --no-tags: $one s against $(echo "$untagged" | median) s;" \
  "a round's ratio:$tags; median $(echo "$tags" | median) (target at most 1.10);" \
  "sizes $(du -sk "$work/one" | cut -f1) KiB against $(du -sk "$work/untagged" | cut -f1) KiB"
echo "every PDF of --jobs 1 has as many pages as the bare batch's"

# Many folders: the same decks spread over one folder of 20, three of 5 and
# the rest alone (a LibreOffice of its own for each folder), and every row
# alone (--isolate-rows), against the one folder above, in rounds of their
# own. Processor time is the whole machine's (every process of a run,
# renderers started ahead included), read from /proc/stat.
spread=$work/spread; rm -rf "$spread"; mkdir -p "$spread"
i=0
for f in "$corpus"/*; do
  if ((i < 20)); then d=big; elif ((i < 35)); then d=five$(((i - 20) / 5)); else d=alone$i; fi
  mkdir -p "$spread/$d"; cp "$f" "$spread/$d/"; i=$((i + 1))
done
busy() { awk '/^cpu / {print $2 + $3 + $4 + $7 + $8}' /proc/stat; }
hz=$(getconf CLK_TCK)
measure() { # label folder [option]; appends "wall cpu" to the label's list
  local label=$1 folder=$2; shift 2
  stop_renderer; rm -rf "$work/m"; mkdir -p "$work/m"
  local before after wall
  before=$(busy)
  wall=$(seconds dbus-run-session -- "$build/bin/pradelux" --export "$@" --report "$work/m.json" --output "$work/m" \
    "$folder")
  stop_renderer
  after=$(busy)
  [ "$(ls "$work/m" | grep -c '\.pdf$')" -eq "$count" ] ||
    { echo "$label: $(ls "$work/m" | wc -l) of $count PDFs"; grep -v '"written"' "$work/m.json"; exit 1; }
  eval "${label}_wall+=\" $wall\"; ${label}_cpu+=\" $(echo "scale=3; ($after - $before) / $hz" | bc)\""
}
flat_wall=; flat_cpu=; many_wall=; many_cpu=; iso_wall=; iso_cpu=
for round in $(seq "$rounds"); do
  measure flat "$corpus"; measure many "$spread"; measure iso "$spread" --isolate-rows
done
per_row() { echo "scale=3; $(echo "$1" | median) / $count" | bc; }
echo "one folder, kept renderer: wall:$flat_wall s; processor:$flat_cpu s"
echo "$(ls "$spread" | wc -l) folders (20, 5, 5, 5 and 7 alone), a LibreOffice for each: wall:$many_wall s; processor:$many_cpu s"
echo "every row alone (--isolate-rows): wall:$iso_wall s; processor:$iso_cpu s"
echo "a row, medians: one folder $(per_row "$flat_wall") s wall, $(per_row "$flat_cpu") s processor;" \
  "many folders $(per_row "$many_wall") s, $(per_row "$many_cpu") s; --isolate-rows $(per_row "$iso_wall") s," \
  "$(per_row "$iso_cpu") s"

# Peak memory: the proportional set size of every process of a run (its
# programs, LibreOffice, the sandboxes, the session bus), summed, sampled
# every 0.1 s; once each, after the timed rounds.
peak_pss() { # command...; prints the peak in MiB
  local out=$work/pss
  python3 - "$out" "$build/bin/" <<'EOF2' &
import os, sys, time
out, build = sys.argv[1], sys.argv[2]
ours = (build, "soffice", "bwrap", "dbus-daemon", "dbus-run-session", "oosplash")
peak = 0
while not os.path.exists(out + ".stop"):
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            program = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")[0].decode(errors="replace")
            if any(o in program for o in ours):
                for line in open(f"/proc/{pid}/smaps_rollup"):
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    peak = max(peak, total)
    time.sleep(0.1)
open(out, "w").write("%d\n" % (peak // 1024))
EOF2
  local sampler=$!
  sleep 0.3
  "$@" >/dev/null 2>&1
  touch "$out.stop"; wait "$sampler"; rm -f "$out.stop"
  cat "$out"
}
stop_renderer; rm -rf "$work/p"
pss_bare=$(peak_pss soffice --headless -env:UserInstallation=$bare_profile --convert-to "$tagged" --outdir "$work/p" "$corpus"/*)
stop_renderer
pss_one=$(peak_pss dbus-run-session -- "$build/bin/pradelux" --export --jobs 1 --output "$work/p" "$corpus")
stop_renderer
pss_two=$(peak_pss dbus-run-session -- "$build/bin/pradelux" --export --jobs 2 --output "$work/p" "$corpus")
stop_renderer
pss_iso=$(peak_pss dbus-run-session -- "$build/bin/pradelux" --export --jobs 2 --isolate-rows --output "$work/p" "$corpus")
stop_renderer
echo "peak memory (PSS of the run's processes, summed): bare batch $pss_bare MiB; --jobs 1 $pss_one MiB;" \
  "--jobs 2 $pss_two MiB (target at most 468); --jobs 2 --isolate-rows $pss_iso MiB"

# An archive's tree of folders: --jobs 2 against --jobs 1, and the renderers
# each started.
"$(dirname "$0")/jobs-tree.sh" "$build" "$rounds"
