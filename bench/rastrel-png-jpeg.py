#!/usr/bin/python3
"""JPEG and PNG on a 4000 x 3000 photograph-like picture, side by side in
one run: JPEG decode with the rastrel tool, libjpeg-turbo's djpeg and Pillow;
JPEG encode at quality 75 with the tool, cjpeg and Pillow; PNG load and
save with the tool and Pillow (and netpbm's interlaced writer). Each action
runs once to warm the page cache, then eleven times (the PNG saves five)
taking turns with its anchor; the medians and the ratios (ours / theirs;
below 1 is faster) are printed, of the wall time and of the processor time
(user + system: on a busy machine the steadier figure). Decodes write a
bitmap file and encodes read one, the same for every program.

usage: rastrel-png-jpeg.py BUILD_DIR   (rastrel, regsvr and librastrel.so there)
"""
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image

from rastrel_bench import header, median_seconds, photograph, registered, report

def run(*command, env=None):
    subprocess.run(command, env=env, check=True, stdout=subprocess.DEVNULL)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    with tempfile.TemporaryDirectory() as work:
        tool, env = registered(build, work)
        picture = photograph(4000, 3000)
        path = lambda name: os.path.join(work, name)
        picture.save(path("in.bmp"))
        run("/usr/bin/cjpeg", "-quality", "75", "-outfile", path("in.jpg"), path("in.bmp"))
        picture.save(path("in.png"))

        def pil_convert(source, out, **options):
            def action():
                with Image.open(source) as image:
                    image.load()
                    image.save(out, **options)
            return action

        rows = [
            ("JPEG decode", "djpeg",
             lambda: run(tool, "convert", path("in.jpg"), path("ours.bmp"), env=env),
             lambda: run("/usr/bin/djpeg", "-bmp", "-outfile", path("djpeg.bmp"), path("in.jpg"))),
            ("JPEG decode", "Pillow", None, pil_convert(path("in.jpg"), path("pil.bmp"))),
            ("JPEG encode q75", "cjpeg",
             lambda: run(tool, "convert", path("in.bmp"), path("ours.jpg"), "--quality", "75",
                         env=env),
             lambda: run("/usr/bin/cjpeg", "-quality", "75", "-outfile", path("cjpeg.jpg"),
                         path("in.bmp"))),
            ("JPEG encode q75", "Pillow", None,
             pil_convert(path("in.bmp"), path("pil.jpg"), quality=75)),
            ("PNG load", "Pillow",
             lambda: run(tool, "convert", path("in.png"), path("ours-png.bmp"), env=env),
             pil_convert(path("in.png"), path("pil-png.bmp"))),
            # Pillow writes no interlaced PNG: its plain file at the same
            # zlib level (6) is the lighter task; pnmtopng writes Adam7.
            ("PNG save", "Pillow",
             lambda: run(tool, "convert", path("in.bmp"), path("ours.png"), env=env),
             pil_convert(path("in.bmp"), path("pil.png"), compress_level=6)),
            ("PNG save", "pnmtopng -interlace", None,
             lambda: subprocess.run(f"/usr/bin/bmptopnm {path('in.bmp')} 2>/dev/null | "
                                    f"/usr/bin/pnmtopng -interlace > {path('netpbm.png')}",
                                    shell=True, check=True)),
        ]
        header("anchor")
        previous = None
        for task, anchor, ours, theirs in rows:
            # A row without its own action compares the one above it.
            ours = ours or previous
            previous = ours
            # The PNG saves take seconds each: fewer rounds.
            report(task, anchor, ours, theirs, rounds=5 if task == "PNG save" else 11)
        sizes = {name: os.path.getsize(path(name)) for name in ("ours.jpg", "cjpeg.jpg", "ours.png",
                                                              "pil.png")}
        print("sizes:", ", ".join(f"{k} {v}" for k, v in sizes.items()))
        codecs_alone(build, work)


def codecs_alone(build, work):
    """The codecs alone, in process, on the same files: rastrel-bench's
    loads and saves (pointed at the folder's in.bmp, in.jpg and in.png)
    against Pillow's in this process; medians of eleven, one after the
    other. Fresh memory costs a new process more or less on this machine
    from one run to the next, which the whole commands above include."""
    env = dict(os.environ, RASTREL_BENCH_INPUT=work)
    result = subprocess.run(
        [os.path.join(build, "bin", "rastrel-bench"),
         "--benchmark_filter=^(Load/jpeg_q75|Save/jpeg_q75|Load/png)$",
         "--benchmark_repetitions=11", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"], env=env, check=True, capture_output=True, text=True)
    to_ms = {"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}
    ours = {b["run_name"]: b["real_time"] * to_ms[b["time_unit"]]
            for b in json.loads(result.stdout)["benchmarks"] if b.get("aggregate_name") == "median"}
    picture = Image.open(os.path.join(work, "in.bmp"))
    picture.load()

    def load(name):
        def action():
            with Image.open(os.path.join(work, name)) as image:
                image.load()
        return action

    rows = [("JPEG decode", "Load/jpeg_q75", load("in.jpg")),
            ("JPEG encode q75", "Save/jpeg_q75",
             lambda: picture.save(os.path.join(work, "alone.jpg"), quality=75)),
            ("PNG load", "Load/png", load("in.png"))]
    print(f"\ncodecs alone, in process (ms): {'ours':>8} {'Pillow':>8} {'ratio':>6}")
    for task, name, pillow in rows:
        theirs = median_seconds(pillow) * 1000
        print(f"{task:<30} {ours[name]:>8.1f} {theirs:>8.1f} {ours[name] / theirs:>6.2f}")



if __name__ == "__main__":
    main()
