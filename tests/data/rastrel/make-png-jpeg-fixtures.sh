#!/usr/bin/env bash
# Makes the PNG and JPEG fixtures with independent programs (Pillow,
# ImageMagick, netpbm, libjpeg-turbo's cjpeg) and, beside each, the pixels
# another decoder gets from it (NAME.ppm): Pillow's for PNG (netpbm's, cut
# to their high byte, for 16-bit grey, which Pillow clips), and
# `djpeg -dct float -nosmooth` for JPEG (chroma repeated, not interpolated,
# as our reader does). Run from anywhere; writes into this folder.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
CONVERT=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pictures: 37 x 23 (odd sizes: partial JPEG units, PNG rows of odd
# bytes), smooth ramps beside flat areas and sharp edges, 16 and 4 colours.
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
rgb.quantize(4, dither=Image.Dither.NONE).convert("RGB").save(f"{work}/four.ppm")
grey = rgb.convert("L")
grey.save(f"{work}/grey.pgm")
# Grey levels of 2, 4 and 16 bits for netpbm's PNG depths.
for bits in (2, 4, 16):
    top = (1 << bits) - 1
    # The 16-bit levels differ in their low byte, so that no writer can
    # store them in 8 bits.
    levels = [min(top, round(v * top / 255) + (i % 7 if bits > 8 else 0))
              for i, v in enumerate(grey.getdata())]
    wide = bits > 8
    body = b"".join((v.to_bytes(2, "big") if wide else bytes([v])) for v in levels)
    open(f"{work}/grey{bits}.pgm", "wb").write(b"P5\n%d %d\n%d\n" % (w, h, top) + body)
# A photograph-like picture for JPEG: smooth shading with a little texture.
import math
photo = Image.new("RGB", (w, h))
for y in range(h):
    for x in range(w):
        r = 128 + 100 * math.sin(x / 6.0) * math.cos(y / 5.0)
        g = 90 + 60 * math.cos((x + y) / 9.0) + 8 * ((x * 13 + y * 7) % 5)
        b = 160 - 3 * y + 40 * math.sin(x * y / 40.0)
        photo.putpixel((x, y), tuple(max(0, min(255, int(v))) for v in (r, g, b)))
photo.save(f"{work}/photo.ppm")
photo.convert("L").save(f"{work}/photo.pgm")
PYEOF

pil() { "$PY" - "$work" "$@" <<'PYEOF'
import sys
from PIL import Image
work, source, mode, out = sys.argv[1:5]
options = {}
for a in sys.argv[5:]:
    k, v = a.split("=", 1)
    options[k] = int(v) if v.isdigit() else v
image = Image.open(f"{work}/{source}")
if mode == "P":
    image = image.quantize(int(options.pop("colours", 200)), dither=Image.Dither.NONE)
elif mode in ("RGBA", "LA"):
    image = image.convert(mode[:-1])
    image.putalpha(Image.linear_gradient("L").resize(image.size))
else:
    image = image.convert(mode)
image.save(out, **options)
PYEOF
}

rm -f ./*.png ./*.png.ppm ./*.jpg ./*.jpg.ppm

# PNG: every colour type, the bit depths, interlaced and not, transparency.
pil picture.ppm RGB pil-rgb8.png
pil picture.ppm RGBA pil-rgba8.png
pil grey.pgm L pil-grey8.png
pil grey.pgm LA pil-greyalpha8.png
pil picture.ppm P pil-palette8.png
pil few.ppm P pil-palette4.png colours=16 bits=4
pil four.ppm P pil-palette2.png colours=4 bits=2
pil grey.pgm 1 pil-grey1.png
"$CONVERT" "$work/picture.ppm" -interlace PNG PNG24:im-rgb8-adam7.png
"$CONVERT" "$work/picture.ppm" -depth 16 PNG48:im-rgb16.png
"$CONVERT" "$work/picture.ppm" -alpha set -channel A -fx 'i/w' -depth 16 -interlace PNG \
  PNG64:im-rgba16-adam7.png
"$CONVERT" "$work/few.ppm" -transparent 'rgb(200,60,90)' PNG8:im-palette8-trns.png
pnmtopng "$work/grey2.pgm" > netpbm-grey2.png
pnmtopng -interlace "$work/grey4.pgm" > netpbm-grey4-adam7.png
pnmtopng "$work/grey16.pgm" > netpbm-grey16.png
pnmtopng -transparent '=rgb:c8/3c/5a' "$work/picture.ppm" > netpbm-rgb8-trns.png
pnmtopng "$work/four.ppm" > netpbm-palette2.png

# JPEG: cjpeg's qualities, samplings, restart intervals, optimised tables
# and grey; Pillow's and ImageMagick's; progressive and arithmetic files we
# refuse.
cjpeg -quality 75 "$work/photo.ppm" > cjpeg-q75-2x2.jpg
cjpeg -quality 95 -sample 1x1 "$work/picture.ppm" > cjpeg-q95-1x1.jpg
cjpeg -quality 50 -sample 2x1 "$work/photo.ppm" > cjpeg-q50-2x1.jpg
cjpeg -quality 85 -sample 1x2 "$work/photo.ppm" > cjpeg-q85-1x2.jpg
cjpeg -quality 10 "$work/photo.ppm" > cjpeg-q10-2x2.jpg
cjpeg -quality 80 -restart 2B "$work/photo.ppm" > cjpeg-restart2.jpg
cjpeg -quality 80 -optimize "$work/picture.ppm" > cjpeg-optimize.jpg
cjpeg -quality 80 -grayscale "$work/photo.ppm" > cjpeg-grey.jpg
cjpeg -quality 80 -sample 2x2,1x1,2x1 "$work/photo.ppm" > cjpeg-mixed.jpg
cjpeg -quality 80 -progressive "$work/photo.ppm" > cjpeg-progressive.jpg
cjpeg -quality 80 -arithmetic "$work/photo.ppm" > cjpeg-arithmetic.jpg
pil photo.ppm RGB pil-q90.jpg quality=90
pil photo.pgm L pil-grey.jpg quality=70
"$CONVERT" "$work/photo.ppm" -quality 60 -sampling-factor 4:2:2 im-q60-422.jpg

# What another decoder gets from each.
for f in *.png; do
  "$PY" - "$f" "$f.ppm" <<'PYEOF'
import subprocess, sys
from PIL import Image
source, out = sys.argv[1:3]
image = Image.open(source)
if image.mode in ("I", "I;16", "I;16B"):
    pnm = subprocess.run(["pngtopnm", source], check=True, capture_output=True).stdout
    head = pnm.split(b"\n", 3)
    w, h = map(int, head[1].split())
    body = head[3]
    grey = bytes(body[i] for i in range(0, 2 * w * h, 2))
    image = Image.frombytes("L", (w, h), grey)
image.convert("RGB").save(out)
PYEOF
done
for f in *.jpg; do
  case "$f" in *progressive*|*arithmetic*) continue ;; esac
  djpeg -dct float -nosmooth -pnm "$f" | "$PY" -c \
    'import sys, io; from PIL import Image; Image.open(io.BytesIO(sys.stdin.buffer.read())).convert("RGB").save(sys.argv[1])' \
    "$f.ppm"
done

# Seeds of the PNG and JPEG fuzz targets: a few of the above.
seeds=../../fuzz/corpus
mkdir -p "$seeds/fuzz_png" "$seeds/fuzz_jpeg"
rm -f "$seeds"/fuzz_png/* "$seeds"/fuzz_jpeg/*
cp pil-palette4.png im-rgba16-adam7.png netpbm-grey2.png netpbm-rgb8-trns.png "$seeds/fuzz_png/"
cp cjpeg-restart2.jpg cjpeg-q85-1x2.jpg cjpeg-grey.jpg cjpeg-mixed.jpg cjpeg-progressive.jpg \
  "$seeds/fuzz_jpeg/"
