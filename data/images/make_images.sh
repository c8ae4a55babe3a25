#!/usr/bin/env bash
# data/images/make_images.sh : draws the program's own artwork with ImageMagick (/usr/bin/convert)
# and writes it beside this script. The results are committed; run again only to change them.
#   logo.jpg     218 x 60, shown stretched into 109 x 30 on the left strip
#   toolbar.bmp  five 16 x 16 images side by side (80 x 16, 24-bit); magenta #FF00FF is transparent
#                0 save, 1 edit, 2 print, 3 mp3 search, 4 lyrics search
#   quillon.ico  the program icon, 32 x 32 and 16 x 16
set -euo pipefail
cd "$(dirname "$0")"
im=/usr/bin/convert

"$im" -size 218x60 xc:'#ACA895' \
  -fill '#333333' -draw 'roundrectangle 2,2 215,57 10,10' \
  -fill '#ACA895' -draw 'roundrectangle 5,5 212,54 8,8' \
  -fill '#0080C0' -draw 'polygon 14,48 40,10 44,12 20,50' \
  -fill '#333333' -draw 'line 14,48 10,54' \
  -font DejaVu-Sans-Bold -pointsize 26 -fill '#333333' -annotate +52+34 'Quillon' \
  -font DejaVu-Sans -pointsize 11 -fill '#FFFFFF' -annotate +54+50 'by Pelmora' \
  -quality 92 logo.jpg

tile() {  # tile <file> <draw args...>
  local out=$1
  shift
  "$im" -size 16x16 xc:"#FF00FF" +antialias "$@" -type TrueColor "$out"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 0: a floppy disk
tile "$work/0.png" -fill '#1F4E9A' -draw 'rectangle 1,1 14,14' -fill '#FFFFFF' -draw 'rectangle 4,2 11,6' \
  -fill '#C0C0C0' -draw 'rectangle 4,10 11,14' -fill '#1F4E9A' -draw 'rectangle 9,11 10,13'
# 1: a pencil
tile "$work/1.png" -fill '#E0A020' -draw 'polygon 3,11 11,3 13,5 5,13' -fill '#F0D0A0' \
  -draw 'polygon 3,11 5,13 1,15' -fill '#C04040' -draw 'polygon 11,3 12,2 14,4 13,5'
# 2: a printer
tile "$work/2.png" -fill '#FFFFFF' -stroke '#404040' -draw 'rectangle 4,1 11,6' -stroke none \
  -fill '#707070' -draw 'rectangle 1,6 14,12' -fill '#FFFFFF' -stroke '#404040' -draw 'rectangle 4,10 11,14' \
  -stroke none -fill '#30C030' -draw 'point 12,8'
# 3: a music note
tile "$work/3.png" -fill '#202020' -draw 'ellipse 5,12 3,2 0,360' -draw 'ellipse 12,10 3,2 0,360' \
  -draw 'rectangle 7,2 8,12' -draw 'rectangle 14,1 15,10' -draw 'polygon 7,2 15,0 15,3 7,5'
# 4: a magnifying glass over a page
tile "$work/4.png" -fill '#FFFFFF' -stroke '#808080' -draw 'rectangle 1,1 9,13' -stroke none \
  -fill '#A0A0A0' -draw 'line 3,4 7,4' -draw 'line 3,6 7,6' \
  -fill none -stroke '#1F4E9A' -strokewidth 2 -draw 'circle 9,9 12,9' \
  -stroke '#402000' -strokewidth 2 -draw 'line 12,12 15,15'
"$im" "$work/0.png" "$work/1.png" "$work/2.png" "$work/3.png" "$work/4.png" +append -type TrueColor \
  BMP3:toolbar.bmp

"$im" -size 32x32 xc:none -fill '#0080C0' -draw 'polygon 4,30 24,2 29,4 9,30' \
  -fill '#333333' -draw 'polygon 4,30 9,30 3,31' -fill '#FFFFFF' -draw 'line 8,26 24,5' \
  \( +clone -resize 16x16 \) quillon.ico
echo "made logo.jpg toolbar.bmp quillon.ico"
