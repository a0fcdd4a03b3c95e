#!/usr/bin/env bash
# Makes the Targa and Windows Bitmap fixtures with independent programs
# (Pillow, ImageMagick, netpbm) and, beside each, the pixels Pillow decodes
# from it (NAME.ppm). Run from anywhere; writes into this folder.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
CONVERT=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pictures: 37 x 23 (odd width: row padding), smooth ramps beside runs of
# equal pixels (run-length packets that cross row ends), and 16 colours.
"$PY" - "$work" <<'PYEOF'
import sys
from PIL import Image
work = sys.argv[1]
w, h = 37, 23
rgb = Image.new("RGB", (w, h))
for y in range(h):
    for x in range(w):
        if y % 4 == 1 or x > 30:
            rgb.putpixel((x, y), (200, 60, 90))  # runs, also across row ends
        else:
            rgb.putpixel((x, y), ((x * 7) % 256, (y * 11) % 256, (x * y) % 256))
rgb.save(f"{work}/picture.ppm")
few = rgb.quantize(16, dither=Image.Dither.NONE).convert("RGB")
few.save(f"{work}/few.ppm")
two = Image.new("1", (w, h))
for y in range(h):
    for x in range(w):
        two.putpixel((x, y), 255 if (x + 2 * y) % 5 < 2 else 0)
two.save(f"{work}/two.pbm")
rgb.convert("L").save(f"{work}/grey.pgm")
PYEOF

pil() { "$PY" - "$work" "$@" <<'PYEOF'
import sys
from PIL import Image
work, source, mode, out = sys.argv[1:5]
options = dict(a.split("=", 1) for a in sys.argv[5:])
image = Image.open(f"{work}/{source}")
if mode == "P":
    image = image.quantize(16 if "few" in source else 200, dither=Image.Dither.NONE)
elif mode == "RGBA":
    image = image.convert("RGBA")
    image.putalpha(Image.linear_gradient("L").resize(image.size))
else:
    image = image.convert(mode)
image.save(out, **options)
PYEOF
}

pil picture.ppm RGB pil-rgb24.tga
pil picture.ppm RGB pil-rgb24-rle.tga compression=tga_rle
pil picture.ppm RGBA pil-rgba32.tga
pil grey.pgm L pil-grey8.tga
pil few.ppm P pil-palette8-rle.tga compression=tga_rle
pil picture.ppm P pil-palette8.tga
pil picture.ppm RGB pil-rgb24.bmp
pil picture.ppm P pil-palette8.bmp
pil grey.pgm L pil-grey8.bmp
pil two.pbm 1 pil-mono1.bmp

pamtotga -rgb "$work/picture.ppm" > netpbm-rgb24.tga
pamtotga -rgb -norle "$work/picture.ppm" > netpbm-rgb24-plain.tga
pamtotga -cmap "$work/few.ppm" > netpbm-cmap8.tga 2>/dev/null
pamtotga -mono "$work/grey.pgm" > netpbm-grey8.tga
ppmtobmp -bpp 24 "$work/picture.ppm" > netpbm-rgb24.bmp 2>/dev/null
ppmtobmp -bpp 8 "$work/few.ppm" > netpbm-palette8.bmp 2>/dev/null
ppmtobmp -bpp 4 "$work/few.ppm" > netpbm-palette4.bmp 2>/dev/null
pnmtoplainpnm "$work/two.pbm" | ppmtobmp -bpp 1 > netpbm-mono1.bmp 2>/dev/null

"$CONVERT" "$work/picture.ppm" -compress RLE im-rgb24-rle.tga
"$CONVERT" "$work/picture.ppm" -flip -orient TopLeft im-rgb24-topfirst.tga
"$CONVERT" "$work/few.ppm" -type Palette -compress RLE BMP3:im-palette8-rle.bmp
"$CONVERT" "$work/picture.ppm" -define bmp:format=bmp3 -type TrueColor BMP3:im-rgb24.bmp
# Today's ImageMagick: 124-byte (BMP5) and 108-byte (BMP4) information
# headers, and BI_BITFIELDS pixels of 32 bits with alpha, 5-6-5 and 5-5-5.
"$CONVERT" "$work/picture.ppm" -type TrueColor im-rgb24-v5.bmp
"$CONVERT" "$work/picture.ppm" -type TrueColor -intent Undefined im-rgb24-v4.bmp
"$CONVERT" "$work/picture.ppm" -alpha set -channel A -fx 'i/w' +channel im-rgba32-v5.bmp
"$CONVERT" "$work/picture.ppm" -define bmp:subtype=RGB565 im-rgb565-v5.bmp
"$CONVERT" "$work/picture.ppm" -define bmp:subtype=RGB555 im-rgb555-v5.bmp

# What Pillow decodes from each: the pixels our loads must match.
for f in *.tga *.bmp; do
  "$PY" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).convert("RGB").save(sys.argv[2])' "$f" "$f.ppm"
done

# Seeds of the Targa and Windows Bitmap fuzz targets: a few of the above.
seeds=../../fuzz/corpus
mkdir -p "$seeds/fuzz_targa" "$seeds/fuzz_bmp"
cp pil-rgb24-rle.tga netpbm-cmap8.tga pil-rgba32.tga im-rgb24-topfirst.tga netpbm-grey8.tga \
  "$seeds/fuzz_targa/"
cp im-palette8-rle.bmp netpbm-palette4.bmp pil-mono1.bmp pil-rgb24.bmp im-rgba32-v5.bmp \
  im-rgb565-v5.bmp "$seeds/fuzz_bmp/"
