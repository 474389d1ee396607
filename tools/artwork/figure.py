"""Draws one guinea pig in one mouth frame as an SVG document.

Frames: 0 rest, 1 rest with the nose twitched and whiskers up, 2..5 the mouth opening
wider. Eyes, ears and body never change, so only the mouth seems to move.
"""


import anatomy
from anatomy import GROUND, H, W
from shapes import cubic_path, fmt, poly_path, pt, rotate, sample_cubics, tufted

OUTLINE_W = 4.2
DETAIL_W = 2.6
SHADE = "#4a2c1e"

# mouth depth (canvas units) and front-teeth length per frame
MOUTH_DEPTH = [0, 0, 4.5, 12, 21, 32]
TEETH_LEN = [0, 0, 0, 8, 11, 14]


def outline_path(start, segs, tufts):
    if not tufts:
        return cubic_path(start, segs)
    return poly_path(tufted(sample_cubics(start, segs), tufts))


def _ellipse(cx, cy, rx, ry, attrs):
    return f'<ellipse cx="{fmt(cx)}" cy="{fmt(cy)}" rx="{fmt(rx)}" ry="{fmt(ry)}" {attrs}/>'


def _op(v):
    return f'opacity="{fmt(v)}"'


def _stroke(color, width, extra="", fill="none"):
    return (f'fill="{fill}" stroke="{color}" stroke-width="{fmt(width)}" '
            f'stroke-linecap="round" stroke-linejoin="round" {extra}').strip()


class Figure:
    def __init__(self, coat, frame, outline_w=OUTLINE_W, whiskers=True):
        self.outline_w = outline_w    # heavier for a small icon, where 4.2 units would vanish
        self.show_whiskers = whiskers
        self.c = coat
        self.b = coat.build
        self.frame = frame
        self.defs = []
        self.out = []

    # ------------------------------------------------------------------ helpers
    def _shaded_part(self, name, d, fill, patches, marks, highlight, lower_shade):
        c = self.c
        self.defs.append(f'<clipPath id="{name}Clip"><path d="{d}"/></clipPath>')
        self.out.append(f'<path d="{d}" fill="{fill}"/>')
        self.out.append(f'<g clip-path="url(#{name}Clip)">')
        for pd, color in patches:
            self.out.append(f'<path d="{pd}" fill="{color}"/>')
        self.out.extend(marks)
        hx, hy, hr = highlight
        self.out.append(_ellipse(hx, hy, hr, hr * 0.8, f'fill="url(#hi)" opacity="{fmt(c.gloss)}"'))
        top, strength = lower_shade
        self.out.append(f'<rect x="0" y="{fmt(top)}" width="{W}" height="{fmt(GROUND + 20 - top)}" '
                        f'fill="url(#belly)" opacity="{fmt(strength)}"/>')
        if name == "body":
            hs, hsegs = anatomy.head_outline(self.b)
            self.out.append(f'<path d="{cubic_path(hs, hsegs)}" transform="translate(7 9)" '
                            f'fill="{c.shade}" opacity="0.28" filter="url(#blur5)"/>')
        self.out.append('</g>')
        self.out.append(f'<path d="{d}" {_stroke(c.outline, self.outline_w)}/>')

    def _defs_common(self):
        self.defs.append(
            '<radialGradient id="hi"><stop offset="0" stop-color="#fff" stop-opacity="0.75"/>'
            '<stop offset="0.55" stop-color="#fff" stop-opacity="0.25"/>'
            '<stop offset="1" stop-color="#fff" stop-opacity="0"/></radialGradient>')
        self.defs.append(
            f'<linearGradient id="belly" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{self.c.shade}" stop-opacity="0"/>'
            f'<stop offset="1" stop-color="{self.c.shade}" stop-opacity="0.55"/></linearGradient>')
        for r in (1.2, 2, 3, 5, 7):
            self.defs.append(f'<filter id="blur{fmt(r).replace(".", "_")}" x="-50%" y="-50%" '
                             f'width="200%" height="200%"><feGaussianBlur stdDeviation="{fmt(r)}"/>'
                             f'</filter>')

    # ------------------------------------------------------------------ parts
    def ground_shadow(self):
        b = self.b
        left, right = b.hx - 100, b.body_right + 4
        self.out.append(_ellipse((left + right) / 2, GROUND + 4, (right - left) / 2, 11,
                                 f'fill="{SHADE}" opacity="0.22" filter="url(#blur7)"'))

    def body(self):
        c, b = self.c, self.b
        start, segs = anatomy.body_outline(b)
        d = outline_path(start, segs, c.body_tufts)
        self._shaded_part("body", d, c.body_fur, c.body_patches(b), c.body_marks(b),
                          (b.body_right - 110, b.body_top + 30, 120), (b.body_top + 100, c.belly))

    def ears(self):
        c = self.c
        s = self.b.ear_size
        os_, osegs = anatomy.ear_outline(s)
        is_, isegs = anatomy.ear_inner(s)
        fs, fsegs = anatomy.ear_fold(s)
        for i, (base, angle, mirror) in enumerate(anatomy.ear_bases(self.b)):
            color = c.ear[i] if isinstance(c.ear, tuple) else c.ear
            self.out.append(f'<g transform="translate({pt(base)}) scale({mirror} 1) '
                            f'rotate({fmt(angle)})">')
            outer = cubic_path(os_, osegs)
            self.out.append(f'<path d="{outer}" fill="{color}"/>')
            self.out.append(f'<path d="{cubic_path(is_, isegs)}" fill="url(#earInner)"/>')
            self.out.append(f'<path d="{cubic_path(fs, fsegs)}" fill="{color}"/>')
            self.out.append(f'<path d="M{fmt(3 * s)},{fmt(-7 * s)} C{fmt(-20 * s)},{fmt(-16 * s)} '
                            f'{fmt(-40 * s)},{fmt(-15 * s)} {fmt(-51 * s)},{fmt(-9 * s)}" '
                            f'{_stroke(c.ear_fold, 2.0 * s, _op(0.6))}/>')
            self.out.append(f'<path d="{outer}" {_stroke(c.outline, self.outline_w)}/>')
            self.out.append('</g>')
        self.defs.append(
            f'<radialGradient id="earInner" cx="0.35" cy="0.6" r="0.75">'
            f'<stop offset="0" stop-color="{c.ear_inner_light}"/>'
            f'<stop offset="1" stop-color="{c.ear_inner}"/></radialGradient>')

    def head(self):
        c, b = self.c, self.b
        start, segs = anatomy.head_outline(b)
        d = outline_path(start, segs, c.head_tufts)
        self._shaded_part("head", d, c.head_fur, c.head_patches(b), c.head_marks(b),
                          (b.hx - 28, b.head_top + 52, 95), (b.head_bottom - 50, 0.6 * c.belly))

    def eyes(self):
        c, b = self.c, self.b
        r = b.eye_r
        if c.ruby_eyes:
            inner, outer = "#d2405e", "#5c0b22"
        else:
            inner, outer = "#5b3b2e", "#140c0a"
        self.defs.append(
            f'<radialGradient id="iris" cx="0.55" cy="0.62" r="0.6">'
            f'<stop offset="0" stop-color="{inner}"/><stop offset="1" stop-color="{outer}"/>'
            f'</radialGradient>')
        for side in (-1, 1):
            x, y = b.hx + side * b.eye_dx, b.eye_y
            rim = c.eye_rim[(side + 1) // 2] if isinstance(c.eye_rim, tuple) else c.eye_rim
            if rim:
                self.out.append(_ellipse(x, y, r + 3, r + 3, f'fill="{rim}" filter="url(#blur1_2)"'))
            self.out.append(_ellipse(x, y, r, r, 'fill="url(#iris)"'))
            self.out.append(_ellipse(x - 6, y - 7, 6.6, 6.2, 'fill="#fff"'))
            self.out.append(_ellipse(x + 6.5, y + 6.5, 2.8, 2.8, 'fill="#fff" opacity="0.9"'))

    def blush(self):
        b = self.b
        for side in (-1, 1):
            self.out.append(_ellipse(b.hx + side * 76, b.eye_y + 34, 17, 9,
                                     f'fill="{self.c.blush}" opacity="{fmt(self.c.blush_opacity)}" '
                                     f'filter="url(#blur3)"'))

    def _mouth_geometry(self):
        b, k = self.b, self.frame
        dep = MOUTH_DEPTH[k]
        u = (b.hx, b.lip_y)
        w = 18 + 0.32 * dep
        cy = b.lip_y + 5 + 0.12 * dep
        left, right = (b.hx - w, cy), (b.hx + w, cy)
        return dep, u, left, right

    def muzzle(self):
        c, b = self.c, self.b
        dep, u, left, right = self._mouth_geometry()
        for side in (-1, 1):
            self.out.append(_ellipse(b.hx + side * (18 + 0.1 * dep), b.lip_y + 4 + 0.1 * dep,
                                     24 + 0.08 * dep, 18, f'fill="{c.muzzle}"'))

    def mouth(self):
        c, b = self.c, self.b
        dep, u, left, right = self._mouth_geometry()
        lx, ly = left
        rx, ry = right
        ux, uy = u
        upper = (f"M{pt(left)} C{fmt(lx + 5)},{fmt(ly + 6)} {fmt(ux - 1.5)},{fmt(uy + 7)} {pt(u)} "
                 f"C{fmt(ux + 1.5)},{fmt(uy + 7)} {fmt(rx - 5)},{fmt(ry + 6)} {pt(right)}")
        if dep > 0:
            jaw = f"C{fmt(rx + 1)},{fmt(ry + 1.3 * dep)} {fmt(lx - 1)},{fmt(ly + 1.3 * dep)} {pt(left)} Z"
            inside = f"{upper} {jaw}"
            self.defs.append(f'<clipPath id="mouthClip"><path d="{inside}"/></clipPath>')
            self.out.append(f'<path d="{inside}" fill="#5e1a26"/>')
            self.out.append('<g clip-path="url(#mouthClip)">')
            self.out.append(_ellipse(ux, ly + 0.98 * dep, 0.62 * (rx - lx) / 2, 0.5 * dep,
                                     'fill="#e8798a"'))
            tl = TEETH_LEN[self.frame]
            if tl:
                for x0 in (ux - 8, ux + 0.8):
                    self.out.append(
                        f'<rect x="{fmt(x0)}" y="{fmt(uy - 2)}" width="7.2" height="{fmt(tl + 2)}" '
                        f'rx="2.6" fill="#fffdf6" stroke="#c9b59f" stroke-width="1.1"/>')
            self.out.append('</g>')
            self.out.append(f'<path d="{inside}" {_stroke(c.lip, DETAIL_W)}/>')
        else:
            self.out.append(f'<path d="{upper}" {_stroke(c.lip, DETAIL_W)}/>')
        # the split of the upper lip, from the nose down
        ny = self._nose_offset()[1]
        self.out.append(f'<path d="M{fmt(ux)},{fmt(b.nose_y + 7 + ny)} L{pt(u)}" '
                        f'{_stroke(c.lip, DETAIL_W)}/>')
        # little chin under the mouth
        chin_y = ly + 0.98 * dep + 9
        self.out.append(f'<path d="M{fmt(ux - 8)},{fmt(chin_y)} Q{fmt(ux)},{fmt(chin_y + 4)} '
                        f'{fmt(ux + 8)},{fmt(chin_y)}" {_stroke(c.lip, 2.0, _op(0.45))}/>')

    def _nose_offset(self):
        # frame 1 twitches the nose up a touch
        return (0.0, -2.2) if self.frame == 1 else (0.0, 0.0)

    def nose(self):
        c, b = self.c, self.b
        dx, dy = self._nose_offset()
        x, y = b.hx + dx, b.nose_y + dy
        sx = 1.08 if self.frame == 1 else 1.0
        d = (f"M{fmt(x - 12 * sx)},{fmt(y - 4)} C{fmt(x - 12 * sx)},{fmt(y - 11)} "
             f"{fmt(x + 12 * sx)},{fmt(y - 11)} {fmt(x + 12 * sx)},{fmt(y - 4)} "
             f"C{fmt(x + 12 * sx)},{fmt(y + 2)} {fmt(x + 4)},{fmt(y + 7)} {fmt(x)},{fmt(y + 8)} "
             f"C{fmt(x - 4)},{fmt(y + 7)} {fmt(x - 12 * sx)},{fmt(y + 2)} "
             f"{fmt(x - 12 * sx)},{fmt(y - 4)} Z")
        self.out.append(f'<path d="{d}" {_stroke(c.lip, DETAIL_W, fill=c.nose)}/>')
        self.out.append(_ellipse(x - 4, y - 5, 4, 2.2, 'fill="#fff" opacity="0.7"'))

    def whiskers(self):
        c, b = self.c, self.b
        k = self.frame
        dep = MOUTH_DEPTH[k]
        lift = 9.0 if k == 1 else -1.6 * max(0, k - 1)
        for side in (-1, 1):
            for i, (ang, ln) in enumerate(((-14, 40), (0, 45), (13, 39))):
                root = (b.hx + side * (31 + 0.1 * dep), b.lip_y - 3 + 6 * i + 0.1 * dep)
                a = ang - lift
                tip = (root[0] + side * ln, root[1])
                tip = rotate(tip, a * side, root)
                mid = ((root[0] + tip[0]) / 2, (root[1] + tip[1]) / 2 - 3)
                self.out.append(f'<path d="M{pt(root)} Q{pt(mid)} {pt(tip)}" '
                                f'{_stroke(c.whisker, 1.7, _op(0.8))}/>')

    def feet(self):
        c = self.c
        for x, y in anatomy.feet(self.b):
            self.out.append(_ellipse(x, y, 15, 8.5, _stroke(c.outline, 3.2, fill=c.foot)))
            for t in (-5, 0, 5):
                self.out.append(f'<path d="M{fmt(x + t)},{fmt(y + 2)} L{fmt(x + t)},{fmt(y + 7)}" '
                                f'{_stroke(c.foot_line, 1.6)}/>')

    # ------------------------------------------------------------------ document
    def svg(self, backdrop=""):
        return self.document(f'viewBox="0 0 {W} {H}" width="{W}" height="{H}" '
                             'preserveAspectRatio="none"', backdrop)

    def document(self, frame_attrs, backdrop="", clip_id=None):
        """The figure inside an <svg> with `frame_attrs`; `backdrop` goes underneath and, with
        `clip_id`, the figure is clipped by that clip path (a clipPath added to `self.defs`)."""
        self._defs_common()
        self.ground_shadow()
        self.body()
        self.ears()
        self.head()
        self.blush()
        self.eyes()
        self.muzzle()
        self.out.extend(self.c.muzzle_marks(self.b))
        self.mouth()
        self.nose()
        if self.show_whiskers:
            self.whiskers()
        self.out.extend(self.c.extras(self.b))
        self.feet()
        body = "\n".join(self.out)
        if clip_id:
            body = f'<g clip-path="url(#{clip_id})">\n{body}\n</g>'
        return (f'<svg xmlns="http://www.w3.org/2000/svg" {frame_attrs}>\n<defs>\n' +
                "\n".join(self.defs) + "\n</defs>\n" + backdrop + body + "\n</svg>\n")


def render_svg(coat, frame, backdrop=""):
    return Figure(coat, frame).svg(backdrop)
