"""The garden the guinea pigs stand in, drawn behind every frame.

The four quads stand side by side, so the garden is drawn once across a strip four canvases
wide and each character's frames show their own slice of it: sky, hills, hedge and meadow
run on unbroken when the camera slides from one character to the next. Each slice strings
its own bunting and grows its own flowers in its character's accent colour.

The view samples its textures with wrapping, so a slice's left and right edge columns blend
into each other: everything that crosses a slice edge repeats once per slice (hills, hedge,
trodden patches, pins), so both edges of every slice are the same, and the rest keeps clear
of the edges.
"""

import math
import random

from anatomy import GROUND, H, W
from shapes import fmt, poly_path, pt

PANELS = 4
STRIP = W * PANELS
FLOOR = 404          # foot of the hedge: where the meadow starts, the same line in every slice
STRING_Y = 14        # bunting string at the slice edges
STRING_SAG = 40

# warm yellow, poppy red, rose pink (her bow), teal: each stands out from the sky and the
# coat in front of it
ACCENTS = ("#ffb020", "#e4454b", "#ff74aa", "#1fa6b3")
FLAT_ACCENT = "#9a78e0"

SKY = ("#84c6ee", "#bfe3f6", "#e6f4f1")
FAR_HILLS = "#b4d9c6"
HILLS = "#9ccf8c"
HILLS_LIGHT = "#afda98"
HEDGE = "#5fa552"
HEDGE_LIGHT = "#7cbd62"
HEDGE_DARK = "#4c8c44"
MEADOW = ("#b6e08e", "#9ad273", "#86c562")
GRASS = "#6fae52"
STRING = "#8a6a58"


def _mix(a, b, t):
    """Colour a moved a fraction t towards colour b."""
    ca = [int(a[i:i + 2], 16) for i in (1, 3, 5)]
    cb = [int(b[i:i + 2], 16) for i in (1, 3, 5)]
    return "#" + "".join(f"{round(x + (y - x) * t):02x}" for x, y in zip(ca, cb))


def _ridge(base, waves, step=8.0):
    """Outline of a range of hills across the whole strip; `waves` are (amplitude, cycles per
    slice, phase), whole cycles so the outline meets itself at every slice edge."""
    pts = []
    x = 0.0
    while x <= STRIP + step:
        y = base + sum(a * math.sin(2 * math.pi * x * n / W + phase) for a, n, phase in waves)
        pts.append((x, y))
        x += step
    return pts


def _height(pts, x):
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        if x0 <= x <= x1:
            return y0 + (y1 - y0) * (x - x0) / (x1 - x0)
    return pts[-1][1]


def _defs():
    return (
        '<defs>'
        f'<linearGradient id="sceneSky" x1="0" y1="0" x2="0" y2="{FLOOR}" gradientUnits="userSpaceOnUse">'
        f'<stop offset="0" stop-color="{SKY[0]}"/><stop offset="0.62" stop-color="{SKY[1]}"/>'
        f'<stop offset="1" stop-color="{SKY[2]}"/></linearGradient>'
        f'<linearGradient id="sceneMeadow" x1="0" y1="{FLOOR}" x2="0" y2="{H}" gradientUnits="userSpaceOnUse">'
        f'<stop offset="0" stop-color="{MEADOW[0]}"/><stop offset="0.5" stop-color="{MEADOW[1]}"/>'
        f'<stop offset="1" stop-color="{MEADOW[2]}"/></linearGradient>'
        '<radialGradient id="sceneSun"><stop offset="0" stop-color="#fff6c8" stop-opacity="0.95"/>'
        '<stop offset="0.45" stop-color="#fff1a8" stop-opacity="0.45"/>'
        '<stop offset="1" stop-color="#fff1a8" stop-opacity="0"/></radialGradient>'
        '<radialGradient id="sceneClearing"><stop offset="0" stop-color="#d6eda6" stop-opacity="0.9"/>'
        '<stop offset="1" stop-color="#d6eda6" stop-opacity="0"/></radialGradient>'
        '</defs>')


def _sun(x, y):
    out = [f'<circle cx="{fmt(x)}" cy="{fmt(y)}" r="92" fill="url(#sceneSun)"/>']
    for i in range(12):
        a = 2 * math.pi * (i + 0.5) / 12
        p0 = (x + 44 * math.cos(a), y + 44 * math.sin(a))
        p1 = (x + 58 * math.cos(a), y + 58 * math.sin(a))
        out.append(f'<path d="M{pt(p0)} L{pt(p1)}" stroke="#ffd75a" stroke-width="6" '
                   'stroke-linecap="round"/>')
    out.append(f'<circle cx="{fmt(x)}" cy="{fmt(y)}" r="34" fill="#ffe066" stroke="#ffc93a" '
               'stroke-width="4"/>')
    return out


def _cloud(x, y, s):
    """A flat-bottomed cloud of overlapping puffs with a cool underside."""
    puffs = [(-46, 0, 22), (-20, -16, 28), (14, -22, 32), (44, -6, 24), (60, 4, 16), (-62, 6, 14)]
    under = [f'<circle cx="{fmt(x + dx * s)}" cy="{fmt(y + (dy + 5) * s)}" r="{fmt(r * s)}"/>'
             for dx, dy, r in puffs]
    top = [f'<circle cx="{fmt(x + dx * s)}" cy="{fmt(y + dy * s)}" r="{fmt(r * s)}"/>'
           for dx, dy, r in puffs]
    base = (f'<rect x="{fmt(x - 62 * s)}" y="{fmt(y - 4 * s)}" width="{fmt(124 * s)}" '
            f'height="{fmt(18 * s)}" rx="{fmt(9 * s)}"/>')
    return [f'<g fill="#d4e6f2">{"".join(under)}{base}</g>',
            f'<g fill="#ffffff">{"".join(top)}</g>']


def _bird(x, y, s):
    return (f'<path d="M{fmt(x - 9 * s)},{fmt(y - 3 * s)} Q{fmt(x - 4 * s)},{fmt(y - 7 * s)} '
            f'{fmt(x)},{fmt(y)} Q{fmt(x + 4 * s)},{fmt(y - 7 * s)} {fmt(x + 9 * s)},{fmt(y - 3 * s)}" '
            f'fill="none" stroke="#5a7a92" stroke-width="{fmt(2.4 * s)}" stroke-linecap="round" '
            'stroke-linejoin="round"/>')


def _tree(x, ground, s, colour):
    trunk = (f'<rect x="{fmt(x - 3 * s)}" y="{fmt(ground - 22 * s)}" width="{fmt(6 * s)}" '
             f'height="{fmt(24 * s)}" rx="{fmt(2 * s)}" fill="#8b6a55"/>')
    crown = (f'<ellipse cx="{fmt(x)}" cy="{fmt(ground - 34 * s)}" rx="{fmt(17 * s)}" '
             f'ry="{fmt(21 * s)}" fill="{colour}"/>')
    shine = (f'<ellipse cx="{fmt(x - 5 * s)}" cy="{fmt(ground - 41 * s)}" rx="{fmt(7 * s)}" '
             f'ry="{fmt(9 * s)}" fill="#ffffff" opacity="0.18"/>')
    return [trunk, crown, shine]


def _tiled(elements):
    """Copies of one slice's worth of elements for every slice and one beyond each end."""
    body = "".join(elements)
    return [f'<g transform="translate({W * j} 0)">{body}</g>' for j in range(-1, PANELS + 1)]


def _hedge(rnd):
    """Rounded bushes standing shoulder to shoulder along the floor line (one slice's worth)."""
    back, front, lights = [], [], []
    x = 0.0
    while x < W - 20:
        r = 20 + 8 * rnd.random()
        cy = FLOOR - 14 - 6 * rnd.random()
        back.append(f'<circle cx="{fmt(x)}" cy="{fmt(cy)}" r="{fmt(r)}"/>')
        front.append(f'<circle cx="{fmt(x + 14)}" cy="{fmt(cy + 9)}" r="{fmt(r * 0.8)}"/>')
        lights.append(f'<ellipse cx="{fmt(x - 5)}" cy="{fmt(cy - r * 0.45)}" rx="{fmt(r * 0.45)}" '
                      f'ry="{fmt(r * 0.25)}"/>')
        x += 30 + 6 * rnd.random()
    return [f'<g fill="{HEDGE_DARK}">{"".join(back)}</g>',
            f'<g fill="{HEDGE}">{"".join(front)}</g>',
            f'<g fill="{HEDGE_LIGHT}" opacity="0.8">{"".join(lights)}</g>']


def _tuft(x, y, s):
    blades = []
    for dx, lean, h in ((-5, -5, 11), (0, 1, 15), (5, 6, 10)):
        bx = x + dx * s
        blades.append(f'M{fmt(bx - 2 * s)},{fmt(y)} Q{fmt(bx + lean * 0.3 * s)},{fmt(y - h * 0.6 * s)} '
                      f'{fmt(bx + lean * s)},{fmt(y - h * s)} Q{fmt(bx + lean * 0.2 * s)},{fmt(y - h * 0.4 * s)} '
                      f'{fmt(bx + 2 * s)},{fmt(y)} Z')
    return " ".join(blades)


def _flower(x, y, s, colour):
    stem = (f'<path d="M{fmt(x)},{fmt(y)} L{fmt(x)},{fmt(y + 16 * s)}" stroke="{GRASS}" '
            f'stroke-width="{fmt(2.6 * s)}" stroke-linecap="round"/>')
    petals = "".join(
        f'<ellipse cx="{fmt(x + 6.5 * s * math.cos(a))}" cy="{fmt(y + 6.5 * s * math.sin(a))}" '
        f'rx="{fmt(5.6 * s)}" ry="{fmt(4.4 * s)}" '
        f'transform="rotate({fmt(math.degrees(a))} {fmt(x + 6.5 * s * math.cos(a))} '
        f'{fmt(y + 6.5 * s * math.sin(a))})"/>'
        for a in (2 * math.pi * i / 5 - math.pi / 2 for i in range(5)))
    return [stem,
            f'<g fill="{colour}" stroke="{_mix(colour, "#3b2720", 0.35)}" '
            f'stroke-width="{fmt(1.1 * s)}">{petals}</g>',
            f'<circle cx="{fmt(x)}" cy="{fmt(y)}" r="{fmt(3.6 * s)}" fill="#fff4b0" '
            f'stroke="#e2a93a" stroke-width="{fmt(1.0 * s)}"/>']


def _daisy(x, y, s):
    return (f'<circle cx="{fmt(x)}" cy="{fmt(y)}" r="{fmt(4.2 * s)}" fill="#ffffff" opacity="0.9"/>'
            f'<circle cx="{fmt(x)}" cy="{fmt(y)}" r="{fmt(1.6 * s)}" fill="#ffd24a"/>')


def _bunting(x0, colour):
    """One swag of flags hanging from the string between two slice edges."""
    x1 = x0 + W
    light = _mix(colour, "#ffffff", 0.55)
    edge = _mix(colour, "#3b2720", 0.3)

    def at(t):
        return (x0 + (x1 - x0) * t, STRING_Y + STRING_SAG * 4 * t * (1 - t))

    out = [f'<path d="M{fmt(x0)},{STRING_Y} Q{fmt((x0 + x1) / 2)},{fmt(STRING_Y + 2 * STRING_SAG)} '
           f'{fmt(x1)},{STRING_Y}" fill="none" stroke="{STRING}" stroke-width="2.4"/>']
    n = 9
    for i in range(n):
        t0, t1 = (i + 0.14) / n, (i + 0.86) / n
        a, b = at(t0), at(t1)
        mid = at((t0 + t1) / 2)
        tip = (mid[0], mid[1] + 40)
        fill = colour if i % 2 == 0 else light
        out.append(f'<path d="{poly_path([a, b, tip])}" fill="{fill}" stroke="{edge}" '
                   'stroke-width="1.6" stroke-linejoin="round"/>')
    return out


def _pin(x):
    return (f'<circle cx="{fmt(x)}" cy="{STRING_Y}" r="5.5" fill="#f4eee6" stroke="{STRING}" '
            'stroke-width="2"/>')


def strip(accents):
    """The whole garden, 4 canvases wide, with accents[j] in slice j."""
    rnd = random.Random(20)
    out = [_defs(),
           f'<rect x="0" y="0" width="{STRIP}" height="{FLOOR}" fill="url(#sceneSky)"/>']
    out += _sun(104, 150)
    for x, y, s in ((262, 176, 0.9), (590, 128, 1.05), (868, 214, 0.7), (1060, 150, 1.0),
                    (1330, 196, 0.85), (1530, 120, 0.75)):
        out += _cloud(x, y, s)
    out += [_bird(x, y, s) for x, y, s in ((172, 232, 1.0), (196, 218, 0.8), (700, 220, 0.9),
                                           (1180, 236, 1.0), (1216, 224, 0.75), (1450, 250, 0.9))]

    far = _ridge(318, ((14, 1, 0.4), (8, 2, 1.9), (4, 4, 0.6)))
    out.append(f'<path d="{poly_path(far + [(STRIP, FLOOR), (0, FLOOR)])}" fill="{FAR_HILLS}"/>')
    near = _ridge(352, ((11, 1, 2.2), (6, 3, 0.3), (3, 6, 1.1)))
    for x, s in ((40, 0.8), (318, 0.9), (346, 0.7), (612, 1.0), (905, 0.8), (1128, 0.9),
                 (1156, 0.7), (1428, 1.0), (1572, 0.8)):
        out += _tree(x, _height(near, x) + 6, s, HEDGE if s >= 0.9 else "#74b864")
    out.append(f'<path d="{poly_path(near + [(STRIP, FLOOR), (0, FLOOR)])}" fill="{HILLS}"/>')
    out.append(f'<path d="{poly_path([(x, y + 6) for x, y in near] + [(STRIP, FLOOR), (0, FLOOR)])}" '
               f'fill="{HILLS_LIGHT}" opacity="0.6"/>')
    out += _tiled(_hedge(rnd))
    out.append(f'<rect x="0" y="{FLOOR - 6}" width="{STRIP}" height="6" fill="{HEDGE_DARK}"/>')

    out.append(f'<rect x="0" y="{FLOOR}" width="{STRIP}" height="{H - FLOOR}" fill="url(#sceneMeadow)"/>')
    # a lighter patch of trodden grass where each character sits
    out += _tiled([f'<ellipse cx="222" cy="{GROUND - 4}" rx="205" ry="40" fill="url(#sceneClearing)"/>'])
    tufts = []
    for j in range(PANELS):
        x = W * j + 16 + 20 * rnd.random()
        while x < W * (j + 1) - 16:
            tufts.append(_tuft(x, FLOOR + 6 + 4 * rnd.random(), 0.9 + 0.3 * rnd.random()))
            x += 26 + 30 * rnd.random()
        x = W * j + 22 + 30 * rnd.random()
        while x < W * (j + 1) - 22:
            tufts.append(_tuft(x, H - 6 - 10 * rnd.random(), 1.2 + 0.4 * rnd.random()))
            x += 40 + 50 * rnd.random()
        for _ in range(18):
            out.append(_daisy(W * j + 10 + (W - 20) * rnd.random(),
                              FLOOR + 20 + (H - FLOOR - 24) * rnd.random() ** 0.8, 0.7 + 0.5 * rnd.random()))
    out.append(f'<path d="{" ".join(tufts)}" fill="{GRASS}"/>')

    for j, colour in enumerate(accents):
        x0 = W * j
        for dx, y, s in ((20, 424, 1.0), (44, 444, 0.8), (378, 430, 0.9), (24, 586, 1.25),
                         (212, 590, 1.1), (362, 584, 1.3)):
            out += _flower(x0 + dx, y, s, colour)
        out += _bunting(x0, colour)
    out += [_pin(W * j) for j in range(PANELS + 1)]
    return out


def backdrop(panel, accents=ACCENTS):
    """The garden as seen by slice `panel` (0..3), for the 400 x 600 canvas."""
    return (f'<g transform="translate({-W * panel} 0)">\n' + "\n".join(strip(accents)) + "\n</g>\n")


def flat_backdrop():
    """The flat view's own slice: the first one, strung with its accent."""
    return backdrop(0, (FLAT_ACCENT,) * PANELS)
