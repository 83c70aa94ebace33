# Geometry: half-size resampling and a 10-degree turn. libvips shrinks a
# JPEG while decoding it; velmora-batch decodes the whole photo first.
VIPS_HALF=$(median_ms vips resize "$PHOTO" "$O[Q=80]" 0.5)
CONVERT_HALF=$(median_ms convert "$PHOTO" -resize 50% -quality 80 "$O")
row "Resample 50% (rfBilinear)" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Resample 3000,2000,rfBilinear" -o "$O")" \
  "$VIPS_HALF" "$CONVERT_HALF"
row "Resample 50% (rfMitchell)" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Resample 3000,2000,rfMitchell" -o "$O")" \
  "$VIPS_HALF" "$CONVERT_HALF"
row "Rotate 10 (anti-aliased)" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Rotate true,0,10,-1" -o "$O")" \
  "$(median_ms vips rotate "$PHOTO" "$O[Q=80]" 10)" \
  "$(median_ms convert "$PHOTO" -rotate 10 -quality 80 "$O")"
row "Rotate 90" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Rotate false,0,90,-1" -o "$O")" \
  "$(median_ms vips rot "$PHOTO" "$O[Q=80]" d90)" \
  "$(median_ms convert "$PHOTO" -rotate 90 -quality 80 "$O")"
row "Flip 0 (mirror)" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Flip 0" -o "$O")" \
  "$(median_ms vips flip "$PHOTO" "$O[Q=80]" horizontal)" \
  "$(median_ms convert "$PHOTO" -flop -quality 80 "$O")"
