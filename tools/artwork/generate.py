#!/usr/bin/env python3
"""Regenerates the character frames: SVG sources rendered to PNG with rsvg-convert.

    python3 tools/artwork/generate.py                 # all 30 PNGs into resources/
    python3 tools/artwork/generate.py --svg-dir DIR   # also keep the SVG sources
    python3 tools/artwork/generate.py --only 2        # just character 2 (or "flat")
    python3 tools/artwork/generate.py --icons         # the application icon into packaging/icons/
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from coats import CHARACTERS, FLAT  # noqa: E402
from figure import render_svg  # noqa: E402
from icon import render_icon_svg  # noqa: E402

FRAMES = 6
QUAD_SIZE = (512, 1024)   # power of two; stretched onto the 2:3 quad
FLAT_SIZE = (320, 480)    # drawn 1:1 from the flat view's top-left corner
MAX_BYTES = 200 * 1024
ICON_SIZES = (48, 64, 128, 256, 512)

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def jobs(only):
    for j, coat in enumerate(CHARACTERS):
        if only in (None, str(j)):
            for k in range(FRAMES):
                yield coat, k, f"QB_{j:02d}_{k:02d}", QUAD_SIZE
    if only in (None, "flat"):
        for k in range(FRAMES):
            yield FLAT, k, f"RadireZer03_{k}", FLAT_SIZE


def png_header(path):
    """(width, height, colour type) from the IHDR chunk."""
    with open(path, "rb") as f:
        head = f.read(33)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise ValueError(f"{path}: not a PNG")
    w, h, _depth, ctype = struct.unpack(">IIBB", head[16:26])
    if zlib.crc32(head[12:29]) != struct.unpack(">I", head[29:33])[0]:
        raise ValueError(f"{path}: corrupt IHDR")
    return w, h, ctype


def render(svg_text, svg_path, png_path, size):
    with open(svg_path, "w", encoding="utf-8") as f:
        f.write(svg_text)
    render_png(svg_path, png_path, size)


def render_png(svg_path, png_path, size):
    tmp = png_path + ".tmp"
    subprocess.run(["rsvg-convert", "-w", str(size[0]), "-h", str(size[1]), "-f", "png",
                    "-o", tmp, svg_path], check=True)
    os.replace(tmp, png_path)


def check(png_path, size):
    w, h, ctype = png_header(png_path)
    problems = []
    if (w, h) != size:
        problems.append(f"size {w}x{h}, want {size[0]}x{size[1]}")
    if ctype != 6:
        problems.append(f"colour type {ctype}, want RGBA (6)")
    n = os.path.getsize(png_path)
    if n > MAX_BYTES:
        problems.append(f"{n} bytes, over {MAX_BYTES}")
    return problems


def write_icons(out):
    """quibblers.svg (the scalable icon) and quibblers-N.png for each size in ICON_SIZES."""
    os.makedirs(out, exist_ok=True)
    svg = os.path.join(out, "quibblers.svg")
    tmp = svg + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(render_icon_svg())
    os.replace(tmp, svg)
    failed = False
    for n in ICON_SIZES:
        png = os.path.join(out, f"quibblers-{n}.png")
        render_png(svg, png, (n, n))
        problems = check(png, (n, n))
        print(f"quibblers-{n}.png  {os.path.getsize(png) // 1024} KB  {'; '.join(problems) or 'ok'}")
        failed |= bool(problems)
    return 1 if failed else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(REPO, "resources"), help="PNG directory")
    ap.add_argument("--svg-dir", help="keep the SVG sources here")
    ap.add_argument("--only", help='one character index 0..3, or "flat"')
    ap.add_argument("--icons", action="store_true",
                    help="write the application icon (SVG and PNGs) instead, into --out or packaging/icons")
    args = ap.parse_args()

    if not shutil.which("rsvg-convert"):
        sys.exit("generate.py: rsvg-convert not found (Debian package librsvg2-bin)")
    if args.icons:
        out = args.out if args.out != ap.get_default("out") else os.path.join(REPO, "packaging", "icons")
        return write_icons(out)
    os.makedirs(args.out, exist_ok=True)
    keep = args.svg_dir
    svg_dir = keep or tempfile.mkdtemp(prefix="artwork-")
    os.makedirs(svg_dir, exist_ok=True)
    failed = False
    try:
        for coat, frame, stem, size in jobs(args.only):
            png = os.path.join(args.out, stem + ".png")
            render(render_svg(coat, frame), os.path.join(svg_dir, stem + ".svg"), png, size)
            problems = check(png, size)
            status = "; ".join(problems) if problems else "ok"
            print(f"{stem}.png  {os.path.getsize(png) // 1024} KB  {status}")
            failed |= bool(problems)
    finally:
        if not keep:
            shutil.rmtree(svg_dir, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
