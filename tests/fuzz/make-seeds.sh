#!/usr/bin/env bash
# Writes the small seed inputs of the fuzz targets into corpus/.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p corpus/fuzz_frame_file corpus/fuzz_number_text corpus/fuzz_settings_file \
         corpus/fuzz_triples corpus/fuzz_ellipse
/usr/bin/python3 - <<'PY'
import struct
# A frame header and the first rows of a band picture (the rest reads as 0).
rows = [40000 if (y < 2 or y > 4) else 3000 for y in range(8)]
data = b'\0' * 174 + b''.join(struct.pack('<H', v) * 656 for v in rows)
open('corpus/fuzz_frame_file/band-rows', 'wb').write(data)
open('corpus/fuzz_frame_file/header-only', 'wb').write(b'II*\0' + b'\0' * 170)
# Tangents of an ellipse and of a circle.
import math
def tangents(A, B, x0, y0, th, n=5):
    out = []
    for i in range(n):
        t = 0.3 + 1.05 * i
        px, py = A*math.cos(t), B*math.sin(t)
        tx, ty = -A*math.sin(t), B*math.cos(t)
        c, s = math.cos(th), math.sin(th)
        P = (x0 + px*c - py*s, y0 + px*s + py*c)
        Q = (P[0] + tx*c - ty*s, P[1] + tx*s + ty*c)
        out += [P[1]-Q[1], Q[0]-P[0], P[0]*Q[1]-Q[0]*P[1]]
    return struct.pack('<15d', *out)
open('corpus/fuzz_ellipse/ellipse', 'wb').write(tangents(0.0625, 0.06, 0.01, -0.02, 0.7))
open('corpus/fuzz_ellipse/circle', 'wb').write(tangents(0.5, 0.5, 0, 0, 0))
PY
printf '327,5' > corpus/fuzz_number_text/comma
printf -- '-46.0193228167378' > corpus/fuzz_number_text/point
printf '1,5E-3' > corpus/fuzz_number_text/exponent
printf 'Camera2_20080415_093012_007.tif' > corpus/fuzz_number_text/frame-name
printf '23\r\n327,5\r\n245,5\r\n-46,0193228167378\r\n26,6757209288414\r\n \r\n23\r\n327,5\r\n245,5\r\n43,1025239130338\r\n24,756501341982\r\n \r\n23\r\n327,5\r\n245,5\r\n-0,180449213282532\r\n-51,5406248013469\r\n' \
  > corpus/fuzz_settings_file/defaults
printf '1\n2\r3\r\n' > corpus/fuzz_settings_file/mixed-line-ends
printf '50\nCamera1_20080415_093012_007.tif\nCamera2_20080415_093012_020.tif\nCamera3_20080415_093012_041.tif\nCamera1_20080415_093013_007.tif\nnotes.txt\n' \
  > corpus/fuzz_triples/one-triple
