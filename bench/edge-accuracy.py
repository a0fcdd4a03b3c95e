#!/usr/bin/python3
"""Whole-row against sub-pixel edges on simulated round fibres.

usage: bench/edge-accuracy.py [BUILD] [--triples N] [--seed S]

For each condition merkanix-simulate writes N triples of round fibres
(0.2-1.2 mm, and the 1.020 mm etalon), and merkanix-measure measures the
folder once with whole-row edges and once with --subpixel-edges. Printed per
condition and mode: the edge rows against the true tangent rows (mean, RMS),
the false ovality a - b (the fibres are round; mean, RMS), and the diameter
error (mean, RMS, max), all in micrometres except the rows. Only the
standard library is used; not a test.
"""
import csv
import io
import json
import math
import statistics
import subprocess
import sys
import tempfile

TILT_3PX = 3 / 656  # rows per column: 3 rows across the frame
CONDITIONS = [
    ("clean, no tilt", ["--tilt", "0"]),
    ("default tilt 0.002", []),
    ("noisy, sigma 500", ["--noise", "500"]),
    ("blurred, 1.5 rows", ["--blur", "1.5"]),
    ("tilted, 3 px across", ["--tilt", str(TILT_3PX)]),
    ("noisy and tilted", ["--noise", "500", "--tilt", str(TILT_3PX)]),
    ("bright fibre, dark ground", ["--reverse", "--noise", "500"]),
    ("etalon 1.020 mm, noisy", ["--diameter-min", "1.02", "--diameter-max", "1.02", "--noise", "500"]),
]


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values))


def measure(build, folder, extra):
    out = subprocess.run([f"{build}/bin/merkanix-measure", folder, "--csv"] + extra,
                         check=True, capture_output=True, text=True).stdout
    return list(csv.DictReader(io.StringIO(out)))


def main():
    args = sys.argv[1:]
    build, triples, seed = "build", 40, 1
    while args:
        a = args.pop(0)
        if a == "--triples":
            triples = int(args.pop(0))
        elif a == "--seed":
            seed = int(args.pop(0))
        else:
            build = a
    print(f"{triples} round fibres per condition, seed {seed}; rows: measured - true tangent row;")
    print("a - b and diameter errors in um")
    print(f"{'condition':27} {'edges':9} {'row mean':>8} {'row RMS':>8} {'a-b mean':>9} "
          f"{'a-b RMS':>8} {'diam mean':>9} {'diam RMS':>8} {'diam max':>8}")
    for name, options in CONDITIONS:
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([f"{build}/bin/merkanix-simulate", folder, "--triples", str(triples),
                            "--seed", str(seed), "--ovality", "0"] + options,
                           check=True, capture_output=True)
            truth = {tuple(t["files"]): t for t in json.load(open(f"{folder}/truth.json"))["triples"]}
            for mode, extra in (("rows", []), ("subpixel", ["--subpixel-edges"])):
                rows, ovality, diameter = [], [], []
                for r in measure(build, folder, extra):
                    t = truth[(r["file1"], r["file2"], r["file3"])]
                    for k in range(3):
                        rows.append(float(r[f"top{k + 1}"]) - t["tangent_rows"][k][0])
                        rows.append(float(r[f"bottom{k + 1}"]) - t["tangent_rows"][k][1])
                    ovality.append((float(r["a"]) - float(r["b"])) * 1000)
                    diameter.append((float(r["diameter"]) - t["diameter"]) * 1000)
                print(f"{name:27} {mode:9} {statistics.mean(rows):8.3f} {rms(rows):8.3f} "
                      f"{statistics.mean(ovality):9.2f} {rms(ovality):8.2f} "
                      f"{statistics.mean(diameter):9.2f} {rms(diameter):8.2f} "
                      f"{max(abs(d) for d in diameter):8.2f}")


main()
