#!/usr/bin/python3
"""Writes the sample drawings of this folder: small vector PDFs with lines, arcs, circles, text, fills and layers.

Run it from anywhere: /usr/bin/python3 examples/make_examples.py
"""
import math
import os

KAPPA = 0.5522847498  # control distance of a quarter circle drawn as one cubic Bezier


def n(v):
    return ("%.3f" % v).rstrip("0").rstrip(".")


def circle(cx, cy, r):
    k = KAPPA * r
    return (f"{n(cx + r)} {n(cy)} m "
            f"{n(cx + r)} {n(cy + k)} {n(cx + k)} {n(cy + r)} {n(cx)} {n(cy + r)} c "
            f"{n(cx - k)} {n(cy + r)} {n(cx - r)} {n(cy + k)} {n(cx - r)} {n(cy)} c "
            f"{n(cx - r)} {n(cy - k)} {n(cx - k)} {n(cy - r)} {n(cx)} {n(cy - r)} c "
            f"{n(cx + k)} {n(cy - r)} {n(cx + r)} {n(cy - k)} {n(cx + r)} {n(cy)} c h ")


def arc(cx, cy, r, a0, a1, move=True):
    """A circular arc from angle a0 to a1 (degrees, counter-clockwise), in cubic pieces of at most 30 degrees."""
    out = ""
    steps = max(1, math.ceil(abs(a1 - a0) / 30))
    step = math.radians(a1 - a0) / steps
    k = 4 / 3 * math.tan(step / 4)
    a = math.radians(a0)
    if move:
        out += f"{n(cx + r * math.cos(a))} {n(cy + r * math.sin(a))} m "
    for _ in range(steps):
        b = a + step
        out += (f"{n(cx + r * (math.cos(a) - k * math.sin(a)))} {n(cy + r * (math.sin(a) + k * math.cos(a)))} "
                f"{n(cx + r * (math.cos(b) + k * math.sin(b)))} {n(cy + r * (math.sin(b) - k * math.cos(b)))} "
                f"{n(cx + r * math.cos(b))} {n(cy + r * math.sin(b))} c ")
        a = b
    return out


def text(x, y, size, s, font="F1", angle=0):
    c, si = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    return f"BT /{font} {n(size)} Tf {n(c)} {n(si)} {n(-si)} {n(c)} {n(x)} {n(y)} Tm ({s}) Tj ET "


def pdf(pages, layers=()):
    """pages: list of (content, width, height, rotate); layers: list of (name, on)."""
    objects = []

    def add(body):
        objects.append(body)
        return len(objects)

    catalog = add(None)
    tree = add(None)
    f1 = add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    f2 = add("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>")
    ocgs = [add(f"<< /Type /OCG /Name ({name}) >>") for name, _ in layers]
    props = " ".join(f"/oc{i + 1} {o} 0 R" for i, o in enumerate(ocgs))
    resources = f"<< /Font << /F1 {f1} 0 R /F2 {f2} 0 R >> /Properties << {props} >> >>"
    kids = []
    for content, width, height, rotate in pages:
        data = content.encode("latin-1")
        stream = add(f"<< /Length {len(data)} >>\nstream\n".encode("latin-1") + data + b"\nendstream")
        rot = f" /Rotate {rotate}" if rotate else ""
        kids.append(add(f"<< /Type /Page /Parent {tree} 0 R /MediaBox [0 0 {n(width)} {n(height)}]{rot} "
                        f"/Resources {resources} /Contents {stream} 0 R >>"))
    objects[tree - 1] = f"<< /Type /Pages /Kids [{' '.join(f'{k} 0 R' for k in kids)}] /Count {len(kids)} >>"
    root = f"<< /Type /Catalog /Pages {tree} 0 R"
    if layers:
        refs = " ".join(f"{o} 0 R" for o in ocgs)
        off = " ".join(f"{o} 0 R" for o, (_, on) in zip(ocgs, layers) if not on)
        root += f" /OCProperties << /OCGs [{refs}] /D << /Order [{refs}] /OFF [{off}] >> >>"
    objects[catalog - 1] = root + " >>"

    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        body = body if isinstance(body, bytes) else body.encode("latin-1")
        out += f"{i + 1} 0 obj\n".encode() + body + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for o in offsets:
        out += f"{o:010d} 00000 n \n".encode()
    out += f"trailer\n<< /Size {len(objects) + 1} /Root {catalog} 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
    return bytes(out)


def title_block(x, y, title, number, scale):
    s = "0 G 0.7 w "
    s += f"{x} {y} 220 50 re S {x} {y + 25} m {x + 220} {y + 25} l S {x + 150} {y} m {x + 150} {y + 25} l S "
    s += "0 g " + text(x + 6, y + 32, 11, title) + text(x + 6, y + 8, 8, number) + text(x + 156, y + 8, 8, scale)
    return s


def flange():
    """A flange plate: outline with rounded corners, bolt circle, centre lines, a section fill, text."""
    w, h = 842, 595  # A4 landscape
    s = "0.5 w 0 0 0 RG " + f"20 20 {w - 40} {h - 40} re S "
    # Plate outline with rounded corners (lines and quarter arcs), centred at (300, 300).
    cx, cy, a, b, r = 300, 300, 180, 130, 25
    s += "0 0 0.6 RG 1.2 w "
    s += f"{cx - a + r} {cy - b} m {cx + a - r} {cy - b} l " + arc(cx + a - r, cy - b + r, r, -90, 0, False)
    s += f"{cx + a} {cy + b - r} l " + arc(cx + a - r, cy + b - r, r, 0, 90, False)
    s += f"{cx - a + r} {cy + b} l " + arc(cx - a + r, cy + b - r, r, 90, 180, False)
    s += f"{cx - a} {cy - b + r} l " + arc(cx - a + r, cy - b + r, r, 180, 270, False) + "h S "
    # Bore and bolt holes.
    s += circle(cx, cy, 60) + "S "
    for i in range(6):
        t = math.radians(30 + 60 * i)
        s += circle(cx + 95 * math.cos(t), cy + 95 * math.sin(t), 9) + "S "
    # Centre lines, dashed, and the bolt circle.
    s += "0.8 0 0 RG 0.35 w [12 3 2 3] 0 d "
    s += f"{cx - a - 15} {cy} m {cx + a + 15} {cy} l S {cx} {cy - b - 15} m {cx} {cy + b + 15} l S "
    s += circle(cx, cy, 95) + "S [] 0 d "
    # Section view: a ring cut, filled with a hole (even-odd), outlined.
    sx, sy = 620, 300
    s += "0.75 g " + f"{sx - 20} {sy - 130} 40 260 re {sx - 20} {sy - 60} 40 120 re f* "
    s += "0 G 1.2 w " + f"{sx - 20} {sy - 130} 40 260 re S {sx - 20} {sy - 60} m {sx + 20} {sy - 60} l S "
    s += f"{sx - 20} {sy + 60} m {sx + 20} {sy + 60} l S "
    # Dimensions.
    s += "0 G 0.35 w " + f"{cx - a} {cy - b - 40} m {cx + a} {cy - b - 40} l S "
    s += f"{cx - a} {cy - b - 45} m {cx - a} {cy - b - 5} l S {cx + a} {cy - b - 45} m {cx + a} {cy - b - 5} l S "
    s += "0 g " + text(cx - 20, cy - b - 36, 10, "127 mm")
    s += text(cx + a + 30, cy - 40, 10, "\\370 42 H7", angle=90)
    s += text(cx + 70, cy + 110, 9, "6x \\370 6.4 on \\370 67")
    s += text(sx - 30, sy + 150, 12, "SECTION A-A", font="F2")
    s += title_block(w - 260, 30, "Flange plate FP-60", "Drawing 1001-A", "Scale 1:1")
    return pdf([(s, w, h, 0)])


def floor_plan():
    """A small flat: walls as filled outlines with openings, door swings, room names; furniture on a hidden layer."""
    w, h = 842, 595
    s = "/OC /oc1 BDC 0.25 g "
    # Outer walls 12 pt thick with the inside cut out (even-odd), and an inner wall.
    s += "60 60 560 420 re 72 72 536 396 re f* 0.15 g 330 72 8 230 re f 338 250 270 8 re f EMC "
    s += "/OC /oc2 BDC 0.6 0.3 0 RG 0.5 w "
    for x, y, a0 in ((260, 72, 0), (338, 160, 90), (480, 258, 0)):
        s += f"{x} {y} m {x + 60 * math.cos(math.radians(a0 + 90))} {y + 60 * math.sin(math.radians(a0 + 90))} l S "
        s += arc(x, y, 60, a0, a0 + 90) + "S "
    s += "EMC /OC /oc3 BDC 0 g "
    s += text(150, 300, 14, "Living room") + text(420, 150, 14, "Kitchen") + text(420, 360, 14, "Bedroom")
    s += text(40, 200, 10, "Street side", angle=90) + "EMC "
    s += "/OC /oc4 BDC 0 0.5 0 RG 0.5 w 120 120 140 60 re S " + circle(190, 230, 25) + "S "
    s += "440 380 120 70 re S EMC "
    s += title_block(w - 240, 30, "Flat 3B", "Plan 2001", "Scale 1:50")
    return pdf([(s, w, h, 0)], [("Walls", True), ("Doors", True), ("Room names", True), ("Furniture", False)])


def circuit():
    """A two-sheet schematic: wires, resistors, junction dots, rotated labels; sheet 2 is turned a quarter."""
    w, h = 595, 421  # A5 landscape

    def resistor(x, y, vertical=False):
        pts = [(0, 0), (10, 0), (13, 6), (19, -6), (25, 6), (31, -6), (37, 6), (40, 0), (50, 0)]
        if vertical:
            pts = [(-py, px) for px, py in pts]
        out = f"{x + pts[0][0]} {y + pts[0][1]} m " + " ".join(f"{x + px} {y + py} l" for px, py in pts[1:])
        return out + " S "

    s = "0 G 0.8 w 20 20 555 381 re S 0 0 0.5 RG 1 w "
    s += "80 300 m 200 300 l S " + resistor(200, 300) + "250 300 m 400 300 l S "
    s += resistor(300, 200, True) + "300 250 m 300 300 l S 300 200 m 300 120 l S 80 120 m 400 120 l S "
    s += "0 0 0.5 rg " + circle(300, 300, 3) + "f " + circle(300, 120, 3) + "f "
    s += "0 G " + circle(80, 300, 5) + "S " + circle(80, 120, 5) + "S "
    s += "0 g " + text(215, 312, 9, "R1 4k7") + text(318, 215, 9, "R2 10k", angle=90)
    s += text(50, 296, 9, "IN") + text(45, 116, 9, "GND") + text(410, 296, 9, "OUT")
    s += text(400, 40, 12, "Divider, sheet 1 of 2", font="F2")
    page2 = "0 G 0.8 w 20 20 381 555 re S 1 0 0 RG 1.5 w 100 100 m 300 100 l 300 400 l S "
    page2 += "0 g " + text(120, 110, 10, "Sheet 2, shown turned") + text(40, 40, 12, "Divider, sheet 2 of 2", font="F2")
    return pdf([(s, w, h, 0), (page2, h, w, 90)])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, make in (("flange-plate.pdf", flange), ("floor-plan-layers.pdf", floor_plan),
                       ("divider-schematic-2p.pdf", circuit)):
        with open(os.path.join(here, name), "wb") as f:
            f.write(make())


if __name__ == "__main__":
    main()
