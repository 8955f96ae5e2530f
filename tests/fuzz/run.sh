#!/usr/bin/env bash
# Builds the fuzzer of the check of what a file holds and runs it over the
# corpus in this folder for SECONDS (default 60): every input must end
# within 1 s and 256 MiB. Then the readers of the renderer's messages, for a
# third as long, from a few lines of each kind. New inputs it finds go to a scratch folder, not
# into the repository. Usage: tests/fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
# A folder of each Debian release's own: a Debian 13 root shares the checkout.
build=build-fuzz
release_id=$(. /etc/os-release && echo "$VERSION_ID")
[ "$release_id" = 12 ] || build=build-fuzz-debian$release_id
cmake -S tests/fuzz -B $build -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build $build -j"$(nproc)" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
ASAN_OPTIONS=quarantine_size_mb=16 $build/presentation_file_fuzzer -max_total_time="$seconds" -timeout=1 -rss_limit_mb=256 -max_len=1048576 \
  -print_final_stats=1 "$scratch" tests/fuzz/corpus 2>&1 | tail -n 12
protocol=$(mktemp -d)
trap 'rm -rf "$scratch" "$protocol"' EXIT
printf '%s\n' '{"presentation":"/a.pptx","links":["b.png"],"filter":{"SelectPdfVersion":{"type":"long","value":"2"}},"alone":true,"passwords":["x","y"]}' >"$protocol/request"
printf '%s\n' '{"result":"printed","successor":12}' >"$protocol/answer"
printf '%s\n' '{"id":7,"presentation":"/a","pdf":"/run/pradelux/out/deck.pdf","filter":{}}' >"$protocol/job"
printf '%s\n' '{"id":7,"result":"type"}' >"$protocol/done"
printf '%s\n' '{"id":7,"result":"printed","standIns":[["Segoe UI","Noto Sans"],["等线","Noto Sans CJK SC"]]}' \
  >"$protocol/fonts"
printf '%s\n' '{"ready":false,"error":"no"}' >"$protocol/ready"
printf '%s\n' 'pages 3 version 1.7 pdfa 2 tagged 1 lacking 18B00,F00' >"$protocol/count"
printf '%s\n' 'count letters E9,3B1,18B00' >"$protocol/ask"
ASAN_OPTIONS=quarantine_size_mb=16 $build/protocol_fuzzer -max_total_time="$((seconds / 3))" -timeout=1 -rss_limit_mb=512 -max_len=8192 \
  -print_final_stats=1 "$protocol" 2>&1 | tail -n 12
