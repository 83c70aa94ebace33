# Automatic enhancements with the Auto Enhance dialog's parameters, against
# the nearest automatic correction each peer has: histogram equalization
# (both), auto-level for the white balance, equalizing saturation and
# brightness in HSB, auto-gamma for the local brightness adaptation, and
# ImageMagick's local contrast for the Wallis filter.
row "HistAutoEqualize" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op HistAutoEqualize -o "$O")" \
  "$(median_ms vips hist_equal "$PHOTO" "$O[Q=80]")" \
  "$(median_ms convert "$PHOTO" -equalize -quality 80 "$O")"
row "WhiteBalance_AutoWhite" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op WhiteBalance_AutoWhite -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -auto-level -quality 80 "$O")"
row "AdjustLumSatHistogram 0.7,0.5" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "AdjustLumSatHistogram 0.7,0.5" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -colorspace HSB -channel G,B -equalize +channel -colorspace sRGB -quality 80 "$O")"
row "AutoImageEnhance3 80,0.35" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "AutoImageEnhance3 80,0.35" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -auto-gamma -quality 80 "$O")"
row "WallisFilter 2,2,50,50,50,10,50" \
  "$(median_ms "$BATCH" --quiet "$PHOTO" --op "WallisFilter 2,2,50,50,50,10,50,false" -o "$O")" \
  "-" \
  "$(median_ms convert "$PHOTO" -local-contrast 10x12.5 -quality 80 "$O")"
