#!/bin/bash
# Whole-process comparison on the same 24-megapixel JPEG in the same run:
# velmora-batch against libvips (vips) and ImageMagick (convert) doing the
# nearest equivalent. Prints median wall times and the ratios.
#
#   bench/compare.sh [BUILD_DIR] [RUNS]
#
# The rows come from bench/compare.d/*.sh, one file per family of
# operations, sourced in name order; each calls `row` with the median times
# of velmora-batch, vips (or -) and convert.
#
# Needs: apt-get install imagemagick libvips-tools
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${2:-5}
BATCH="$BUILD/src/batch/velmora-batch"
[ -x "$BATCH" ] || { echo "build velmora-batch first ($BATCH)" >&2; exit 1; }
command -v vips >/dev/null && command -v convert >/dev/null ||
  { echo "needs vips and convert: apt-get install libvips-tools imagemagick" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PHOTO="$WORK/photo24.jpg"
# ImageMagick's default policy refuses large pictures; the benchmark photo is
# made with libvips instead.
vips resize tests/data/photos/rocket.jpg "$WORK/big.v" 9.375 --vscale 9.3677 --kernel cubic
vips extract_area "$WORK/big.v" "$PHOTO[Q=92]" 0 0 6000 4000
rm -f "$WORK/big.v"
export MAGICK_WIDTH_LIMIT=100000 MAGICK_HEIGHT_LIMIT=100000 MAGICK_AREA_LIMIT=10GP

# median_ms CMD...: runs CMD $RUNS times, prints the median in milliseconds.
median_ms() {
  local times=()
  for ((i = 0; i < RUNS; i++)); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

row() {  # name velmora_ms vips_ms convert_ms
  local v=$2 p=$3 c=$4
  awk -v n="$1" -v v="$v" -v p="$p" -v c="$c" 'BEGIN {
    printf "| %-34s | %6d | %6s | %6d | %5s | %5.2f |\n", n, v, (p == "-" ? "-" : p), c,
      (p == "-" ? "-" : sprintf("%.2f", v / p)), v / c }'
}

echo "24 MP JPEG ($(identify -format '%wx%h' "$PHOTO")), $RUNS runs each, median ms; ratio = velmora / peer (lower is better)"
echo "| operation                          | velmora |  vips  | convert | v/vips | v/convert |"
echo "|---|---|---|---|---|---|"
O="$WORK/out.jpg"
for f in bench/compare.d/*.sh; do
  # shellcheck source=/dev/null
  . "$f"
done
