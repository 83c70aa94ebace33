# Decoding and encoding alone, and the colour and tone operations.
row "decode + encode (JPEG q80)" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" -o "$O")" \
  "$(median_ms vips copy "$PHOTO" "$O[Q=80]")" \
  "$(median_ms convert "$PHOTO" -quality 80 "$O")"
row "ConvertToGray" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op ConvertToGray -o "$O")" \
  "$(median_ms vips colourspace "$PHOTO" "$O[Q=80]" b-w)" \
  "$(median_ms convert "$PHOTO" -colorspace gray -quality 80 "$O")"
row "Negative" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op Negative -o "$O")" \
  "$(median_ms vips invert "$PHOTO" "$O[Q=80]")" \
  "$(median_ms convert "$PHOTO" -negate -quality 80 "$O")"
row "AdjustBrightnessContrastSaturation" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "AdjustBrightnessContrastSaturation 10,0,20" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -modulate 110,120 -quality 80 "$O")"
