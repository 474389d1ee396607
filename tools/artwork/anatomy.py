"""Where the parts of a guinea pig sit on the 400 x 600 canvas.

The face looks at the viewer while the loaf of the body reaches back to the right,
so the rump (and a Dutch's coloured rear) stays visible. All characters share this
skeleton; a coat may nudge a few proportions through `Build`.
"""

from dataclasses import dataclass

W, H = 400, 600
GROUND = 557


@dataclass(frozen=True)
class Build:
    hx: float = 166.0          # head centre x
    head_top: float = 286.0
    head_bottom: float = 492.0
    head_half: float = 116.0   # half the head's width at the cheeks
    body_right: float = 380.0  # back of the rump
    body_top: float = 330.0    # highest point of the back
    ear_size: float = 1.0
    ear_droop: float = 0.0     # extra degrees the ears hang outwards
    eye_r: float = 18.5

    # derived anchor points -------------------------------------------------
    @property
    def eye_y(self):
        return self.head_top + 89

    @property
    def eye_dx(self):
        return 46.0

    @property
    def nose_y(self):
        return self.head_top + 124

    @property
    def lip_y(self):
        # foot of the line that splits the upper lip
        return self.head_top + 141


def head_outline(b: Build):
    x, t, bt, hw = b.hx, b.head_top, b.head_bottom, b.head_half
    mid = t + 0.51 * (bt - t)
    low = t + 0.81 * (bt - t)
    start = (x, t)
    segs = [
        ((x + 0.55 * hw, t), (x + 0.97 * hw, t + 0.2 * (bt - t)), (x + hw, mid)),
        ((x + 1.03 * hw, low), (x + 0.62 * hw, bt), (x, bt)),
        ((x - 0.62 * hw, bt), (x - 1.03 * hw, low), (x - hw, mid)),
        ((x - 0.97 * hw, t + 0.2 * (bt - t)), (x - 0.55 * hw, t), (x, t)),
    ]
    return start, segs


def body_outline(b: Build):
    r, top, g = b.body_right, b.body_top, GROUND
    front = b.hx - 96
    start = (front, 470)
    segs = [
        ((front, 385), (front + 70, top + 4), (front + 160, top)),
        ((r - 66, top - 4), (r, top + 42), (r, top + 126)),
        ((r, g - 36), (r - 22, g), (r - 86, g)),
        ((r - 140, g), (front + 110, g), (front + 60, g)),
        ((front + 20, g), (front, g - 28), (front, 470)),
    ]
    return start, segs


def ear_outline(size):
    """A drooping petal for the left ear: base at the origin, hanging outwards (-x)."""
    s = size
    start = (6 * s, -17 * s)
    segs = [
        ((-14 * s, -31 * s), (-47 * s, -30 * s), (-58 * s, -10 * s)),
        ((-65 * s, 5 * s), (-56 * s, 22 * s), (-40 * s, 23 * s)),
        ((-24 * s, 25 * s), (-6 * s, 21 * s), (6 * s, 15 * s)),
        ((10 * s, 5 * s), (10 * s, -7 * s), (6 * s, -17 * s)),
    ]
    return start, segs


def ear_inner(size):
    s = size
    start = (2 * s, -8 * s)
    segs = [
        ((-14 * s, -19 * s), (-40 * s, -19 * s), (-49 * s, -5 * s)),
        ((-55 * s, 6 * s), (-47 * s, 16 * s), (-35 * s, 16 * s)),
        ((-21 * s, 17 * s), (-6 * s, 13 * s), (2 * s, 9 * s)),
        ((5 * s, 3 * s), (5 * s, -3 * s), (2 * s, -8 * s)),
    ]
    return start, segs


def ear_fold(size):
    """The upper rim of the petal curling forward over the pink."""
    s = size
    start = (4 * s, -19 * s)
    segs = [
        ((-16 * s, -31 * s), (-46 * s, -28 * s), (-56 * s, -9 * s)),
        ((-42 * s, -16 * s), (-20 * s, -16 * s), (3 * s, -7 * s)),
        ((4 * s, -11 * s), (4 * s, -15 * s), (4 * s, -19 * s)),
    ]
    return start, segs


def ear_bases(b: Build):
    """(base point, droop in degrees, mirror) for the left and the right ear."""
    dx = 0.80 * b.head_half
    y = b.head_top + 40
    a = -24 - b.ear_droop
    return [((b.hx - dx, y), a, 1), ((b.hx + dx, y), a, -1)]


def feet(b: Build):
    """Centres of the tiny feet: two front paws under the chest, one hind foot."""
    return [(b.hx - 36, GROUND + 1), (b.hx + 36, GROUND + 1), (b.body_right - 58, GROUND + 1)]
