#!/usr/bin/python3
"""Loads and saves a 4000 x 3000 24-bit picture as Targa (plain and
run-length encoded) and Windows Bitmap with the rastrel tool and with Pillow,
in one run, and prints the time ratios (rastrel / Pillow; below 1 is faster).

usage: rastrel-vs-pillow.py BUILD_DIR   (rastrel, regsvr and librastrel.so there)
"""
import os
import subprocess
import sys
import tempfile
import time

from PIL import Image

ROUNDS = 5


def best(action):
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    tool = os.path.join(build, "bin", "rastrel")
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, RASTREL_REGISTRY=os.path.join(work, "registry.reg"))
        subprocess.run([os.path.join(build, "bin", "regsvr"), "-s",
                        os.path.join(build, "lib", "librastrel.so")], env=env, check=True)
        # A photograph-like picture: smooth shading, flat areas (runs) and noise.
        width, height = 4000, 3000
        shade = Image.linear_gradient("L").resize((width, height))
        noise = Image.effect_noise((width, height), 24)
        flat = Image.new("L", (width, height), 90)
        mask = Image.linear_gradient("L").rotate(90).resize((width, height)).point(
            lambda v: 255 if v > 128 else 0)
        picture = Image.merge("RGB", (shade, Image.composite(flat, noise, mask),
                                      shade.transpose(Image.Transpose.FLIP_LEFT_RIGHT)))
        cases = [("Targa", "tga", {}, []),
                 ("Targa RLE", "tga", {"compression": "tga_rle"}, ["--rle"]),
                 ("BMP", "bmp", {}, [])]
        print(f"{'file':<10} {'rastrel s':>10} {'Pillow s':>10} {'ratio':>6}")
        for name, extension, pil_options, tool_options in cases:
            source = os.path.join(work, f"in.{extension}")
            picture.save(source, **pil_options)
            ours_out = os.path.join(work, f"ours.{extension}")
            pil_out = os.path.join(work, f"pil.{extension}")

            def ours():
                subprocess.run([tool, "convert", source, ours_out] + tool_options,
                               env=env, check=True)

            def pillow():
                with Image.open(source) as image:
                    image.load()
                    image.save(pil_out, **pil_options)

            ours_time, pil_time = best(ours), best(pillow)
            with Image.open(ours_out) as a, Image.open(pil_out) as b:
                if a.convert("RGB").tobytes() != b.convert("RGB").tobytes():
                    sys.exit(f"{name}: the two outputs differ")
            print(f"{name:<10} {ours_time:>10.3f} {pil_time:>10.3f} {ours_time / pil_time:>6.2f}")


if __name__ == "__main__":
    main()
