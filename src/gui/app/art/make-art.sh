#!/usr/bin/env bash
# Draws Corvane's artwork with ImageMagick: the banner across the top of the main
# window (737 x 89), the scan icon of the welcome page (48 x 48) and the same icon at
# the sizes of the desktop menu (packaging/icons/). The PNGs are
# kept in the repository; run this again after changing a drawing.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
# The banner's line under the name is Chinese, as the window is (fonts-noto-cjk).
cjk=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc

convert -size 737x89 -define gradient:angle=100 gradient:'#123c73-#56b0e8' \
  -fill none -stroke 'rgba(255,255,255,0.10)' -strokewidth 14 -draw 'circle 660,44 730,44' \
  -stroke 'rgba(255,255,255,0.14)' -strokewidth 10 -draw 'circle 660,44 698,44' \
  -stroke none -fill 'rgba(255,255,255,0.06)' -draw 'circle 560,96 606,96' \
  -fill 'rgba(255,255,255,0.95)' \
  -draw "path 'M 44,12 L 70,21 L 70,44 C 70,60 58,70 44,77 C 30,70 18,60 18,44 L 18,21 Z'" \
  -fill none -stroke '#1f6fb8' -strokewidth 7 -draw "polyline 31,44 41,54 58,33" \
  -stroke none -fill white -font "$font" -pointsize 34 -annotate +88+54 'Corvane' \
  -fill '#d8ecff' -font "$cjk" -pointsize 13 -annotate +91+76 '扫描  ·  修复  ·  保持健康' \
  -fill 'rgba(13,45,87,0.5)' -draw 'rectangle 0,86 737,89' \
  -strip PNG32:banner.png

convert -size 48x48 xc:none \
  -fill white -stroke '#5b7896' -strokewidth 2 -draw 'roundrectangle 4,3 32,39 3,3' \
  -stroke none -fill '#9db4cc' -draw 'rectangle 9,10 27,12' -draw 'rectangle 9,17 23,19' \
  -draw 'rectangle 9,24 19,26' \
  -stroke '#2b4a6b' -strokewidth 6 -draw 'line 36,36 43,43' \
  -fill '#bfe3fa' -stroke '#1f6fb8' -strokewidth 4 -draw 'circle 28,28 39,28' \
  -fill none -stroke '#2e9d3a' -strokewidth 3 -draw 'polyline 23,28 27,32 33,24' \
  -strip PNG32:scan.png

# The scan icon as the menu's application icon (packaging/icons/, the hicolor sizes):
# the same drawing at 512 x 512, then scaled down to each size.
k=10.6667
icons=../../../../packaging/icons
mkdir -p "$icons"
convert -size 512x512 xc:none \
  -fill white -stroke '#5b7896' -strokewidth 2 -draw "scale $k,$k roundrectangle 4,3 32,39 3,3" \
  -stroke none -fill '#9db4cc' -draw "scale $k,$k rectangle 9,10 27,12" \
  -draw "scale $k,$k rectangle 9,17 23,19" -draw "scale $k,$k rectangle 9,24 19,26" \
  -stroke '#2b4a6b' -strokewidth 6 -draw "scale $k,$k line 36,36 43,43" \
  -fill '#bfe3fa' -stroke '#1f6fb8' -strokewidth 4 -draw "scale $k,$k circle 28,28 39,28" \
  -fill none -stroke '#2e9d3a' -strokewidth 3 -draw "scale $k,$k polyline 23,28 27,32 33,24" \
  -strip PNG32:"$icons/corvane-512.png"
for size in 16 32 48 64 128 256; do
  convert "$icons/corvane-512.png" -resize "${size}x$size" -strip PNG32:"$icons/corvane-$size.png"
done
rm "$icons/corvane-512.png"
