"""The coats: colours, patches and the small personal detail of each character."""

import math
import random
from dataclasses import dataclass, field
from typing import Callable

from anatomy import GROUND, W, Build
from shapes import fmt, poly_path, pt, tufted

OUTLINE = "#3b2720"


def _none(_b):
    return []


@dataclass
class Coat:
    name: str
    build: Build
    body_fur: str
    head_fur: str
    muzzle: str
    ear: str
    ear_inner: str = "#eb9a98"
    ear_inner_light: str = "#fbd3cd"
    ear_fold: str = "#8a4a3a"
    foot: str = "#f6b4b2"
    foot_line: str = "#d2858a"
    nose: str = "#ee8b98"
    lip: str = "#5b3328"
    blush: str = "#ff7d88"
    blush_opacity: float = 0.45
    whisker: str = "#4a3026"
    outline: str = OUTLINE
    eye_rim: str = ""
    ruby_eyes: bool = False
    gloss: float = 0.8
    shade: str = "#4a2c1e"         # belly edge and cast shadows
    belly: float = 0.7
    head_tufts: list = field(default_factory=list)
    body_tufts: list = field(default_factory=list)
    head_patches: Callable = _none   # (path d, colour) clipped to the head
    body_patches: Callable = _none   # (path d, colour) clipped to the body
    head_marks: Callable = _none     # svg elements clipped to the head
    body_marks: Callable = _none     # svg elements clipped to the body
    muzzle_marks: Callable = _none   # svg elements over the whisker pads
    extras: Callable = _none         # svg elements on top (bows, tufts)


# ---------------------------------------------------------------- shared shapes

def blaze(b, top_half=7.0, muzzle_half=52.0):
    """White stripe down the forehead that opens into a white muzzle and chin."""
    x, t = b.hx, b.head_top
    m = muzzle_half
    return (f"M{fmt(x - top_half)},{fmt(t - 8)} L{fmt(x + top_half)},{fmt(t - 8)} "
            f"C{fmt(x + top_half + 2)},{fmt(t + 40)} {fmt(x + top_half + 3)},{fmt(t + 78)} "
            f"{fmt(x + 15)},{fmt(t + 102)} "
            f"C{fmt(x + m - 6)},{fmt(t + 112)} {fmt(x + m + 8)},{fmt(t + 150)} "
            f"{fmt(x + m - 6)},{fmt(t + 186)} "
            f"C{fmt(x + m - 22)},{fmt(t + 222)} {fmt(x - m + 22)},{fmt(t + 222)} "
            f"{fmt(x - m + 6)},{fmt(t + 186)} "
            f"C{fmt(x - m - 8)},{fmt(t + 150)} {fmt(x - m + 6)},{fmt(t + 112)} "
            f"{fmt(x - 15)},{fmt(t + 102)} "
            f"C{fmt(x - top_half - 3)},{fmt(t + 78)} {fmt(x - top_half - 2)},{fmt(t + 40)} "
            f"{fmt(x - top_half)},{fmt(t - 8)} Z")


def rosette(cx, cy, r, dark, light, arms=8, turn=1.0):
    """A whorl of fur: tapered locks spinning out from a dimple, each with a lit ridge."""
    out = [f'<ellipse cx="{fmt(cx)}" cy="{fmt(cy)}" rx="{fmt(0.3 * r)}" ry="{fmt(0.26 * r)}" '
           f'fill="{dark}" opacity="0.45" filter="url(#blur2)"/>']
    for i in range(arms):
        a = 2 * math.pi * i / arms
        p0 = (cx + 0.12 * r * math.cos(a), cy + 0.12 * r * math.sin(a))
        p2 = (cx + r * math.cos(a + 0.8 * turn), cy + r * math.sin(a + 0.8 * turn))
        p1 = (cx + 0.7 * r * math.cos(a + 0.1 * turn), cy + 0.7 * r * math.sin(a + 0.1 * turn))
        dx, dy = p2[0] - p0[0], p2[1] - p0[1]
        ln = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / ln, dx / ln
        w = 0.11 * r
        lock = (f"M{pt(p0)} Q{pt((p1[0] + nx * w, p1[1] + ny * w))} {pt(p2)} "
                f"Q{pt((p1[0] - nx * w, p1[1] - ny * w))} {pt(p0)} Z")
        out.append(f'<path d="{lock}" fill="{dark}" opacity="0.5"/>')
        ridge = (p1[0] + nx * w * 1.6 * turn, p1[1] + ny * w * 1.6 * turn)
        q0 = (p0[0] + (p2[0] - p0[0]) * 0.3, p0[1] + (p2[1] - p0[1]) * 0.3)
        out.append(f'<path d="M{pt(q0)} Q{pt(ridge)} {pt(p2)}" fill="none" stroke="{light}" '
                   f'stroke-width="{fmt(0.07 * r)}" stroke-linecap="round" opacity="0.55"/>')
    return out


def cheek_fluff():
    """Soft locks of fur at the lower cheeks, shared by the smooth coats."""
    return [(0.32, 0.385, 2, 5.0, 0.8), (0.615, 0.68, 2, 5.0, -0.8)]


# ---------------------------------------------------------------- 0: golden American

def _golden_head(b):
    return [(blaze(b, 6.0, 50.0), "#fffaf2")]


def _golden_freckles(b):
    out = []
    for side in (-1, 1):
        for dx, dy in ((22, -4), (31, 3), (21, 7)):
            out.append(f'<circle cx="{fmt(b.hx + side * dx)}" cy="{fmt(b.lip_y + dy)}" r="1.9" '
                       f'fill="#d48a45" opacity="0.85"/>')
    return out


GOLDEN = Coat(
    name="golden", build=Build(),
    body_fur="#eda14c", head_fur="#eda14c", muzzle="#fffaf2", ear="#d9833a",
    ear_fold="#9c5524",
    head_tufts=cheek_fluff(), body_tufts=[(0.84, 0.92, 3, 5.0, -0.8)],
    head_patches=_golden_head, muzzle_marks=_golden_freckles,
)


# ---------------------------------------------------------------- 1: Dutch

DUTCH_BLACK = "#2f2a2d"


def _dutch_head(b):
    return [(blaze(b, 9.0, 58.0), "#fdfaf5")]


def _dutch_body(b):
    r, top, g = b.body_right, b.body_top, GROUND
    x0 = r - 118
    return [(f"M{fmt(x0)},{fmt(top - 40)} C{fmt(x0 - 22)},{fmt(top + 50)} {fmt(x0 + 16)},"
             f"{fmt(g - 90)} {fmt(x0 - 4)},{fmt(g + 30)} L{W},{fmt(g + 30)} L{W},{fmt(top - 40)} Z",
             DUTCH_BLACK)]


DUTCH = Coat(
    name="dutch", build=Build(ear_droop=4.0),
    body_fur="#fdfaf5", head_fur=DUTCH_BLACK, muzzle="#fdfaf5", ear=DUTCH_BLACK,
    ear_inner="#d98c96", ear_inner_light="#f3bfc3", ear_fold="#140f10",
    eye_rim="#7a6d6f", whisker="#7d6c66", gloss=0.35, shade="#6f5b52", belly=0.5,
    blush="#ff8fa0", blush_opacity=0.22,
    head_tufts=cheek_fluff() + [(0.975, 1.03, 2, 10.0, 0.8)],
    body_tufts=[(0.84, 0.92, 3, 5.0, -0.8)],
    head_patches=_dutch_head, body_patches=_dutch_body,
)


# ---------------------------------------------------------------- 2: Himalayan

CHOC = "#4b2c22"


def _himalayan_smut(b):
    x, y = b.hx, b.nose_y + 3
    return [f'<ellipse cx="{fmt(x)}" cy="{fmt(y)}" rx="33" ry="25" fill="url(#smut)"/>',
            '<defs><radialGradient id="smut"><stop offset="0" stop-color="#4b2c22"/>'
            '<stop offset="0.72" stop-color="#553328"/>'
            '<stop offset="1" stop-color="#6b4434" stop-opacity="0"/></radialGradient></defs>']


def _bow(cx, cy, color, dark, angle=0.0, scale=1.0):
    loop = ("M0,0 C-8,-14 -26,-16 -28,-4 C-30,8 -14,12 0,0 Z")
    return [
        f'<g transform="translate({fmt(cx)} {fmt(cy)}) rotate({fmt(angle)}) scale({fmt(scale)})">',
        f'<path d="{loop}" fill="{color}" stroke="{OUTLINE}" stroke-width="3" stroke-linejoin="round"/>',
        f'<path d="{loop}" transform="scale(-1 1)" fill="{color}" stroke="{OUTLINE}" '
        f'stroke-width="3" stroke-linejoin="round"/>',
        f'<path d="M-17,-3 Q-12,-2 -8,1 M17,-3 Q12,-2 8,1" fill="none" stroke="{dark}" '
        f'stroke-width="2" stroke-linecap="round"/>',
        f'<ellipse cx="0" cy="0" rx="6.5" ry="7.5" fill="{color}" stroke="{OUTLINE}" stroke-width="3"/>',
        '<ellipse cx="-8" cy="-8" rx="5" ry="2.5" fill="#fff" opacity="0.6" transform="rotate(-20)"/>',
        '</g>']


def _himalayan_bow(b):
    return _bow(b.hx + 70, b.head_top + 22, "#ff8fb3", "#d45a86", 24, 1.35)


HIMALAYAN = Coat(
    name="himalayan", build=Build(head_half=114.0),
    body_fur="#fff3e0", head_fur="#fff3e0", muzzle="#fffaf1", ear=CHOC,
    ear_inner="#7a4c42", ear_inner_light="#a8756a", ear_fold="#1e120d",
    foot=CHOC, foot_line="#22140f", nose="#b7787c", lip="#4a2a20",
    ruby_eyes=True, gloss=0.55, shade="#8a6450", belly=0.5,
    head_tufts=cheek_fluff(), body_tufts=[(0.84, 0.92, 3, 5.0, -0.8)],
    muzzle_marks=_himalayan_smut, extras=_himalayan_bow,
)


# ---------------------------------------------------------------- 3: Abyssinian tortoiseshell

TORT_RED = "#d0672f"
TORT_BLACK = "#322a28"
TORT_WHITE = "#fffaf2"


def _abyssinian_head(b):
    x, t, bt = b.hx, b.head_top, b.head_bottom
    # the far half of the face is black: a classic tricolour split at the blaze
    half = (f"M{fmt(x + 4)},{fmt(t - 20)} C{fmt(x + 6)},{fmt(t + 60)} {fmt(x + 30)},{fmt(t + 110)} "
            f"{fmt(x + 70)},{fmt(t + 130)} C{fmt(x + 100)},{fmt(t + 145)} {fmt(x + 120)},{fmt(t + 150)} "
            f"{fmt(x + 140)},{fmt(t + 140)} L{fmt(x + 140)},{fmt(t - 20)} Z")
    return [(half, TORT_BLACK), (blaze(b, 6.0, 46.0), TORT_WHITE)]


def _abyssinian_body(b):
    r, top, g = b.body_right, b.body_top, GROUND
    saddle = (f"M{fmt(r - 60)},{fmt(top - 30)} C{fmt(r - 80)},{fmt(top + 30)} "
              f"{fmt(r - 40)},{fmt(top + 80)} {fmt(r - 10)},{fmt(top + 70)} "
              f"C{fmt(r + 10)},{fmt(top + 60)} {fmt(r + 20)},{fmt(top + 20)} {fmt(r + 20)},{fmt(top - 30)} Z")
    rump = (f"M{fmt(r - 75)},{fmt(g + 20)} C{fmt(r - 90)},{fmt(g - 50)} {fmt(r - 40)},{fmt(top + 130)} "
            f"{fmt(r + 20)},{fmt(top + 120)} L{fmt(r + 20)},{fmt(g + 20)} Z")
    return [(saddle, TORT_BLACK), (rump, TORT_WHITE)]


def _abyssinian_body_marks(b):
    r, top = b.body_right, b.body_top
    out = []
    out += rosette(r - 112, top + 62, 30, "#7a2f12", "#f6a46e", turn=1.0)
    out += rosette(r - 30, top + 40, 24, "#000000", "#8a7c76", turn=-1.0)
    out += rosette(r - 40, top + 175, 24, "#a08c7c", "#ffffff", turn=1.0)
    return out


def _abyssinian_head_marks(b):
    return rosette(b.hx - 48, b.head_top + 36, 22, "#7a2f12", "#f6a46e", arms=8)


ABYSSINIAN = Coat(
    name="abyssinian", build=Build(ear_size=0.95, ear_droop=6.0),
    body_fur=TORT_RED, head_fur=TORT_RED, muzzle=TORT_WHITE, ear=("#b9522a", TORT_BLACK),
    gloss=0.55, eye_rim=("", "#7a6d6f"),
    ear_fold="#6e2a10",
    head_tufts=[(0.95, 1.05, 5, 11.0, 0.3), (0.28, 0.40, 4, 8.0, 0.9),
                (0.60, 0.72, 4, 8.0, -0.9)],
    body_tufts=[(0.14, 0.30, 5, 11.0, 0.6), (0.30, 0.44, 4, 10.0, 0.7), (0.80, 0.93, 4, 7.0, -0.6)],
    head_patches=_abyssinian_head, body_patches=_abyssinian_body,
    head_marks=_abyssinian_head_marks, body_marks=_abyssinian_body_marks,
)


# ---------------------------------------------------------------- flat view: lilac roan, crested

ROAN = "#e8a088"


def _roan_speckles(b):
    """Roan: white hairs sprinkled through the coloured coat of the body."""
    rnd = random.Random(4)
    out = []
    for _ in range(700):
        x = rnd.uniform(b.hx - 100, b.body_right)
        y = rnd.uniform(b.body_top - 5, GROUND)
        r = math.radians(rnd.uniform(-125, -55))
        ln = rnd.uniform(3.0, 6.0)
        color, op = ("#ffffff", 0.8) if rnd.random() < 0.85 else ("#a0503a", 0.35)
        out.append(f'<path d="M{fmt(x)},{fmt(y)} l{fmt(ln * math.cos(r))},{fmt(ln * math.sin(r))}" '
                   f'stroke="{color}" stroke-width="1.3" stroke-linecap="round" opacity="{op}"/>')
    return out


def _roan_snip(b):
    """White muzzle and chin; the rest of a roan's head stays solid."""
    x, y = b.hx, b.lip_y
    d = (f"M{fmt(x)},{fmt(y - 24)} C{fmt(x + 30)},{fmt(y - 24)} {fmt(x + 46)},{fmt(y - 4)} "
         f"{fmt(x + 44)},{fmt(y + 18)} C{fmt(x + 42)},{fmt(y + 44)} {fmt(x - 42)},{fmt(y + 44)} "
         f"{fmt(x - 44)},{fmt(y + 18)} C{fmt(x - 46)},{fmt(y - 4)} {fmt(x - 30)},{fmt(y - 24)} "
         f"{fmt(x)},{fmt(y - 24)} Z")
    return [(d, "#fff8f3")]


def _roan_head_marks(b):
    rnd = random.Random(7)
    out = []
    for _ in range(60):
        side = rnd.choice((-1, 1))
        x = b.hx + side * rnd.uniform(70, 118)
        y = rnd.uniform(b.eye_y + 20, b.head_bottom)
        r = math.radians(rnd.uniform(-120, -60))
        ln = rnd.uniform(3.0, 6.0)
        out.append(f'<path d="M{fmt(x)},{fmt(y)} l{fmt(ln * math.cos(r))},{fmt(ln * math.sin(r))}" '
                   f'stroke="#ffffff" stroke-width="1.4" stroke-linecap="round" opacity="0.6"/>')
    return out + _crest(b)


def _crest(b):
    """A single white whorl on the forehead."""
    x, y = b.hx, b.head_top + 36
    circle = [(x + 23 * math.cos(2 * math.pi * i / 120), y + 19 * math.sin(2 * math.pi * i / 120))
              for i in range(120)]
    fluffy = tufted(circle, [(0.0, 1.0, 10, 8.0, 0.8)], spacing=0.8)
    return ([f'<path d="{poly_path(fluffy)}" fill="#fffdfb"/>'] +
            rosette(x, y, 19, "#d8c3ba", "#ffffff", arms=8))


ROAN_CRESTED = Coat(
    name="roan", build=Build(),
    body_fur=ROAN, head_fur="#d9713f", muzzle="#fff8f3", ear="#c4602f",
    ear_fold="#7e3a24", shade="#7a3a2a", belly=0.5,
    head_tufts=cheek_fluff(),
    body_tufts=[(0.84, 0.92, 3, 5.0, -0.8)],
    head_patches=_roan_snip, body_marks=_roan_speckles, head_marks=_roan_head_marks,
)

CHARACTERS = [GOLDEN, DUTCH, HIMALAYAN, ABYSSINIAN]
FLAT = ROAN_CRESTED
