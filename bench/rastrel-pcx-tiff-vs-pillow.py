#!/usr/bin/python3
"""Loads and saves a 4000 x 3000 24-bit picture as PCX and as TIFF
(uncompressed, PackBits, LZW with differencing) with the rastrel tool and with
Pillow, and loads a 2480 x 3508 Group 4 page (A4 at 300 dpi) with the tool
and with libtiff's tiffcp into an uncompressed file, in one run; prints the
medians of wall and processor time and their ratios (rastrel / other;
below 1 is faster).

Loads are `rastrel info` against Pillow's open and load; conversions are
`rastrel convert` into the same format (TIFF written uncompressed, as rastrel
writes it) against Pillow's load and save.

usage: rastrel-pcx-tiff-vs-pillow.py BUILD_DIR   (rastrel, regsvr and librastrel.so there)
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from rastrel_bench import header, photograph, registered, report

def page(width, height):
    # Lines of word-like black blocks on white, as a typed page.
    image = Image.new("1", (width, height), 1)
    draw = ImageDraw.Draw(image)
    seed = 7
    for top in range(200, height - 200, 60):
        x = 250
        while x < width - 300:
            seed = (seed * 1103515245 + 12345) % 2 ** 31
            word = 40 + seed % 220
            for letter in range(x, x + word, 22):
                draw.rectangle([letter, top + seed % 7, letter + 14, top + 34], fill=0)
                draw.rectangle([letter + 4, top + 8, letter + 10, top + 26], fill=1)
            x += word + 30
    return image


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    with tempfile.TemporaryDirectory() as work:
        tool, env = registered(build, work)
        picture = photograph(4000, 3000)
        cases = [("PCX", "pcx", {}, {}),
                 ("TIFF none", "tif", {}, {}),
                 ("TIFF PackBits", "tif", {"compression": "packbits"}, {}),
                 ("TIFF LZW", "tif", {"compression": "tiff_lzw"}, {})]
        header()
        for name, extension, source_options, out_options in cases:
            source = os.path.join(work, f"in.{extension}")
            picture.save(source, **source_options)
            ours_out = os.path.join(work, f"ours.{extension}")
            pil_out = os.path.join(work, f"pil.{extension}")

            def ours_load():
                subprocess.run([tool, "info", source], env=env, check=True,
                               stdout=subprocess.DEVNULL)

            def pillow_load():
                with Image.open(source) as image:
                    image.load()

            def ours_convert():
                subprocess.run([tool, "convert", source, ours_out], env=env, check=True)

            def pillow_convert():
                with Image.open(source) as image:
                    image.load()
                    image.save(pil_out, **out_options)

            for what, ours, other in (("load", ours_load, pillow_load),
                                      ("convert", ours_convert, pillow_convert)):
                report(name, what, ours, other)
            with Image.open(ours_out) as a, Image.open(pil_out) as b:
                if a.convert("RGB").tobytes() != b.convert("RGB").tobytes():
                    sys.exit(f"{name}: the two outputs differ")

        fax = os.path.join(work, "page.tif")
        page(2480, 3508).save(fax, compression="group4")
        plain = os.path.join(work, "page-plain.tif")

        def ours_fax():
            # In the page's own format, an 8-bit palette, as tiffcp keeps its bits.
            subprocess.run([tool, "info", fax, "--format", "4000"], env=env, check=True,
                           stdout=subprocess.DEVNULL)

        def tiffcp_fax():
            subprocess.run(["tiffcp", "-c", "none", fax, plain], check=True)

        report("TIFF Group 4", "load", ours_fax, tiffcp_fax,
               "  (other: tiffcp -c none; target <= 2)")


if __name__ == "__main__":
    main()
