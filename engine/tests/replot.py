#!/usr/bin/python3
"""A converted page drawn again, its IMAGE entities included, beside MuPDF's drawing of the PDF page.

  replot.py render PAGE.dxf OUT.png [DPI]     the DXF's model space (images from the files it names, clipped,
                                             beneath ezdxf's drawing of the rest) over the page, white paper
  replot.py compare PDF PAGE PAGE.dxf [DPI]   both drawn at DPI (default 50) and compared, images only where the
                                             page holds nothing else: prints JSON {"mean": mean absolute difference
                                             of the samples, 0-255; "far": share of pixels off by more than 64}
  replot.py pixels PDF PAGE.dxf               each IMAGE's file against MuPDF's decoding of the PDF's images
                                             (mutool extract): prints JSON {file: "same" or what differs}
"""
import glob
import json
import logging
import os
import subprocess
import sys
import tempfile

import numpy
from PIL import Image


def images(doc, folder):
    """(IMAGE entity, its picture as RGBA, its clip polygon in mm) for each IMAGE of the model space."""
    for e in doc.modelspace().query("IMAGE"):
        picture = Image.open(os.path.join(folder, e.image_def.dxf.filename)).convert("RGBA")
        yield e, picture, [tuple(p)[:2] for p in e.boundary_path_wcs()]


def render(dxf, out, dpi=50.0, vectors=True):
    import ezdxf
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Polygon
    from matplotlib.transforms import Affine2D
    logging.getLogger("matplotlib").setLevel(logging.ERROR)
    doc = ezdxf.readfile(dxf)
    w, h = doc.header["$LIMMAX"][:2]  # the page, from 0,0
    fig = plt.figure(figsize=(w / 25.4, h / 25.4), dpi=dpi)
    ax = fig.add_axes([0, 0, 1, 1])
    ax.set_axis_off()
    ax.set_xlim(0, w)
    ax.set_ylim(0, h)
    for e, picture, clip in images(doc, os.path.dirname(os.path.abspath(dxf))):
        (u, v, o), (pw, ph) = (e.dxf.u_pixel, e.dxf.v_pixel, e.dxf.insert), picture.size
        art = ax.imshow(numpy.asarray(picture), extent=(0, pw, 0, ph), origin="upper", interpolation="antialiased",
                        alpha=1 - e.dxf.fade / 100.0,
                        transform=Affine2D.from_values(u[0], u[1], v[0], v[1], o[0], o[1]) + ax.transData)
        art.set_clip_path(Polygon(clip, closed=True, transform=ax.transData))
    if vectors:
        from ezdxf.addons.drawing import Frontend, RenderContext
        from ezdxf.addons.drawing.matplotlib import MatplotlibBackend
        ctx = RenderContext(doc)
        ctx.set_current_layout(doc.modelspace())
        Frontend(ctx, MatplotlibBackend(ax)).draw_entities(
            e for e in doc.modelspace() if e.dxftype() != "IMAGE" and doc.layers.get(e.dxf.layer).is_on())
    ax.set_xlim(0, w)
    ax.set_ylim(0, h)
    fig.savefig(out, dpi=dpi, facecolor="white")
    plt.close(fig)


def samples(path):
    return numpy.asarray(Image.open(path).convert("RGB"), dtype=numpy.int16)


def compare(pdf, page, dxf, dpi=50.0):
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["mutool", "draw", "-q", "-r", str(dpi), "-o", f"{tmp}/pdf.png", pdf, str(page)], check=True,
                       stderr=subprocess.DEVNULL)
        render(dxf, f"{tmp}/dxf.png", dpi)
        a, b = samples(f"{tmp}/pdf.png"), samples(f"{tmp}/dxf.png")
    h, w = min(a.shape[0], b.shape[0]), min(a.shape[1], b.shape[1])
    diff = numpy.abs(a[:h, :w] - b[:h, :w])
    return {"mean": round(float(diff.mean()), 3), "far": round(float((diff.max(axis=2) > 64).mean()), 5),
            "size": [w, h]}


def visible(picture):
    """RGBA samples with the colour of fully transparent pixels, which shows nowhere, set to 0."""
    a = numpy.asarray(picture.convert("RGBA")).astype(int)
    a[a[:, :, 3] == 0] = 0
    return a


def pixels(pdf, dxf):
    """Our files against `mutool extract -r -a` (RGB, soft masks as alpha), matched by their sizes and pixels."""
    import ezdxf
    report = {}
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["mutool", "extract", "-r", "-a", os.path.abspath(pdf)], cwd=tmp, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        theirs = [visible(Image.open(p)) for p in sorted(glob.glob(f"{tmp}/*"))]
        doc = ezdxf.readfile(dxf)
        for e, picture, _ in images(doc, os.path.dirname(os.path.abspath(dxf))):
            ours = visible(picture)
            name = e.image_def.dxf.filename
            same = [t for t in theirs if t.shape == ours.shape]
            best = min((int(numpy.abs(t - ours).max()) for t in same), default=None)
            report[name] = "same" if best == 0 else f"no extracted image of {ours.shape}" if best is None \
                else f"samples differ by up to {best}"
    return report


def main(argv):
    if len(argv) >= 4 and argv[1] == "render":
        render(argv[2], argv[3], float(argv[4]) if len(argv) > 4 else 50.0)
    elif len(argv) >= 5 and argv[1] == "compare":
        print(json.dumps(compare(argv[2], argv[3], argv[4], float(argv[5]) if len(argv) > 5 else 50.0)))
    elif len(argv) == 4 and argv[1] == "pixels":
        print(json.dumps(pixels(argv[2], argv[3])))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
