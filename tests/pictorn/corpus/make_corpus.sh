#!/usr/bin/env bash
# Builds the page-file corpus of the image library tests: TIFF and PDF files written by
# other programs (netpbm, libtiff's tools, ImageMagick, GraphicsMagick, Ghostscript,
# Pillow, img2pdf), each with a reference of its pixels written by a program other
# than the library, and expect.tsv, one row per image:
#   file index count width height xdpi ydpi bits reference tolerance outcome
# count: what the image count gives for the file ("-" for a PDF, read from memory);
# reference: a PBM (1 = black), PGM or PPM of the image, "-" for none; tolerance: the
# largest difference allowed per 8-bit sample, or "r" for a rendered page (the renderer
# resamples a page's images: a mean difference of at most 1, and at most 2 % of the
# samples more than 1 apart); outcome: "ok", or "fail:" and a word the
# reason must hold. Usage: make_corpus.sh OUTPUT-FOLDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
rm -rf "$out.tmp" && mkdir -p "$out.tmp"
cd "$out.tmp"

# Debian's interpreter: Pillow is its package, not a private Python's.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
im=/usr/bin/convert  # ImageMagick itself, not a wrapper of the same name
gs() { command gs -q -dSAFER -dBATCH -dNOPAUSE "$@"; }
row() { printf '%s\t' "$@" | sed 's/\t$//' >>expect.tsv; printf '\n' >>expect.tsv; }
: >expect.tsv

# ---- Sources, 8 bits a sample, widths not a multiple of 8 ---------------------------
"$im" -size 601x403 xc:white +antialias -fill black \
  -draw "rectangle 20,20 200,120 circle 400,200 450,260 polygon 10,390 300,250 590,390 rectangle 596,0 600,402" \
  -depth 1 bw.pbm
"$im" -size 301x203 gradient:white-black -fill gray30 -draw "rectangle 30,30 120,90" -depth 8 gray.pgm
"$im" -size 301x203 gradient:orange-navy -fill red -draw "rectangle 30,30 120,90" \
  -fill lime -draw "circle 200,100 240,140" -depth 8 rgb.ppm
"$im" -size 157x97 xc:white -fill black -draw "rectangle 5,5 60,40" -depth 1 small.pbm

# ---- Bitonal ------------------------------------------------------------------------
"$im" bw.pbm -units PixelsPerInch -density 300 -compress Group4 bw-g4-im.tif
row bw-g4-im.tif 0 1 601 403 300 300 1 bw.pbm 0 ok
pnmtotiff -g3 -2d -xresolution 204 -yresolution 98 bw.pbm >bw-g3-netpbm.tif
row bw-g3-netpbm.tif 0 1 601 403 204 98 1 bw.pbm 0 ok
gm convert bw.pbm -units PixelsPerInch -density 150 -compress None bw-none-gm.tif
row bw-none-gm.tif 0 1 601 403 150 150 1 bw.pbm 0 ok
tiffcp -c g4 -f lsb2msb bw-none-gm.tif bw-g4-fill2-tiffcp.tif
row bw-g4-fill2-tiffcp.tif 0 1 601 403 150 150 1 bw.pbm 0 ok
pnmtotiff -none -minisblack -xresolution 150 -yresolution 150 bw.pbm >bw-none-minisblack-netpbm.tif
row bw-none-minisblack-netpbm.tif 0 1 601 403 150 150 1 bw.pbm 0 ok
tiffcp -c lzw -f lsb2msb bw-g4-im.tif bw-lzw-fill2-tiffcp.tif
row bw-lzw-fill2-tiffcp.tif 0 1 601 403 300 300 1 bw.pbm 0 ok
tiffcp -c packbits bw-g4-im.tif bw-packbits-tiffcp.tif
row bw-packbits-tiffcp.tif 0 1 601 403 300 300 1 bw.pbm 0 ok
pnmtotiff -flate -minisblack -xresolution 300 -yresolution 300 bw.pbm >bw-deflate-minisblack-netpbm.tif
row bw-deflate-minisblack-netpbm.tif 0 1 601 403 300 300 1 bw.pbm 0 ok
"$im" bw.pbm -type Palette -depth 1 -units PixelsPerInch -density 100 bw-palette1-im.tif
row bw-palette1-im.tif 0 1 601 403 100 100 1 bw.pbm 0 ok

# ---- Gray and colour ------------------------------------------------------------------
gm convert gray.pgm -units PixelsPerInch -density 100 -compress LZW gray8-lzw-gm.tif
row gray8-lzw-gm.tif 0 1 301 203 100 100 8 gray.pgm 0 ok
"$im" gray.pgm -depth 16 -units PixelsPerInch -density 100 -compress Zip gray16-zip-im.tif
tiffcp -B gray16-zip-im.tif gray16-bigendian-tiffcp.tif
row gray16-bigendian-tiffcp.tif 0 1 301 203 100 100 8 gray.pgm 0 ok
ppm2tiff -c lzw:2 -R 150 rgb.ppm rgb-lzw-predictor-ppm2tiff.tif
row rgb-lzw-predictor-ppm2tiff.tif 0 1 301 203 150 150 24 rgb.ppm 0 ok
tiffcp -p separate -c packbits rgb-lzw-predictor-ppm2tiff.tif rgb-planar-tiffcp.tif
row rgb-planar-tiffcp.tif 0 1 301 203 150 150 24 rgb.ppm 0 ok
tiffcp -t -w 64 -l 48 -c zip rgb-lzw-predictor-ppm2tiff.tif rgb-tiled-tiffcp.tif
row rgb-tiled-tiffcp.tif 0 1 301 203 150 150 24 rgb.ppm 0 ok
tiffcp -8 -c lzw rgb-lzw-predictor-ppm2tiff.tif rgb-bigtiff-tiffcp.tif
row rgb-bigtiff-tiffcp.tif 0 1 301 203 150 150 24 rgb.ppm 0 ok
"$im" rgb.ppm -depth 16 -units PixelsPerInch -density 150 rgb16-im.tif
row rgb16-im.tif 0 1 301 203 150 150 24 rgb.ppm 1 ok
"$im" rgb.ppm -colorspace CMYK -units PixelsPerInch -density 150 cmyk-im.tif
"$im" cmyk-im.tif -colorspace sRGB -depth 8 cmyk-im.ppm
row cmyk-im.tif 0 1 301 203 150 150 24 cmyk-im.ppm 1 ok
ppm2tiff -c jpeg:90 -R 150 rgb.ppm rgb-ycbcr-jpeg-ppm2tiff.tif
"$im" rgb-ycbcr-jpeg-ppm2tiff.tif -depth 8 rgb-ycbcr-jpeg-ppm2tiff.ppm
row rgb-ycbcr-jpeg-ppm2tiff.tif 0 1 301 203 150 150 24 rgb-ycbcr-jpeg-ppm2tiff.ppm 2 ok

# Ghostscript: 4 bits a sample RGB, one page of flat colours.
cat >flat.ps <<'EOF'
%!PS
<< /PageSize [144 108] >> setpagedevice
1 0 0 setrgbcolor 0 0 72 54 rectfill
0 0 1 setrgbcolor 72 54 72 54 rectfill
0.5 0.5 0 setrgbcolor 72 0 72 54 rectfill
showpage
EOF
gs -sDEVICE=tiff12nc -r100 -sOutputFile=rgb4-gs.tif flat.ps
"$im" rgb4-gs.tif -depth 8 rgb4-gs.ppm
row rgb4-gs.tif 0 1 200 150 100 100 24 rgb4-gs.ppm 0 ok
gs -sDEVICE=tiffg4 -r100 -sOutputFile=bw-g4-gs.tif flat.ps
"$im" bw-g4-gs.tif bw-g4-gs.pbm
row bw-g4-gs.tif 0 1 200 150 100 100 1 bw-g4-gs.pbm 0 ok

# Pillow: float, palette, alpha, MinIsBlack bitonal, several pages.
"$py" "$here/pil_corpus.py"
row float-pil.tif 0 1 301 203 120 120 8 gray.pgm 1 ok
row palette8-pil.tif 0 1 301 203 120 120 24 palette8-pil.ppm 0 ok
row rgba-pil.tif 0 1 301 203 120 120 24 rgba-pil.ppm 1 ok
row graya-pil.tif 0 1 301 203 120 120 8 graya-pil.pgm 1 ok
row bw-packbits-minisblack-pil.tif 0 1 601 403 120 120 1 bw.pbm 0 ok
tiffset -s 338 1 1 rgba-assoc-pil.tif  # ExtraSamples: associated alpha
row rgba-assoc-pil.tif 0 1 301 203 120 120 24 rgba-pil.ppm 1 ok

# Several pages of different sizes and kinds; thumbnails and masks among them.
"$im" small.pbm -units PixelsPerInch -density 100 -compress Group4 small-g4.tif
tiffcp bw-g4-im.tif gray8-lzw-gm.tif small-g4.tif rgb-tiled-tiffcp.tif multi-tiffcp.tif
row multi-tiffcp.tif 0 4 601 403 300 300 1 bw.pbm 0 ok
row multi-tiffcp.tif 1 4 301 203 100 100 8 gray.pgm 0 ok
row multi-tiffcp.tif 2 4 157 97 100 100 1 small.pbm 0 ok
row multi-tiffcp.tif 3 4 301 203 150 150 24 rgb.ppm 0 ok
"$im" bw.pbm -resize 20% -depth 8 -compress LZW thumb.tif
tiffcp thumb.tif bw-g4-im.tif small-g4.tif rgb-lzw-predictor-ppm2tiff.tif thumbs-tiffcp.tif
tiffset -d 0 -s 254 1 thumbs-tiffcp.tif  # reduced resolution: not a page
tiffset -d 2 -s 254 4 thumbs-tiffcp.tif  # transparency mask: not a page
row thumbs-tiffcp.tif 0 2 601 403 300 300 1 bw.pbm 0 ok
row thumbs-tiffcp.tif 1 2 301 203 150 150 24 rgb.ppm 0 ok
cp thumb.tif thumb-only.tif && tiffset -s 254 1 thumb-only.tif
row thumb-only.tif 0 0 - - - - - - - fail:reduced-resolution

# ---- PDF from two producers -------------------------------------------------------------
# An image drawn at 200 dpi pixel for pixel: 400 x 250 pixels on 144 x 90 points.
"$im" -size 400x250 gradient:yellow-purple -fill black -draw "rectangle 40,40 160,120" \
  -fill white -draw "circle 300,120 340,160" -depth 8 pdf.ppm
{
  printf '%%!PS\n<< /PageSize [144 90] >> setpagedevice\n144 90 scale\n'
  printf '400 250 8 [400 0 0 -250 0 250] currentfile false 3 colorimage\n'
  tail -c $((400 * 250 * 3)) pdf.ppm
  printf '\nshowpage\n'
} >pdf.ps
gs -sDEVICE=pdfwrite -dAutoFilterColorImages=false -dColorImageFilter=/FlateEncode \
  -dDownsampleColorImages=false -sOutputFile=image-gs.pdf pdf.ps
row image-gs.pdf 0 - 400 250 200 200 24 pdf.ppm r ok
"$im" pdf.ppm -units PixelsPerInch -density 200 pdf.png
img2pdf -o image-img2pdf.pdf pdf.png
row image-img2pdf.pdf 0 - 400 250 200 200 24 pdf.ppm r ok

# ---- Hostile files ------------------------------------------------------------------------
"$py" "$here/pil_corpus.py" hostile
# 11 kB of CCITT G4 declaring 90,000 x 90,000 pixels: refused before any allocation.
row huge-g4.tif 0 1 90000 90000 - - - - - fail:pixels
# A 100 x 100 inch page: rendered at a lower resolution, within the budget.
row huge-page.pdf 0 - 3400 3400 34 34 24 - - ok
# More images than the library reads: a count of its own, no image.
row too-many.tif - -2 - - - - - - - -
# An image of 30,000 x 30,000 pixels in a few kilobytes of doubly deflated zeros.
row bomb.pdf 0 - - - - - - - - any

rm -f ./*.ps ./*.png thumb.tif small-g4.tif gray16-zip-im.tif
cd .. && rm -rf "$out" && mv "$out.tmp" "$out"
