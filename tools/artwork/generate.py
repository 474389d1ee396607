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
from scene import backdrop, flat_backdrop  # noqa: E402

FRAMES = 6
QUAD_SIZE = (512, 1024)   # power of two; stretched onto the 2:3 quad
FLAT_SIZE = (320, 480)    # drawn 1:1 from the flat view's top-left corner
MAX_BYTES = 200 * 1024
SEAM_PIXELS = 2           # edge pixels allowed to differ by more than anti-aliasing does
RGBA, PALETTE = 6, 3      # PNG colour types: the icon keeps its alpha, the opaque frames a palette
ICON_SIZES = (16, 24, 48, 64, 128, 256, 512)

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def jobs(only):
    """(coat, frame file stems, size, backdrop) for each set of frames that shares a palette."""
    for j, coat in enumerate(CHARACTERS):
        if only in (None, str(j)):
            yield coat, [f"QB_{j:02d}_{k:02d}" for k in range(FRAMES)], QUAD_SIZE, backdrop(j)
    if only in (None, "flat"):
        yield FLAT, [f"RadireZer03_{k}" for k in range(FRAMES)], FLAT_SIZE, flat_backdrop()


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


def quantise(pngs, outs, size):
    """Reduces a set of frames to one shared 256-colour palette without dithering, so every
    pixel the frames have in common (all but the mouth) stays identical between them."""
    work = os.path.dirname(pngs[0])
    montage = os.path.join(work, "montage.png")
    reduced = os.path.join(work, "montage-256.png")
    subprocess.run(["convert", *pngs, "+append", montage], check=True)
    subprocess.run(["pngquant", "--nofs", "--speed", "1", "--strip", "--force", "--output", reduced,
                    "256", montage], check=True)
    for k, out in enumerate(outs):
        tmp = out + ".tmp"
        subprocess.run(["convert", reduced, "-crop", f"{size[0]}x{size[1]}+{k * size[0]}+0", "+repage",
                        "-strip", "-define", "png:exclude-chunks=date,time",
                        "-define", "png:compression-level=9", f"PNG8:{tmp}"], check=True)
        os.replace(tmp, out)


def edge_mismatch(png_path, size):
    """Pixels where the left and right edge columns differ: the view wraps its textures, so
    any difference shows as a line where two quads meet."""
    w, h = size
    with tempfile.TemporaryDirectory(prefix="artwork-edge-") as work:
        cols = []
        for x in (0, w - 1):
            col = os.path.join(work, f"{x}.png")
            subprocess.run(["convert", png_path, "-crop", f"1x{h}+{x}+0", "+repage", col], check=True)
            cols.append(col)
        res = subprocess.run(["compare", "-metric", "AE", "-fuzz", "10%", *cols, "null:"],
                             capture_output=True, text=True)
    return int(float(res.stderr.split()[0]))


def check(png_path, size, want_ctype):
    w, h, ctype = png_header(png_path)
    problems = []
    if (w, h) != size:
        problems.append(f"size {w}x{h}, want {size[0]}x{size[1]}")
    if ctype != want_ctype:
        problems.append(f"colour type {ctype}, want {want_ctype}")
    n = os.path.getsize(png_path)
    if n > MAX_BYTES:
        problems.append(f"{n} bytes, over {MAX_BYTES}")
    return problems


def border_alpha(png_path, n):
    """The highest alpha (0..1) on the outermost ring of pixels: the badge must keep clear."""
    res = subprocess.run(["convert", png_path, "-alpha", "extract", "-fill", "black", "-draw",
                          f"rectangle 1,1 {n - 2},{n - 2}", "-format", "%[fx:maxima]", "info:"],
                         capture_output=True, text=True, check=True)
    return float(res.stdout)


def write_icons(out):
    """quibblers.svg (the scalable icon) and quibblers-N.png for each size in ICON_SIZES."""
    os.makedirs(out, exist_ok=True)
    svg = os.path.join(out, "quibblers.svg")
    tmp = svg + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(render_icon_svg())
    os.replace(tmp, svg)
    failed = False
    with tempfile.TemporaryDirectory(prefix="artwork-icon-") as work:
        for n in ICON_SIZES:
            source = os.path.join(work, f"{n}.svg")
            with open(source, "w", encoding="utf-8") as f:
                f.write(render_icon_svg(n))
            png = os.path.join(out, f"quibblers-{n}.png")
            render_png(source, png, (n, n))
            problems = check(png, (n, n), RGBA)
            edge = border_alpha(png, n)
            if edge > 0:
                problems.append(f"opaque pixels on the border (alpha up to {edge:.2f})")
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

    for tool, package in (("rsvg-convert", "librsvg2-bin"), ("pngquant", "pngquant"),
                          ("convert", "imagemagick")):
        if not shutil.which(tool):
            sys.exit(f"generate.py: {tool} not found (Debian package {package})")
    if args.icons:
        out = args.out if args.out != ap.get_default("out") else os.path.join(REPO, "packaging", "icons")
        return write_icons(out)
    os.makedirs(args.out, exist_ok=True)
    keep = args.svg_dir
    svg_dir = keep or tempfile.mkdtemp(prefix="artwork-")
    os.makedirs(svg_dir, exist_ok=True)
    failed = False
    with tempfile.TemporaryDirectory(prefix="artwork-rgb-") as rgb_dir:
        try:
            for coat, stems, size, scene in jobs(args.only):
                rgb = [os.path.join(rgb_dir, stem + ".png") for stem in stems]
                for frame, stem in enumerate(stems):
                    render(render_svg(coat, frame, scene), os.path.join(svg_dir, stem + ".svg"),
                           rgb[frame], size)
                outs = [os.path.join(args.out, stem + ".png") for stem in stems]
                quantise(rgb, outs, size)
                for png, stem in zip(outs, stems):
                    problems = check(png, size, PALETTE)
                    seam = edge_mismatch(png, size)
                    if seam > SEAM_PIXELS:
                        problems.append(f"{seam} pixels differ between the left and right edges")
                    status = "; ".join(problems) if problems else "ok"
                    print(f"{stem}.png  {os.path.getsize(png) // 1024} KB  {status}")
                    failed |= bool(problems)
        finally:
            if not keep:
                shutil.rmtree(svg_dir, ignore_errors=True)
    return 1 if failed else 0

if __name__ == "__main__":
    sys.exit(main())
