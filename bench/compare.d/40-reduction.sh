# Colour reduction: a palette of 30 colours without dithering, and the two
# ways to black and white. libvips has no palette reduction of its own
# outside the PNG writer, nor an ordered dither.
row "ConvertTo 30" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "ConvertTo 30,false" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" +dither -colors 30 -quality 80 "$O")"
row "ConvertToBWOrdered" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op ConvertToBWOrdered -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -colorspace gray -ordered-dither o8x8 -quality 80 "$O")"
row "ConvertToBWThreshold -1" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "ConvertToBWThreshold -1" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -colorspace gray -threshold 50% -quality 80 "$O")"
