#!/usr/bin/python3
"""Loads and saves a 4000 x 3000 24-bit picture as Targa (plain and
run-length encoded) and Windows Bitmap with the rastrel tool and with Pillow,
in one run, and prints the medians and ratios of wall and processor time
(rastrel / Pillow; below 1 is faster).

usage: rastrel-vs-pillow.py BUILD_DIR   (rastrel, regsvr and librastrel.so there)
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image

from rastrel_bench import header, photograph, registered, report

def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    with tempfile.TemporaryDirectory() as work:
        tool, env = registered(build, work)
        picture = photograph(4000, 3000)
        cases = [("Targa", "tga", {}, []),
                 ("Targa RLE", "tga", {"compression": "tga_rle"}, ["--rle"]),
                 ("BMP", "bmp", {}, [])]
        header("Pillow")
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

            report(name, "convert", ours, pillow)
            with Image.open(ours_out) as a, Image.open(pil_out) as b:
                if a.convert("RGB").tobytes() != b.convert("RGB").tobytes():
                    sys.exit(f"{name}: the two outputs differ")


if __name__ == "__main__":
    main()
