#!/usr/bin/env bash
# Makes the sample presentations from the flat ODP sources beside this script,
# with LibreOffice, into OUTPUT_FOLDER: one .pptx, one .ppt, one .odp.
# usage: make_samples.sh OUTPUT_FOLDER WORK_FOLDER
set -euo pipefail
src=$(cd "$(dirname "$0")" && pwd)
out=$1; work=$2
mkdir -p "$out" "$work"
convert() { # source format name
  soffice --headless --norestore -env:UserInstallation="file://$work/profile" \
    --convert-to "$2" --outdir "$work" "$src/$1" >/dev/null 2>&1
  mv -f "$work/${1%.fodp}.$2" "$out/$3"
}
convert welcome.fodp pptx "Welcome to Pradelux.pptx"
convert review.fodp ppt "Quarterly Review (hidden slide).ppt"
convert tour.fodp odp "Product Tour.odp"
