# Picture files: decoding the 24 MP JPEG and writing it uncompressed (the
# same work for every program), and writing it as TIFF.
row "read JPEG, write PPM" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" -o "$WORK/out.ppm")" \
  "$(median_ms vips copy "$PHOTO" "$WORK/out.ppm")" \
  "$(median_ms convert "$PHOTO" "$WORK/out.ppm")"
row "read JPEG, write TIFF" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" -o "$WORK/out.tif")" \
  "$(median_ms vips copy "$PHOTO" "$WORK/out.tif[compression=lzw,predictor=horizontal]")" \
  "$(median_ms convert "$PHOTO" -compress lzw "$WORK/out.tif")"
