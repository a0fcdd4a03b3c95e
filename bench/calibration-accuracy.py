#!/usr/bin/python3
"""What a calibration is worth, end to end, and where its accuracy is lost.

usage: bench/calibration-accuracy.py [BUILD] [--seeds N] [--triples N] [--no-analysis]
                                     [--subpixel-edges]

For each seed: three true cameras whose f, xc, yc and positions differ from
the program's start values; merkanix-simulate writes their whole calibration
set (--calibration --cameras 3: per camera a millimetre-paper pair and an
etalon frame, noise, blur and uneven light as its defaults); merkanix-calibrate
calibrates each camera from it into a settings file; merkanix-simulate writes
a folder of fibres 0.2-1.2 mm seen by the true cameras, and merkanix-measure
measures it once with the calibrated and once with the true settings. Printed:
the error of f, xc, yc, x, y per camera and the diameter error (mean, RMS,
max) for both settings files.

The analysis then calibrates again with the magnification between the two
paper images put on the centre search's grid of log-polar steps (b^-16,
b = 512^(1/1024)), half a step off it (b^-15.5), and where the standard stage
readings put it (50/55, 0.35 of a step off), and splits the errors of f and
of the camera positions into their sources (magnification, millimetre size,
etalon edges). With --subpixel-edges the etalon and the fibres are measured
with edges between rows. Only the standard library is used; not a test.
"""
import json
import math
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

EDGES = []  # ["--subpixel-edges"] to measure edges between rows
PITCH = 0.0056
B = 512 ** (1 / 1024)  # the magnification step of the centre search at N = 1024
READINGS = (35.0, 30.0)
# The program's start values: f, xc, yc, x, y of CAM1, CAM2, CAM3.
START = [
    (23.0, 327.5, 245.5, -46.0193228167378, 26.6757209288414),
    (23.0, 327.5, 245.5, 43.1025239130338, 24.756501341982),
    (23.0, 327.5, 245.5, -0.180449213282532, -51.5406248013469),
]
NAMES = ("CAM1", "CAM2", "CAM3")
KEYS = ("f", "xc", "yc", "x", "y")


def run(command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({done.returncode}):\n{done.stderr}")
    return done.stdout


def true_cameras(seed):
    """Cameras that differ from the start values by what a real set-up
    differs by: f by 0.3-1.2 mm, the centre by 5-20 px, the distance to the
    etalon by up to 3 % and the camera sideways by up to 1 mm."""
    rng = random.Random(seed)

    def away(low, high):
        return rng.choice((-1, 1)) * rng.uniform(low, high)

    cameras = []
    for f, xc, yc, x, y in START:
        rho = math.hypot(x, y)
        across = (-y / rho, x / rho)
        scale = 1 + rng.uniform(-0.03, 0.03)
        side = rng.uniform(-1, 1)
        cameras.append({"f": f + away(0.3, 1.2), "xc": xc + away(5, 20), "yc": yc + away(5, 15),
                        "x": x * scale + side * across[0], "y": y * scale + side * across[1]})
    return cameras


def write_settings(path, cameras):
    lines = []
    for k, c in enumerate(cameras):
        if k:
            lines.append(" ")
        lines += [repr(float(c[key])) for key in KEYS]
    with open(path, "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))


def read_settings(path):
    with open(path, newline="") as f:
        lines = f.read().split("\r\n")
    return [{key: float(lines[6 * k + i].replace(",", ".")) for i, key in enumerate(KEYS)}
            for k in range(3)]


def camera_position(name, f, yc, u, l, diameter):
    """The calibration's camera position from the etalon's edge rows, so that
    the position can be recomputed from other f and yc."""
    k, r = PITCH, diameter / 2
    d1, d2, d12 = abs(yc - u) * k, abs(yc - l) * k, abs(u - l) * k
    l1, l2 = math.sqrt(d1 * d1 + f * f), math.sqrt(d2 * d2 + f * f)
    t = l1 * d12 / (l1 + l2)
    cos_alpha = (l1 * l1 + l2 * l2 - d12 * d12) / (2 * l1 * l2)
    rho = r / math.sqrt((1 - cos_alpha) / 2)
    e = abs(k * yc - (k * u + t))
    g = math.sqrt(e * e + f * f)
    if d1 == d2:
        X, Y = 0.0, -rho
    else:
        X, Y = (rho * e / g if d1 < d2 else -rho * e / g), -rho * f / g
    c = math.sqrt(3) / 2
    if name == "CAM3":
        return X, Y
    if name == "CAM1":
        return c * Y - X / 2, -c * X - Y / 2
    return -X / 2 - c * Y, c * X - Y / 2


def zero_distance(magnification):
    """The stage zero that puts the paper images' magnification at m."""
    r1, r2 = READINGS
    return (r1 - magnification * r2) / (1 - magnification)


def calibrate(bin_dir, folder, seed, cameras, zero, extra=()):
    """Simulates the calibration set of `cameras` and calibrates each camera;
    returns the truth, the tool's output per camera and the settings file."""
    settings = os.path.join(folder, "true.txt")
    write_settings(settings, cameras)
    data = os.path.join(folder, "set")
    run([f"{bin_dir}/merkanix-simulate", data, "--calibration", "--cameras", "3",
         "--settings", settings, "--seed", str(seed), "--zero-distance", repr(zero),
         "--reading1", repr(READINGS[0]), "--reading2", repr(READINGS[1]), *extra])
    with open(os.path.join(data, "truth.json")) as f:
        truth = json.load(f)
    calibrated = os.path.join(folder, "calibrated.txt")
    outputs = []
    for camera in truth["cameras"]:
        files = [os.path.join(data, n) for n in camera["images"] + camera["etalon_files"][:1]]
        out = run([f"{bin_dir}/merkanix-calibrate", files[0], files[1], "--etalon", files[2],
                   "--columns", *map(str, camera["columns"]), "--threshold", "iterative",
                   "--camera", camera["name"], "--diameter", repr(truth["etalon_diameter"]),
                   "--settings", calibrated, *EDGES])
        outputs.append({k: float(v) for k, v in (line.split()[:2] for line in out.splitlines())})
    return truth, outputs, calibrated


def fibres_of(scratch, seed):
    """The folder of fibres seen by the true cameras of `seed`."""
    return os.path.join(scratch, f"seed{seed}", "fibres")


def diameter_errors(bin_dir, fibres, settings):
    """Measured minus true equivalent diameter of every triple, in um."""
    with open(os.path.join(fibres, "truth.json")) as f:
        truth = {tuple(t["files"]): t["diameter"] for t in json.load(f)["triples"]}
    out = run([f"{bin_dir}/merkanix-measure", fibres, "--csv", "--settings", settings, *EDGES])
    errors = []
    for row in out.splitlines()[1:]:
        cells = row.split(",")
        errors.append((float(cells[16]) - truth[tuple(cells[1:4])]) * 1000)
    if len(errors) != len(truth):
        raise SystemExit(f"{len(errors)} triples measured of {len(truth)} in {fibres}")
    return errors


def stats(errors):
    if any(math.isnan(e) for e in errors):
        return "no ellipse for some triples"
    rms = math.sqrt(sum(e * e for e in errors) / len(errors))
    return f"{statistics.fmean(errors):8.2f} {rms:8.2f} {max(map(abs, errors)):8.2f}"


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values))


def print_cameras(truth, cameras, calibrated):
    print(f"  {'camera':6} {'f [mm]':>16} {'xc [px]':>16} {'yc [px]':>16} {'x [mm]':>16} "
          f"{'y [mm]':>16}   (true, calibrated - true)")
    for k, name in enumerate(NAMES):
        cells = [f"{cameras[k][key]:8.3f} {calibrated[k][key] - cameras[k][key]:+7.3f}"
                 for key in KEYS]
        print(f"  {name:6} " + " ".join(cells))


def end_to_end(bin_dir, scratch, seeds, triples):
    print("End to end: calibrated against true settings "
          f"({seeds} seeds, {triples} triples each, fibres 0.2-1.2 mm, noise 300, blur 0.8)")
    pooled = {"calibrated": [], "true": []}
    parameter_errors = {key: [] for key in KEYS}
    for seed in range(1, seeds + 1):
        folder = os.path.join(scratch, f"seed{seed}")
        os.makedirs(folder)
        cameras = true_cameras(seed)
        truth, _, calibrated = calibrate(bin_dir, folder, seed, cameras, 85.0)
        found = read_settings(calibrated)
        fibres = fibres_of(scratch, seed)
        run([f"{bin_dir}/merkanix-simulate", fibres, "--settings", os.path.join(folder, "true.txt"),
             "--triples", str(triples), "--seed", str(seed), "--noise", "300", "--blur", "0.8"])
        print(f"seed {seed}")
        print_cameras(truth, cameras, found)
        for k in range(3):
            for key in KEYS:
                parameter_errors[key].append(found[k][key] - cameras[k][key])
        print(f"  {'diameter error [um]':28} {'mean':>8} {'RMS':>8} {'max':>8}")
        for label, path in (("calibrated", calibrated), ("true", os.path.join(folder, "true.txt"))):
            errors = diameter_errors(bin_dir, fibres, path)
            pooled[label] += errors
            print(f"  {label + ' settings':28} {stats(errors)}")
    print(f"all seeds: parameter errors, RMS (max) over {3 * seeds} cameras")
    print("  " + "   ".join(f"{key} {rms(v):.3f} ({max(map(abs, v)):.3f})"
                            for key, v in parameter_errors.items()))
    print(f"  {'diameter error [um]':28} {'mean':>8} {'RMS':>8} {'max':>8}")
    for label, errors in pooled.items():
        print(f"  {label + ' settings':28} {stats(errors)}")
    return pooled


def analysis(bin_dir, scratch, seeds, triples):
    print()
    print("Where the accuracy is lost")
    conditions = [("m on the grid, b^-16", zero_distance(B ** -16), ()),
                  ("m standard, 50/55", 85.0, ()),
                  ("m half a step off, b^-15.5", zero_distance(B ** -15.5), ()),
                  ("m standard, etalon tilted 0.02", 85.0, ("--tilt", "0.02"))]
    rows = []
    for n, (label, zero, extra) in enumerate(conditions):
        acc = {key: [] for key in ("steps", "f", "f_m", "f_s", "xc", "yc", "shift", "pos",
                                   "pos_edges", "edges", "d_cal", "d_edges")}
        for seed in range(1, seeds + 1):
            folder = os.path.join(scratch, f"condition{n}-{seed}")
            os.makedirs(folder)
            cameras = true_cameras(seed)
            truth, outputs, calibrated = calibrate(bin_dir, folder, seed, cameras, zero, extra)
            found = read_settings(calibrated)
            edges_only = []
            for k, (c, out, t) in enumerate(zip(cameras, outputs, truth["cameras"])):
                m = out["magnification"]
                acc["steps"].append(math.log(m / truth["magnification"], B))
                acc["f"].append(found[k]["f"] / c["f"] - 1)
                # f = ds pitch s / (1 - m), as yc / dy = 1 / (1 - m): each factor's share.
                acc["f_m"].append((1 - truth["magnification"]) / (1 - m) - 1)
                acc["f_s"].append(out["mm"] / t["farther_pixels_per_mm"] - 1)
                for key in ("xc", "yc"):
                    acc[key].append(found[k][key] - c[key])
                    # The shift the centre came from: xc = dx / (1 - m) magnifies its error.
                    acc["shift"].append((found[k][key] - c[key]) * (1 - m))
                acc["pos"].append(math.hypot(found[k]["x"] - c["x"], found[k]["y"] - c["y"]))
                # The etalon page reads the band half a row high.
                acc["edges"] += [out["u"] - (t["tangent_rows"][0] - 0.5),
                                 out["l"] - (t["tangent_rows"][1] - 0.5)]
                x, y = camera_position(NAMES[k], c["f"], c["yc"], out["u"], out["l"],
                                       truth["etalon_diameter"])
                acc["pos_edges"].append(math.hypot(x - c["x"], y - c["y"]))
                edges_only.append(dict(c, x=x, y=y))
            write_settings(os.path.join(folder, "edges.txt"), edges_only)
            acc["d_cal"] += diameter_errors(bin_dir, fibres_of(scratch, seed), calibrated)
            acc["d_edges"] += diameter_errors(bin_dir, fibres_of(scratch, seed),
                                              os.path.join(folder, "edges.txt"))
        rows.append((label, acc))

    print("Centre and focal length, RMS over cameras and seeds (signed mean): the magnification's")
    print("error in steps of b; the error of f (%) and the shares of m and of the millimetre")
    print("size in it; the errors of xc and yc and that of the shift dx, dy they came from (px)")
    print(f"  {'':30} {'m':>6} {'f':>17} {'from m':>17} {'from mm':>17} {'xc':>15} "
          f"{'yc':>15} {'shift':>6}")
    for label, a in rows[:3]:
        print(f"  {label:30} {rms(a['steps']):6.2f} "
              + " ".join(f"{100 * rms(a[k]):7.3f} ({100 * statistics.fmean(a[k]):+7.3f})"
                         for k in ("f", "f_m", "f_s"))
              + " ".join(f"{rms(a[k]):6.2f} ({statistics.fmean(a[k]):+5.2f})" for k in ("xc", "yc"))
              + f" {rms(a['shift']):6.3f}")
    print("Camera position and diameters, RMS: the etalon's edge rows against the true ones")
    print("(rows), the position from those edges with true f and yc, the calibrated position")
    print(f"(mm); the diameter error with the calibrated settings (um, {seeds * triples} triples)")
    print(f"  {'':30} {'edges':>6} {'x, y from edges':>16} {'x, y':>6} "
          f"{'mean':>8} {'RMS':>8} {'max':>8}")
    for label, a in rows:
        print(f"  {label:30} {rms(a['edges']):6.3f} {rms(a['pos_edges']):16.3f} "
              f"{rms(a['pos']):6.3f} {stats(a['d_cal'])}")
    # The etalon fixes the scale: a focal length k times too long puts the
    # camera k times too far, and the fibre's angle times its distance stays.
    largest = max(abs(c - e) for _, a in rows for c, e in zip(a["d_cal"], a["d_edges"]))
    print("  largest difference between a diameter measured with calibrated settings and with")
    print(f"  true f, xc, yc and the same etalon edges: {largest:.3f} um")


def main():
    args = sys.argv[1:]
    options = {"--seeds": 3, "--triples": 30}
    for name in options:
        if name in args:
            i = args.index(name)
            options[name] = int(args[i + 1])
            del args[i : i + 2]
    detailed = "--no-analysis" not in args
    if "--subpixel-edges" in args:
        EDGES.append("--subpixel-edges")
    args = [a for a in args if a not in ("--no-analysis", "--subpixel-edges")]
    build = args[0] if args else "build"
    bin_dir = os.path.join(build, "bin")
    started = time.monotonic()
    with tempfile.TemporaryDirectory() as scratch:
        end_to_end(bin_dir, scratch, options["--seeds"], options["--triples"])
        if detailed:
            analysis(bin_dir, scratch, options["--seeds"], options["--triples"])
    print(f"{time.monotonic() - started:.0f} s; load average "
          + " ".join(f"{v:.2f}" for v in os.getloadavg()))


if __name__ == "__main__":
    main()
