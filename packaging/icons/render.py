#!/usr/bin/python3
"""Renders the PNG icons for the hicolor theme from ../tovami.svg (ImageMagick's convert draws the
rounded square and the cat's unit squares, so no SVG delegate is needed). Run after changing the SVG:
the PNGs are kept in the tree so that building the package needs no image tools."""

import pathlib
import re
import subprocess

HERE = pathlib.Path(__file__).parent
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

svg = (HERE.parent / "tovami.svg").read_text()
background = re.search(r'<rect [^>]*rx="([\d.]+)"[^>]*fill="(#\w+)"', svg)
cat = re.search(r'<path fill="(#\w+)" d="([^"]+)"', svg)
# Each sub-path is one rectangle: "Mx yhWvHHx" with relative width and height.
cells = [tuple(map(float, m)) for m in re.findall(r"M([\d.]+) ([\d.]+)h([\d.]+)v([\d.]+)H[\d.]+z", cat[2])]

for size in SIZES:
    k = size / 10
    draw = [f"roundrectangle 0,0 {size - 1},{size - 1} {float(background[1]) * k},{float(background[1]) * k}"]
    # Whole pixels without smoothing keep the pixel art crisp at the small sizes (no seams between rows).
    draw += [f"rectangle {round(x * k)},{round(y * k)} {round((x + w) * k) - 1},{round((y + h) * k) - 1}"
             for x, y, w, h in cells]
    out = HERE / f"{size}x{size}" / "tovami.png"
    out.parent.mkdir(exist_ok=True)
    subprocess.run(["/usr/bin/convert", "-size", f"{size}x{size}", "xc:none",
                    "-fill", background[2], "-draw", draw[0], "+antialias", "-fill", cat[1], "-draw", " ".join(draw[1:]),
                    "-strip", f"PNG32:{out}"], check=True)
