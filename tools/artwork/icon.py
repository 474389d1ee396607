"""The application icon: the golden guinea pig's head and shoulders in a square.

A round meadow-green badge sits behind the head; the body is cut along the badge's lower rim
while the ears may stand out above it, which keeps the face large at 48 pixels.
"""

from coats import CHARACTERS
from figure import Figure
from shapes import fmt

# Square crop of the 400 x 600 figure canvas around the head (x, y, side).
CROP = (12.0, 236.0, 316.0)
BADGE = "#cfe8b8"
BADGE_RIM = "#8fbf74"


def render_icon_svg():
    x, y, side = CROP
    cx, cy, r = x + side / 2, y + side / 2, side / 2 - 6
    fig = Figure(CHARACTERS[0], 0)
    fig.defs.append(
        f'<clipPath id="badge"><circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}"/>'
        f'<rect x="{fmt(x)}" y="{fmt(y)}" width="{fmt(side)}" height="{fmt(side / 2)}"/></clipPath>')
    backdrop = (f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}" fill="{BADGE}" '
                f'stroke="{BADGE_RIM}" stroke-width="5"/>\n')
    attrs = (f'viewBox="{fmt(x)} {fmt(y)} {fmt(side)} {fmt(side)}" width="{fmt(side)}" '
             f'height="{fmt(side)}"')
    return fig.document(attrs, backdrop, clip_id="badge")
