#!/usr/bin/env bash
# Makes the format tests' files with ImageMagick in the folder $1: JPEG,
# WebP, TIFF and GIF of two small pictures (odd sizes, so that blocks and
# tiles stand over the edges), and beside each file X the pixels
# ImageMagick decodes from it as X.rgba (8-bit red, green, blue, alpha).
set -euo pipefail
out=$1
rm -rf "$out.new"
mkdir -p "$out.new"
cd "$out.new"

im() { convert "$@"; }
im -seed 7 -size 61x37 plasma:fractal -depth 8 photo.ppm
# The same picture with alpha growing from left to right, and a few fully
# transparent pixels (for GIF's transparent index).
im photo.ppm \( -size 37x61 gradient:white-black -rotate 90 \) -compose CopyOpacity -composite \
   -fill none -draw "rectangle 3,3 9,9" -depth 8 PNG32:photo-alpha.png

im photo.ppm -quality 90 -sampling-factor 4:4:4 jpeg-q90-444.jpg
im photo.ppm -quality 50 -sampling-factor 4:2:0 jpeg-q50-420.jpg
im photo.ppm -quality 75 -sampling-factor 4:2:2 jpeg-q75-422.jpg
im photo.ppm -quality 80 -interlace Plane jpeg-progressive.jpg
im photo.ppm -colorspace Gray -quality 85 jpeg-grey.jpg
im photo.ppm -colorspace CMYK -quality 85 jpeg-cmyk.jpg

im photo.ppm -quality 75 webp-lossy.webp
im photo.ppm -define webp:lossless=true webp-lossless.webp
im photo-alpha.png -quality 75 webp-alpha-lossy.webp
im photo-alpha.png -define webp:lossless=true webp-alpha-lossless.webp

im photo.ppm -compress none tiff-none.tif
im photo.ppm -compress lzw tiff-lzw.tif
im photo.ppm -compress lzw -define tiff:endian=msb tiff-big-endian.tif
im photo.ppm -compress zip tiff-deflate.tif
im photo.ppm -compress rle tiff-packbits.tif
im photo.ppm -compress lzw -define tiff:tile-geometry=16x16 tiff-tiles.tif
im photo-alpha.png -compress zip tiff-rgba.tif
im photo-alpha.png -compress lzw -define tiff:tile-geometry=32x16 tiff-rgba-tiles.tif
im photo.ppm -colorspace Gray -compress lzw tiff-grey.tif
im photo.ppm -colors 13 -type Palette -compress rle tiff-palette.tif
im photo.ppm -monochrome -compress group4 tiff-bilevel.tif
im photo.ppm -compress jpeg -quality 80 tiff-jpeg.tif
im photo.ppm -depth 16 tiff-16bit.tif
im photo.ppm -depth 32 -define quantum:format=floating-point -compress zip tiff-float.tif

im photo.ppm -colors 64 gif-plain.gif
im photo-alpha.png -channel A -threshold 50% +channel -colors 32 gif-transparent.gif
im photo.ppm -colors 32 -interlace GIF gif-interlaced.gif
im -delay 10 photo.ppm \( photo.ppm -negate \) -colors 32 gif-animated.gif

for file in *.jpg *.webp *.tif *.gif; do
  case $file in jpeg-cmyk.jpg|tiff-16bit.tif|tiff-float.tif) continue ;; esac
  im "$file[0]" -depth 8 "rgba:$file.rgba"
done
rm -f photo.ppm photo-alpha.png
cd ..
rm -rf "$out"
mv "$out.new" "$out"
