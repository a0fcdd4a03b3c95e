#!/usr/bin/python3
"""Prints each measured diameter (merkanix-measure --csv on stdin) beside the
true one from a simulated folder's truth.json."""
import csv
import json
import sys

truth = json.load(open(sys.argv[1]))["triples"]
by_files = {tuple(t["files"]): t for t in truth}
rows = list(csv.DictReader(sys.stdin))
print("%6s  %13s  %10s  %10s" % ("triple", "measured [mm]", "true [mm]", "error [um]"))
worst = 0.0
for r in rows:
    measured = float(r["diameter"])
    t = by_files.get((r["file1"], r["file2"], r["file3"]))
    if t is None:
        print("%6s  %13.4f  %10s" % (r["triple"], measured, "not simulated"))
        continue
    error = (measured - t["diameter"]) * 1000
    worst = max(worst, abs(error))
    print("%6s  %13.4f  %10.4f  %10.2f" % (r["triple"], measured, t["diameter"], error))
print("%d triples found, %d simulated; largest error %.2f um" % (len(rows), len(truth), worst))
