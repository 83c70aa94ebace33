# Saving: the decoded photo (PPM, cheap to read for every program) written
# as JPEG at quality 80 with the 160-pixel thumbnail Save As stores; and the
# optimizer's Preview as whole processes: compress, then read the result
# back.
PPM="$WORK/photo24.ppm"
[ -f "$PPM" ] || vips copy "$PHOTO" "$PPM"
row "Save As JPEG q80 + thumbnail" \
  "$(median_ms "$BATCH" --quiet "$PPM" --thumbnail -o "$O")" \
  "$(median_ms vips copy "$PPM" "$O[Q=80]")" \
  "$(median_ms convert "$PPM" -quality 80 "$O")"
row "optimizer Preview (encode + decode)" \
  "$(median_ms sh -c "\"$BATCH\" --quiet \"$PPM\" -o \"$O\" && \"$BATCH\" --quiet \"$O\" -o \"$WORK/back.ppm\"")" \
  "$(median_ms sh -c "vips copy \"$PPM\" \"$O[Q=80]\" && vips copy \"$O\" \"$WORK/back.ppm\"")" \
  "$(median_ms sh -c "convert \"$PPM\" -quality 80 \"$O\" && convert \"$O\" \"$WORK/back.ppm\"")"
