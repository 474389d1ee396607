"""The application icon: the golden guinea pig standing whole inside a round badge.

The badge is a small window onto the garden (sky above, meadow below). The whole figure fits
inside it with room to spare, and the badge keeps clear of the image border, so no size shows
anything cut off. At 16 and 24 pixels a bolder drawing is used: thick outline, larger eyes,
no whiskers (which would only grey the face there).
"""

import dataclasses

from coats import CHARACTERS
from figure import Figure
from scene import HEDGE_DARK, MEADOW, SKY
from shapes import fmt

# The smallest circle around the standing figure (ears, rump and feet), in canvas units.
FIGURE_CENTRE = (198.0, 440.0)
FIGURE_REACH = 216.0
GAP = 10.0               # between the figure and the badge's rim
RIM = 10.0               # rim stroke width
BORDER = 1.3 / 16        # clear space at each image edge, as a share of the side: > 1 px at 16 px
HORIZON = 452.0          # where the badge's sky meets its meadow (behind the body)

SMALL_PIXELS = 24        # this size and below get the bold drawing
BOLD_OUTLINE = 20.0
BOLD_EYE_SCALE = 1.7
BOLD_RIM = 30.0


def _badge(cx, cy, r, rim):
    return (
        '<defs>'
        f'<linearGradient id="iconSky" x1="0" y1="{fmt(cy - r)}" x2="0" y2="{fmt(HORIZON)}" '
        f'gradientUnits="userSpaceOnUse"><stop offset="0" stop-color="{SKY[0]}"/>'
        f'<stop offset="1" stop-color="{SKY[2]}"/></linearGradient>'
        f'<linearGradient id="iconMeadow" x1="0" y1="{fmt(HORIZON)}" x2="0" y2="{fmt(cy + r)}" '
        f'gradientUnits="userSpaceOnUse"><stop offset="0" stop-color="{MEADOW[0]}"/>'
        f'<stop offset="1" stop-color="{MEADOW[2]}"/></linearGradient>'
        f'<clipPath id="iconBadge"><circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}"/></clipPath>'
        '</defs>\n'
        f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}" fill="url(#iconSky)"/>\n'
        f'<rect x="{fmt(cx - r)}" y="{fmt(HORIZON)}" width="{fmt(2 * r)}" height="{fmt(cy + r - HORIZON)}" '
        'fill="url(#iconMeadow)" clip-path="url(#iconBadge)"/>\n'
        f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}" fill="none" stroke="{HEDGE_DARK}" '
        f'stroke-width="{fmt(rim)}"/>\n')


def render_icon_svg(pixels=None):
    """The icon's SVG; `pixels` (the size it will be rendered at) picks the bold drawing for
    small sizes, None gives the scalable one."""
    cx, cy = FIGURE_CENTRE
    bold = pixels is not None and pixels <= SMALL_PIXELS
    rim = BOLD_RIM if bold else RIM
    r = FIGURE_REACH + GAP + rim / 2          # the centre line of the badge's rim
    side = 2 * (r + rim / 2) / (1 - 2 * BORDER)
    coat = CHARACTERS[0]
    if bold:
        build = dataclasses.replace(coat.build, eye_r=coat.build.eye_r * BOLD_EYE_SCALE)
        fig = Figure(dataclasses.replace(coat, build=build), 0, outline_w=BOLD_OUTLINE, whiskers=False)
    else:
        fig = Figure(coat, 0)
    attrs = (f'viewBox="{fmt(cx - side / 2)} {fmt(cy - side / 2)} {fmt(side)} {fmt(side)}" '
             f'width="{fmt(side)}" height="{fmt(side)}"')
    return fig.document(attrs, _badge(cx, cy, r, rim))
