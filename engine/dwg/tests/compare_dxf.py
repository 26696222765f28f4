"""Compares the model space of two DXF files entity by entity: ours (from the DXF writer) and the one LibreDWG made
from our DWG of the same drawing. Geometry must agree within 0.001 mm; types, layers, text and styles exactly.
Usage: compare_dxf.py ours.dxf theirs.dxf; prints the differences and exits 1 when there are any."""
import math
import re
import sys

import ezdxf

TOL = 0.001


def unescape(text):
    """Text as a reader shows it: \\U+XXXX escapes (surrogate pairs included) decoded."""
    units = re.sub(r"\\U\+([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)
    return units.encode("utf-16", "surrogatepass").decode("utf-16")


def close(a, b):
    return all(abs(x - y) <= TOL for x, y in zip(a, b)) and len(a) == len(b)


def angle_close(a, b, radius):
    """Angles in degrees, compared as the distance they make on the circle."""
    d = (a - b + 180.0) % 360.0 - 180.0
    return abs(math.radians(d)) * max(radius, 1.0) <= TOL


def hatch_points(e):
    points = []
    for path in e.paths:
        if hasattr(path, "vertices"):
            points.extend((v[0], v[1]) for v in path.vertices)
        else:
            for edge in path.edges:
                if edge.type == ezdxf.entities.EdgeType.LINE:
                    points.extend([tuple(edge.start), tuple(edge.end)])
                elif edge.type == ezdxf.entities.EdgeType.SPLINE:
                    points.extend(tuple(p)[:2] for p in edge.control_points)
    return points


def dedupe(points):
    """Consecutive duplicates and a closing point equal to the first dropped (writers differ there)."""
    out = []
    for p in points:
        if not out or not close(out[-1], p):
            out.append(p)
    if len(out) > 1 and close(out[0], out[-1]):
        out.pop()
    return out


def describe(e):
    t = e.dxftype()
    if t == "LINE":
        return [tuple(e.dxf.start)[:2], tuple(e.dxf.end)[:2]]
    if t == "LWPOLYLINE":
        return [tuple(p) for p in e.get_points("xy")] + [("closed", e.closed)]
    if t == "SPLINE":
        return [tuple(p)[:2] for p in e.control_points] + [("knots",) + tuple(e.knots)]
    if t == "CIRCLE":
        return [tuple(e.dxf.center)[:2], (e.dxf.radius,)]
    if t == "ARC":
        return [tuple(e.dxf.center)[:2], (e.dxf.radius,)]
    if t == "ELLIPSE":
        return [tuple(e.dxf.center)[:2], tuple(e.dxf.major_axis)[:2], (e.dxf.ratio, e.dxf.start_param, e.dxf.end_param)]
    if t == "TEXT":
        return [tuple(e.dxf.insert)[:2], (e.dxf.height, e.dxf.get("width", 1.0))]
    if t == "HATCH":
        return dedupe(hatch_points(e))
    return []


def compare(ours, theirs):
    problems = []
    a = list(ezdxf.readfile(ours).modelspace())
    b = list(ezdxf.readfile(theirs).modelspace())
    if len(a) != len(b):
        problems.append(f"model space: {len(a)} entities in ours, {len(b)} in theirs")
    for i, (x, y) in enumerate(zip(a, b)):
        where = f"entity {i} ({x.dxftype()})"
        if x.dxftype() != y.dxftype():
            problems.append(f"{where}: type {y.dxftype()} in theirs")
            continue
        if unescape(x.dxf.layer).lower() != unescape(y.dxf.layer).lower():
            problems.append(f"{where}: layer {x.dxf.layer!r} vs {y.dxf.layer!r}")
        gx, gy = describe(x), describe(y)
        if len(gx) != len(gy):
            problems.append(f"{where}: {len(gx)} vs {len(gy)} geometry items: {gx} / {gy}")
            continue
        for p, q in zip(gx, gy):
            if isinstance(p[0], str):
                if p[0] == "closed" and p[1] != q[1]:
                    problems.append(f"{where}: closed {p[1]} vs {q[1]}")
                elif p[0] == "knots" and not close(p[1:], q[1:]):
                    problems.append(f"{where}: knots {p[1:]} vs {q[1:]}")
            elif not close(p, q):
                problems.append(f"{where}: {p} vs {q}")
        if x.dxftype() == "ARC":
            for name in ("start_angle", "end_angle"):
                if not angle_close(x.dxf.get(name), y.dxf.get(name), x.dxf.radius):
                    problems.append(f"{where}: {name} {x.dxf.get(name)} vs {y.dxf.get(name)}")
        if x.dxftype() == "TEXT":
            if unescape(x.dxf.text) != unescape(y.dxf.text):
                problems.append(f"{where}: text {x.dxf.text!r} vs {y.dxf.text!r}")
            if unescape(x.dxf.style).lower() != unescape(y.dxf.style).lower():
                problems.append(f"{where}: style {x.dxf.style!r} vs {y.dxf.style!r}")
            if not angle_close(x.dxf.get("rotation", 0.0), y.dxf.get("rotation", 0.0), x.dxf.height):
                problems.append(f"{where}: rotation {x.dxf.get('rotation', 0.0)} vs {y.dxf.get('rotation', 0.0)}")
        if x.dxf.get("color", 256) != y.dxf.get("color", 256):
            problems.append(f"{where}: colour {x.dxf.get('color', 256)} vs {y.dxf.get('color', 256)}")
    return problems


if __name__ == "__main__":
    found = compare(sys.argv[1], sys.argv[2])
    for line in found[:50]:
        print(line)
    sys.exit(1 if found else 0)
