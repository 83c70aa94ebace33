# Filters and distortions. The peers do the nearest equivalent, not the
# same computation: libvips' gaussblur cuts its kernel where it falls to
# 0.2 of the peak, ImageMagick's -unsharp and -wave differ in detail.
#
# Opening (the watercolor at radius 22 and 90) and the shadows (radius 86)
# have no row: ImageMagick's -morphology Open and -shadow take minutes per
# run at these radii on 24 megapixels. velmora-bench times them in memory.
row "Blur 16" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Blur 16" -o "$O")" \
  "$(median_ms vips gaussblur "$PHOTO" "$O[Q=80]" 16)" \
  "$(median_ms convert "$PHOTO" -blur 0x16 -quality 80 "$O")"
row "Sharpen 10,4" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Sharpen 10,4" -o "$O")" \
  "$(median_ms vips sharpen "$PHOTO" "$O[Q=80]")" \
  "$(median_ms convert "$PHOTO" -unsharp 0x2+1+0 -quality 80 "$O")"
row "Wave 38,75,90,false" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "Wave 38,75,90,false" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -wave 38x150 -quality 80 "$O")"
