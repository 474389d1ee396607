"""Geometry helpers: Bezier outlines, fur tufts along an outline, SVG path text."""

import math


def fmt(v):
    """Short, stable number text so regenerated SVGs diff cleanly."""
    s = f"{v:.2f}".rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


def pt(p):
    return f"{fmt(p[0])},{fmt(p[1])}"


def cubic_path(start, segments, close=True):
    """Path text for a start point followed by (c1, c2, end) cubic segments."""
    parts = [f"M{pt(start)}"]
    for c1, c2, end in segments:
        parts.append(f"C{pt(c1)} {pt(c2)} {pt(end)}")
    if close:
        parts.append("Z")
    return " ".join(parts)


def poly_path(points, close=True):
    parts = [f"M{pt(points[0])}"] + [f"L{pt(p)}" for p in points[1:]]
    if close:
        parts.append("Z")
    return " ".join(parts)


def _cubic_at(p0, p1, p2, p3, t):
    u = 1.0 - t
    a, b, c, d = u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t
    return (a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
            a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1])


def sample_cubics(start, segments, per_segment=80):
    """Dense closed polyline along the cubic outline (last point not repeated)."""
    pts = [start]
    cur = start
    for c1, c2, end in segments:
        for i in range(1, per_segment + 1):
            pts.append(_cubic_at(cur, c1, c2, end, i / per_segment))
        cur = end
    if math.dist(pts[0], pts[-1]) < 1e-6:
        pts.pop()
    return pts


def resample(points, spacing):
    """Evenly spaced closed polyline, so tufts get a uniform size along it."""
    closed = points + [points[0]]
    lengths = [0.0]
    for a, b in zip(closed, closed[1:]):
        lengths.append(lengths[-1] + math.dist(a, b))
    total = lengths[-1]
    n = max(8, int(total / spacing))
    out = []
    j = 0
    for i in range(n):
        s = total * i / n
        while lengths[j + 1] < s:
            j += 1
        seg = lengths[j + 1] - lengths[j]
        t = 0.0 if seg == 0 else (s - lengths[j]) / seg
        a, b = closed[j], closed[j + 1]
        out.append((a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t))
    return out


def _outward_normals(points):
    n = len(points)
    area = 0.0
    for i in range(n):
        x0, y0 = points[i]
        x1, y1 = points[(i + 1) % n]
        area += x0 * y1 - x1 * y0
    # In y-down coordinates a positive shoelace sum means clockwise on screen.
    sign = 1.0 if area > 0 else -1.0
    normals, tangents = [], []
    for i in range(n):
        ax, ay = points[i - 1]
        bx, by = points[(i + 1) % n]
        tx, ty = bx - ax, by - ay
        ln = math.hypot(tx, ty) or 1.0
        tx, ty = tx / ln, ty / ln
        tangents.append((tx, ty))
        normals.append((ty * -sign, tx * sign))
    return normals, tangents


def _tuft_profile(u, sharp):
    """0 at both ends, 1 at the tip near the far end: a swept lock of fur."""
    peak = 0.78
    if u < peak:
        return math.sin(0.5 * math.pi * u / peak) ** sharp
    return math.cos(0.5 * math.pi * (u - peak) / (1.0 - peak)) ** 0.7


def tufted(points, tufts, spacing=1.2):
    """Push the outline outwards into fur tufts.

    tufts: list of (start, end, count, height, lean) with start/end as fractions of
    the outline length (end may wrap past 1), lean the forward sweep of each tip
    relative to its height (negative sweeps backwards).
    """
    pts = resample(points, spacing)
    n = len(pts)
    normals, tangents = _outward_normals(pts)
    disp = [(0.0, 0.0)] * n
    for start, end, count, height, lean in tufts:
        span = end - start
        for i in range(n):
            f = i / n
            rel = (f - start) % 1.0
            if rel >= span:
                continue
            local = rel / span * count
            k = int(local)
            u = local - k
            # vary the locks a little so a row of tufts does not look stamped
            h = height * (0.8 + 0.4 * ((k * 7919) % 11) / 10.0)
            # locks hang the way they lean: mirror the profile for backward sweeps
            a = h * _tuft_profile(u if lean >= 0 else 1.0 - u, 1.3)
            nx, ny = normals[i]
            tx, ty = tangents[i]
            disp[i] = (nx * a + tx * a * lean, ny * a + ty * a * lean)
    return [(p[0] + d[0], p[1] + d[1]) for p, d in zip(pts, disp)]


def rotate(p, angle_deg, origin):
    a = math.radians(angle_deg)
    ox, oy = origin
    x, y = p[0] - ox, p[1] - oy
    return (ox + x * math.cos(a) - y * math.sin(a), oy + x * math.sin(a) + y * math.cos(a))
