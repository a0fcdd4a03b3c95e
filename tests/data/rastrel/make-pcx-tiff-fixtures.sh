#!/usr/bin/env bash
# Makes the PCX and TIFF fixtures with independent programs (Pillow,
# ImageMagick, netpbm, libtiff's tools) and, beside each, the pixels an
# independent decoder gives (NAME.ppm): Pillow, or netpbm where Pillow has
# no reader for the layout. Run from anywhere; writes into this folder.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
CONVERT=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pictures of the Targa and bitmap fixtures (37 x 23, runs across row
# ends, 16 colours, two), and a fax page 2600 pixels wide whose runs need
# every kind of make-up code.
"$PY" - "$work" <<'PYEOF'
import sys
from PIL import Image
work = sys.argv[1]
w, h = 37, 23
rgb = Image.new("RGB", (w, h))
for y in range(h):
    for x in range(w):
        if y % 4 == 1 or x > 30:
            rgb.putpixel((x, y), (200, 60, 90))
        else:
            rgb.putpixel((x, y), ((x * 7) % 256, (y * 11) % 256, (x * y) % 256))
rgb.save(f"{work}/picture.ppm")
rgb.quantize(16, dither=Image.Dither.NONE).convert("RGB").save(f"{work}/few.ppm")
two = Image.new("1", (w, h))
for y in range(h):
    for x in range(w):
        two.putpixel((x, y), 255 if (x + 2 * y) % 5 < 2 else 0)
two.save(f"{work}/two.pbm")
rgb.convert("L").save(f"{work}/grey.pgm")
# Black blocks of many widths on white; some rows repeat (vertical codes),
# some shift a little, one is all black, one all white.
W, H = 2600, 24
page = Image.new("1", (W, H), 255)
for y in range(H):
    x = (y * 37) % 90
    k = 0
    while x < W and y != 20:
        black = [1, 2, 3, 7, 63, 64, 65, 130, 700, 1800, 2000][(k + y // 3) % 11]
        for i in range(x, min(x + black, W)):
            page.putpixel((i, y), 0)
        x += black + [1, 5, 64, 200, 1792][(k + y) % 5]
        k += 1
    if y == 12:
        for i in range(W):
            page.putpixel((i, y), 0)
page.save(f"{work}/page.pbm")
# Sixteen-bit grey: a ramp over the whole range.
import array
grey16 = Image.new("I;16", (w, h))
grey16.putdata([(x * 1800 + y * 97) % 65536 for y in range(h) for x in range(w)])
grey16.save(f"{work}/grey16.tif")
PYEOF

pil() { "$PY" - "$work" "$@" <<'PYEOF'
import sys
from PIL import Image
work, source, mode, out = sys.argv[1:5]
options = dict(a.split("=", 1) for a in sys.argv[5:])
image = Image.open(f"{work}/{source}")
if mode == "P":
    image = image.quantize(16 if "few" in source else 200, dither=Image.Dither.NONE)
else:
    image = image.convert(mode)
image.save(out, **options)
PYEOF
}

# PCX: Pillow, netpbm (all five layouts), ImageMagick.
pil picture.ppm RGB pil-rgb24.pcx
pil picture.ppm P pil-palette8.pcx
pil grey.pgm L pil-grey8.pcx
pil two.pbm 1 pil-mono1.pcx
ppmtopcx -24bit "$work/picture.ppm" > netpbm-rgb24.pcx 2>/dev/null
ppmtopcx -8bit "$work/few.ppm" > netpbm-palette8.pcx 2>/dev/null
ppmtopcx -planes 4 "$work/few.ppm" > netpbm-planes4.pcx 2>/dev/null
ppmtopcx -packed "$work/few.ppm" > netpbm-packed4.pcx 2>/dev/null
pnmtoplainpnm "$work/two.pbm" | ppmtopcx > netpbm-mono1.pcx 2>/dev/null
"$CONVERT" "$work/picture.ppm" im-rgb24.pcx
"$CONVERT" "$work/few.ppm" -type Palette im-palette8.pcx

# TIFF: Pillow's own writer, libtiff's tiffcp over every compression, byte
# order, fill order and strip layout, fax2tiff, ImageMagick.
pil picture.ppm RGB pil-rgb24.tif
pil picture.ppm RGB pil-rgb24-packbits.tif compression=packbits
pil picture.ppm RGB pil-rgb24-lzw.tif compression=tiff_lzw
pil grey.pgm L pil-grey8.tif
pil picture.ppm P pil-palette8.tif
pil two.pbm 1 pil-mono1.tif
cp "$work/grey16.tif" pil-grey16.tif
pnmtotiff -none "$work/picture.ppm" > "$work/rgb.tif" 2>/dev/null
pnmtotiff -none "$work/grey.pgm" > "$work/grey.tif" 2>/dev/null
tiffcp -c packbits -r 5 "$work/rgb.tif" tiffcp-rgb24-packbits-strips.tif
tiffcp -c lzw "$work/rgb.tif" tiffcp-rgb24-lzw.tif
tiffcp -c lzw:2 -r 4 "$work/rgb.tif" tiffcp-rgb24-lzw2-strips.tif
tiffcp -c lzw:2 "$work/grey.tif" tiffcp-grey8-lzw2.tif
tiffcp -B -c none "$work/rgb.tif" tiffcp-rgb24-bigendian.tif
tiffcp -B -c packbits "$work/grey.tif" tiffcp-grey8-bigendian-packbits.tif
pnmtotiff -none "$work/page.pbm" > "$work/page.tif" 2>/dev/null
tiffcp -c g4 "$work/page.tif" tiffcp-page-g4.tif
tiffcp -c g4 -r 7 "$work/page.tif" tiffcp-page-g4-strips.tif
tiffcp -c g3 "$work/page.tif" tiffcp-page-g3.tif
tiffcp -c g3:2d:fill -r 10 "$work/page.tif" tiffcp-page-g3-2d.tif
tiffcp -f lsb2msb -c g4 "$work/page.tif" tiffcp-page-g4-lsb2msb.tif
tiffcp -B -c none "$work/page.tif" tiffcp-page-bigendian.tif
pbmtog3 "$work/page.pbm" > "$work/page.g3" 2>/dev/null
fax2tiff -M -X 2600 -o fax2tiff-page-g3.tif "$work/page.g3" 2>/dev/null
fax2tiff -M -X 2600 -8 -o fax2tiff-page-g4.tif "$work/page.g3" 2>/dev/null
"$CONVERT" "$work/page.pbm" -compress Fax im-page-g3.tif
pil page.pbm 1 pil-page-huffman.tif compression=tiff_ccitt
pil page.pbm 1 pil-page-g4.tif compression=group4
"$CONVERT" "$work/picture.ppm" -compress LZW im-rgb24-lzw.tif
"$CONVERT" "$work/grey.pgm" -depth 4 im-grey4.tif
"$CONVERT" "$work/few.ppm" -type Palette -depth 4 im-palette4.tif

# What the independent decoders give (NAME.pbm for black and white). Grey samples of 4 and 16 bits become
# the upper bits of a level (16 levels of 0, 16, ..., 240; the high byte).
for f in *.pcx *.tif; do
  case "$f" in
    netpbm-packed4.pcx) pcxtoppm "$f" > "$f.ppm" 2>/dev/null ;;
    *) "$PY" - "$f" <<'PYEOF'
import sys
from PIL import Image
name = sys.argv[1]
image = Image.open(name)
if image.mode == "I;16" or image.mode.startswith("I;16"):
    image = Image.frombytes("L", image.size, bytes(v >> 8 for v in image.getdata()))
elif "grey4" in name:
    image = image.convert("L").point(lambda v: v // 17 * 16)
if image.mode == "1":
    image.save(name + ".pbm")  # black and white: a bit a pixel
else:
    image.convert("RGB").save(name + ".ppm")
PYEOF
    ;;
  esac
done

# Seeds of the PCX and TIFF fuzz targets: a few of the above.
seeds=../../fuzz/corpus
mkdir -p "$seeds/fuzz_pcx" "$seeds/fuzz_tiff"
cp pil-palette8.pcx netpbm-planes4.pcx netpbm-packed4.pcx netpbm-mono1.pcx netpbm-rgb24.pcx \
  "$seeds/fuzz_pcx/"
cp pil-rgb24-packbits.tif tiffcp-rgb24-lzw2-strips.tif tiffcp-page-g4-strips.tif \
  tiffcp-page-g3-2d.tif pil-page-huffman.tif im-grey4.tif tiffcp-grey8-bigendian-packbits.tif \
  pil-palette8.tif "$seeds/fuzz_tiff/"
