#!/usr/bin/python3
"""Does the descent find the cameras?

usage: bench/optimisation-accuracy.py [BUILD] [--time S] [--max-passes N] [--triples N] [--seed N]
                                      [--offset-max MM] [--subpixel-edges]

For two set-ups of true cameras (all f = 23 mm, started from 16; f = 22, 23,
24 mm, started from 23) merkanix-simulate writes the three basic-position
etalon frames and a folder of etalon triples (--optimisation), and a folder of
fibres 0.2-1.2 mm, all seen by the true cameras. merkanix-optimise then runs
the descent under each of the four objectives with the default settings and
writes its settings; merkanix-measure measures the fibres once with them and
once with the true settings. Printed per run: the focal lengths reached, g,
the passes, and the diameter error (mean, RMS, max in um) for both settings.
Also printed: g at the start and at the true focal lengths, and the gradient
there, which show how flat the objective is. With --subpixel-edges every edge
(etalon and fibres) is measured between rows. Only the standard library is
used; not a test.
"""
import json
import math
import os
import statistics
import subprocess
import sys
import tempfile

EDGES = []  # ["--subpixel-edges"] to measure edges between rows

# The program's start values: f, xc, yc, x, y of CAM1, CAM2, CAM3.
START = [
    (23.0, 327.5, 245.5, -46.0193228167378, 26.6757209288414),
    (23.0, 327.5, 245.5, 43.1025239130338, 24.756501341982),
    (23.0, 327.5, 245.5, -0.180449213282532, -51.5406248013469),
]
SETUPS = [  # (name, true f per camera, start f)
    ("true 23 mm, start 16", (23.0, 23.0, 23.0), (16.0, 16.0, 16.0)),
    ("true 22/23/24 mm, start 23", (22.0, 23.0, 24.0), (23.0, 23.0, 23.0)),
]


def run(command, check=True):
    done = subprocess.run(command, capture_output=True, text=True)
    if check and done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({done.returncode}):\n{done.stderr}")
    return done


def write_settings(path, focal):
    lines = []
    for k, camera in enumerate(START):
        if k:
            lines.append(" ")
        lines += [repr(focal[k])] + [repr(v) for v in camera[1:]]
    with open(path, "w", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))


def diameter_errors(bin_dir, fibres, settings):
    """Measured minus true equivalent diameter of every triple, in um."""
    with open(os.path.join(fibres, "truth.json")) as f:
        truth = {tuple(t["files"]): t["diameter"] for t in json.load(f)["triples"]}
    out = run([f"{bin_dir}/merkanix-measure", fibres, "--csv", "--settings", settings,
               *EDGES]).stdout
    return [(float(c[16]) - truth[tuple(c[1:4])]) * 1000
            for c in (row.split(",") for row in out.splitlines()[1:])]


def stats(errors):
    if not errors or any(math.isnan(e) for e in errors):
        return "      no ellipse for some triples"
    rms = math.sqrt(sum(e * e for e in errors) / len(errors))
    return f"{statistics.fmean(errors):9.2f} {rms:9.2f} {max(map(abs, errors)):9.2f}"


def evaluate(bin_dir, common, focal, variant):
    out = run([f"{bin_dir}/merkanix-optimise", *common, "--evaluate", "--variant", str(variant),
               "--f", ",".join(map(repr, focal)), *EDGES]).stdout
    sums = {line.split()[0]: float(line.split()[1]) for line in out.splitlines()}
    grad = [(sums[f"g{k}+"] - sums[f"g{k}-"]) / 0.2 for k in (1, 2, 3)]
    return sums["g0"], grad


def main():
    args = sys.argv[1:]
    if "--subpixel-edges" in args:
        args.remove("--subpixel-edges")
        EDGES.append("--subpixel-edges")
    bin_dir = os.path.join(args.pop(0) if args and not args[0].startswith("--") else "build", "bin")
    options = dict(zip(args[::2], args[1::2]))
    limit = ["--time", options.get("--time", "15")]
    if "--max-passes" in options:
        limit += ["--max-passes", options["--max-passes"]]
    triples, seed = options.get("--triples", "10"), options.get("--seed", "1")
    offset = options.get("--offset-max", "0.3")

    with tempfile.TemporaryDirectory(prefix="merkanix-opt-") as scratch:
        for name, true_f, start_f in SETUPS:
            folder = os.path.join(scratch, name.split(",")[0].replace(" ", "_").replace("/", "-"))
            truth = os.path.join(folder, "true.txt")
            os.makedirs(folder)
            write_settings(truth, true_f)
            run([f"{bin_dir}/merkanix-simulate", os.path.join(folder, "etalon"), "--optimisation",
                 "--triples", triples, "--offset-max", offset, "--seed", seed, "--settings", truth])
            fibres = os.path.join(folder, "fibres")
            run([f"{bin_dir}/merkanix-simulate", fibres, "--triples", "20", "--seed", seed,
                 "--settings", truth])
            basic = sorted(os.path.join(folder, "etalon", "basic", n)
                           for n in os.listdir(os.path.join(folder, "etalon", "basic"))
                           if n.endswith(".tif"))
            common = [os.path.join(folder, "etalon", "triples"), "--etalon", *basic]
            true_errors = stats(diameter_errors(bin_dir, fibres, truth))

            print(f"\n{name}: {triples} etalon triples within {offset} mm, default settings,"
                  f" {' '.join(limit)}")
            print(f"{'variant':>7} {'g(start)':>10} {'g(true)':>10} {'|grad|(start)':>13}"
                  f" {'f1':>8} {'f2':>8} {'f3':>8} {'g':>10} {'passes':>7}"
                  f" {'mean':>9} {'rms':>9} {'max':>9}  (um; true settings: {true_errors.strip()})")
            for variant in (1, 2, 3, 4):
                g_start, grad = evaluate(bin_dir, common, start_f, variant)
                g_true, _ = evaluate(bin_dir, common, true_f, variant)
                found = os.path.join(folder, f"found{variant}.txt")
                done = run([f"{bin_dir}/merkanix-optimise", *common, "--csv", "--variant",
                            str(variant), "--f", ",".join(map(repr, start_f)), *limit,
                            "--settings", found, *EDGES], check=False)
                rows = done.stdout.splitlines()[1:]
                best = [line for line in done.stderr.splitlines() if line.startswith(("best g", "f "))]
                stop = next((line.split("stopped by ")[1] for line in done.stderr.splitlines()
                             if "stopped by" in line), "?")
                if not rows or len(best) < 2:
                    print(f"{variant:>7} failed: {done.stderr.strip()}")
                    continue
                f_best = [float(v) for v in best[1].split()[1:]]
                g_best = float(best[0].split()[2])
                errors = stats(diameter_errors(bin_dir, fibres, found)) \
                    if os.path.exists(found) else "      no settings written"
                print(f"{variant:>7} {g_start:10.3e} {g_true:10.3e} {math.hypot(*grad):13.3e}"
                      f" {f_best[0]:8.3f} {f_best[1]:8.3f} {f_best[2]:8.3f} {g_best:10.3e}"
                      f" {len(rows):7d} {errors}  {stop}")


if __name__ == "__main__":
    main()
