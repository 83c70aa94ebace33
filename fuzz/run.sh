#!/bin/sh
# Runs every fuzz target for a while, seeded from the test pictures.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
# New crashers land in BUILD_DIR/fuzz/crashes/<target>/; once fixed, copy
# them to tests/data/files/fuzz/ so that files_test replays them.
set -eu
build=${1:?build folder configured with -DVELMORA_FUZZ=ON}
seconds=${2:-180}
root=$(cd "$(dirname "$0")/.." && pwd)
data="$root/tests/data/files"

seeds() {  # extensions of the files that seed a target
  case $1 in
    pnm) echo "pnm ppm pgm pbm pxm" ;; psd) echo psd ;; bmp) echo "bmp dib rle" ;; ico) echo ico ;; cur) echo cur ;;
    tga) echo "tga targa" ;; pcx) echo pcx ;; dcx) echo dcx ;; wbmp) echo wbmp ;; jpeg) echo "jpg jpeg" ;;
    png) echo png ;; gif) echo gif ;; tiff) echo "tif tiff" ;; webp) echo webp ;; heif) echo "heic heif avif" ;;
    avif) echo "avif heic" ;; jp2) echo "jp2 j2k jpc j2c" ;; raw) echo "cr2 nef raw dng" ;; *) echo "" ;;
  esac
}

for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] || continue
  name=${exe##*/fuzz_}
  corpus="$build/fuzz/corpus/$name"
  crashes="$build/fuzz/crashes/$name"
  mkdir -p "$corpus" "$crashes"
  if [ "$name" = detect ]; then
    find "$data" -type f ! -name '*.md' | head -200 | while read -r f; do
      { printf '\000'; cat "$f"; } > "$corpus/$(basename "$f")"
    done
  elif [ "$name" = skin ]; then
    cp "$root"/data/Skins/*.skin "$corpus/"
  else
    for ext in $(seeds "$name"); do
      find "$data" -type f -iname "*.$ext" -exec cp {} "$corpus/" \;
    done
  fi
  echo "== $name"
  "$exe" "$corpus" -max_len=65536 -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$crashes/" -print_final_stats=1 2>&1 | grep -E '^#[0-9]+ +DONE|ERROR|SUMMARY|stat::number_of_executed_units' || true
done
