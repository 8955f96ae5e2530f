#!/usr/bin/env bash
# One deck at a time, from 1 to 2,000 slides: the kept renderer, the renderer
# that starts LibreOffice afresh for each deck, and a bare soffice
# --convert-to pdf, side by side in each round. A deck's time through
# pradelux is its row's time in the report (checks, rendering, copying the
# PDF into place); the kept renderer is loaded before the row (a small deck
# goes first), as it is for every row but a run's first. A bare soffice's
# time includes its start, as the afresh renderer's does.
# usage: bench/decksizes.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=$(cd "$1" && pwd); rounds=${2:-3}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
"$build/bin/pradelux-printer" install >/dev/null
sizes=(1 30 300 2000)

# The decks: flat ODP written as .pptx by LibreOffice, made once per build folder.
corpus=$build/bench-sizes
if [ ! -f "$corpus/slides2000.pptx" ]; then
  mkdir -p "$work/flat" "$corpus"
  python3 "$(dirname "$0")/../scripts/flat-decks.py" "$work/flat" first:1 $(for n in "${sizes[@]}"; do
    echo "slides$n:$n"; done)
  soffice --headless -env:UserInstallation=file://$work/convert --convert-to pptx --outdir "$corpus" \
    "$work"/flat/*.fodp >/dev/null 2>&1
fi

bare_profile=file://$work/bare-profile
soffice --headless -env:UserInstallation=$bare_profile --convert-to pdf --outdir "$work/warm-up" \
  "$corpus/first.pptx" >/dev/null 2>&1
seconds() { # command... ; prints the wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  printf "%.3f" "$(echo "scale=3; ($end - $start) / 1000000000" | bc)"
}
# Each deck's row time from a pradelux run's report, in the order of sizes.
rows() {
  python3 - "$1" "${sizes[@]}" <<'EOF'
import json, sys
rows = {json.loads(l)["presentation"].rsplit("/", 1)[1]: json.loads(l) for l in open(sys.argv[1])}
assert all(r["status"] == "written" for r in rows.values()), rows
print(" ".join("%.3f" % rows[f"slides{n}.pptx"]["seconds"] for n in sys.argv[2:]))
EOF
}
. "$(dirname "$0")/own.sh"
stop_renderer() { stop_own "$build/bin/pradelux-render"; }
decks=("$corpus/first.pptx"); for n in "${sizes[@]}"; do decks+=("$corpus/slides$n.pptx"); done

declare -A kept cold bare
for round in $(seq "$rounds"); do
  rm -rf "$work/out"; mkdir -p "$work/out"
  stop_renderer
  dbus-run-session -- "$build/bin/pradelux" --export --report "$work/kept.json" --output "$work/out" \
    "${decks[@]}" >/dev/null 2>&1
  read -ra k <<<"$(rows "$work/kept.json")"
  stop_renderer
  PRADELUX_OFFICE_RENDERER=soffice dbus-run-session -- "$build/bin/pradelux" --export --report "$work/cold.json" \
    --output "$work/out" "${decks[@]}" >/dev/null 2>&1
  read -ra c <<<"$(rows "$work/cold.json")"
  for i in "${!sizes[@]}"; do
    n=${sizes[i]}
    kept[$n]+=" ${k[i]}"; cold[$n]+=" ${c[i]}"
    bare[$n]+=" $(seconds soffice --headless -env:UserInstallation=$bare_profile --convert-to pdf \
      --outdir "$work/bare" "$corpus/slides$n.pptx")"
  done
done
stop_renderer

median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratios() { paste -d' ' <(echo "$1" | tr ' ' '\n' | grep .) <(echo "$2" | tr ' ' '\n' | grep .) |
  awk '{printf " %.2f", $1 / $2}'; }
echo "rounds: $rounds; seconds per deck (medians), and the median of the rounds' ratios"
printf '%-7s %8s %8s %8s %14s %14s\n' slides kept afresh bare "kept/afresh" "kept/bare"
for n in "${sizes[@]}"; do
  printf '%-7s %8s %8s %8s %14s %14s\n' "$n" "$(echo "${kept[$n]}" | median)" "$(echo "${cold[$n]}" | median)" \
    "$(echo "${bare[$n]}" | median)" "$(ratios "${kept[$n]}" "${cold[$n]}" | median)" \
    "$(ratios "${kept[$n]}" "${bare[$n]}" | median)"
  echo "  rounds: kept${kept[$n]}; afresh${cold[$n]}; bare${bare[$n]}"
done
echo "targets: kept at most 1.0 x afresh and at most 1.1 x bare, at every size"
