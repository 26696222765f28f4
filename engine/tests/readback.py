#!/usr/bin/python3
"""Our DXF and DWG files opened by independent readers, for tests and benchmarks of every area.

  readback.py [dxf] FILE.dxf...        ezdxf loads and audits each file; prints JSON {path: {"acadver", "counts"
                                       (model space by type), "texts" (TEXT strings), "images" (each IMAGE's file,
                                       sizes, insertion and corners), "problems"}}
  readback.py dwg [--dxfrw] FILE.dwg [OUT.dxf]
                                       LibreDWG (or libdxfrw) reads the file: read_dwg.mjs's JSON (OUT.dxf: LibreDWG's
                                       DXF of it)
  readback.py compare OURS.dxf THEIRS.dxf
                                       the model spaces entity by entity (geometry within 0.001 mm): the differences
  readback.py pages FILE.dwg...        each page-N.dwg read by LibreDWG: no error, and the entity counts by type of
                                       the page-N.dxf beside it; prints one line per fault
  readback.py check ezdxf|libredwg|libdxfrw
                                       whether that reader is installed

Exit status: 0, 1 when any file has a problem, 77 when a reader is missing (with the reason on standard output).
The npm readers are looked for in $UNPLOT_NPM_TOOLS, else build/npm-tools/node_modules of this repository.
"""
import collections
import json
import logging
import math
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
NPM_TOOLS = os.environ.get("UNPLOT_NPM_TOOLS") or os.path.join(HERE, "..", "..", "build", "npm-tools", "node_modules")
NPM_MODULES = {"libredwg": "@mlightcad/libredwg-web/wasm/libredwg-web.js",
               "libdxfrw": "@mlightcad/libdxfrw-web/dist/libdxfrw.js"}
TOL = 0.001
# ezdxf keeps no R13/R14 model: it loads those files as 2000 and says so. That is not a repair of the file.
ALLOWED_MESSAGES = {"AC1014": {"DXF version upgrade to DXF R2000."}}


def missing(reader):
    if reader == "ezdxf":
        try:
            import ezdxf  # noqa: F401
        except ImportError:
            return "python3-ezdxf missing"
        return ""
    if shutil.which("node") is None:
        return "node missing"
    if not os.path.exists(os.path.join(NPM_TOOLS, NPM_MODULES[reader])):
        return f"{NPM_MODULES[reader].split('/')[1]} missing under {NPM_TOOLS} (scripts/install-test-tools.sh)"
    return ""


def read_dwg(path, reader="libredwg", dxf_out=None):
    args = ["node", os.path.join(HERE, "read_dwg.mjs"), reader, NPM_TOOLS, path] + ([dxf_out] if dxf_out else [])
    out = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode("utf-8", "replace")
    try:
        return json.loads(out.rstrip().rsplit("\n", 1)[-1])
    except ValueError:
        return {"error": 0xFFFF, "noResult": out[-400:]}


# ---- ezdxf audit ----

class Collector(logging.Handler):
    def __init__(self):
        super().__init__(logging.DEBUG)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def acadver_of(path):
    with open(path, "rb") as f:
        head = f.read(4096).decode("ascii", "replace").splitlines()
    return next((head[i + 2].strip() for i, line in enumerate(head[:-2]) if line.strip() == "$ACADVER"), "")


def references(doc):
    """What ezdxf accepts silently but a strict reader does not: owners, layers and text styles that do not exist."""
    problems = []
    db = doc.entitydb
    for handle, entity in db.items():
        owner = entity.dxf.get("owner")
        if owner not in (None, "0") and owner not in db:
            problems.append(f"{entity.dxftype()} #{handle}: owner #{owner} does not exist")
    msp = doc.modelspace()
    for entity in msp:
        where = f"{entity.dxftype()} #{entity.dxf.handle}"
        if entity.dxf.owner != msp.block_record_handle:
            problems.append(f"{where}: not owned by model space")
        if not doc.layers.has_entry(entity.dxf.layer):
            problems.append(f"{where}: no layer {entity.dxf.layer!r}")
        if entity.dxftype() == "TEXT" and not doc.styles.has_entry(entity.dxf.style):
            problems.append(f"{where}: no text style {entity.dxf.style!r}")
    return problems


def audit(path):
    """Loads and audits one file. Any error or fix of the recovering loader or of audit(), and any message on the
    "ezdxf" logger (where ezdxf says that it silently created missing structure) is a problem."""
    from ezdxf import recover
    problems, counts, texts, images = [], {}, [], []
    acadver = acadver_of(path)
    logger = logging.getLogger("ezdxf")
    collector = Collector()
    logger.addHandler(collector)
    old_level = logger.level
    logger.setLevel(logging.DEBUG)
    try:
        doc, auditor = recover.readfile(path)
        result = doc.audit()
        for kind, entries in (("recover error", auditor.errors), ("recover fix", auditor.fixes),
                              ("audit error", result.errors), ("audit fix", result.fixes)):
            problems += [f"{kind}: {e.message}" for e in entries]
        problems += references(doc)
        for entity in doc.modelspace():
            counts[entity.dxftype()] = counts.get(entity.dxftype(), 0) + 1
            if entity.dxftype() == "TEXT":
                texts.append(entity.dxf.text)
            if entity.dxftype() == "IMAGE":
                d, definition = entity.dxf, entity.image_def
                images.append({"file": definition.dxf.filename, "size": list(definition.dxf.image_size),
                               "imageSize": list(d.image_size), "insert": list(d.insert)[:2],
                               "corners": [list(p)[:2] for p in entity.boundary_path_wcs()[:-1]]})
        if len(doc.layouts) < 2:
            problems.append("fewer than two layouts")
    except Exception as exc:  # any failure to read is a problem of the file
        problems.append(f"load failed: {type(exc).__name__}: {exc}")
    finally:
        logger.removeHandler(collector)
        logger.setLevel(old_level)
    allowed = ALLOWED_MESSAGES.get(acadver, set())
    problems += ["ezdxf logged: " + m for m in collector.messages if m not in allowed]
    return {"acadver": acadver, "counts": counts, "texts": texts, "images": images, "problems": problems}


# ---- two DXF files compared entity by entity ----

def unescape(text):
    """Text as a reader shows it: \\U+XXXX escapes (surrogate pairs included) decoded."""
    units = re.sub(r"\\U\+([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), text)
    return units.encode("utf-16", "surrogatepass").decode("utf-16")


def close(a, b):
    return len(a) == len(b) and all(abs(x - y) <= TOL for x, y in zip(a, b))


def angle_close(a, b, radius):
    """Angles in degrees, compared as the distance they make on the circle."""
    return abs(math.radians((a - b + 180.0) % 360.0 - 180.0)) * max(radius, 1.0) <= TOL


def geometry(e):
    """Points and numbers that must agree, with ("closed", flag) and ("knots", ...) items."""
    import ezdxf
    t, d = e.dxftype(), e.dxf
    xy = lambda p: tuple(p)[:2]  # noqa: E731
    if t == "LINE":
        return [xy(d.start), xy(d.end)]
    if t == "LWPOLYLINE":
        return [tuple(p) for p in e.get_points("xyb")] + [("closed", e.closed)]
    if t == "SPLINE":
        return [xy(p) for p in e.control_points] + [("knots",) + tuple(e.knots)]
    if t in ("CIRCLE", "ARC"):
        return [xy(d.center), (d.radius,)]
    if t == "ELLIPSE":
        return [xy(d.center), xy(d.major_axis), (d.ratio, d.start_param, d.end_param)]
    if t == "TEXT":
        return [xy(d.insert), (d.height, d.get("width", 1.0))]
    if t == "IMAGE":
        return [xy(d.insert), xy(d.u_pixel), xy(d.v_pixel), xy(d.image_size)] + [xy(p) for p in e.boundary_path]
    if t != "HATCH":
        return []
    points = []
    for path in e.paths:
        if hasattr(path, "vertices"):
            points += [xy(v) for v in path.vertices]
        for edge in getattr(path, "edges", []):
            if edge.type == ezdxf.entities.EdgeType.LINE:
                points += [xy(edge.start), xy(edge.end)]
            elif edge.type == ezdxf.entities.EdgeType.SPLINE:
                points += [xy(p) for p in edge.control_points]
    # Consecutive duplicates and a closing point equal to the first dropped (writers differ there).
    out = []
    for p in points:
        if not out or not close(out[-1], p):
            out.append(p)
    if len(out) > 1 and close(out[0], out[-1]):
        out.pop()
    return out


def pattern(doc, entity):
    """The entity's own linetype: its name and elements (dashes, gaps, dots) in mm; empty by layer."""
    name = entity.dxf.get("linetype", "ByLayer")
    if name.lower() in ("bylayer", "byblock", "continuous") or name not in doc.linetypes:
        return ("", ())
    return (name.lower(), tuple(round(x, 6) for x in doc.linetypes.get(name).simplified_line_pattern()))


def compare(ours, theirs):
    import ezdxf
    problems = []
    doc_a, doc_b = ezdxf.readfile(ours), ezdxf.readfile(theirs)
    fonts = [{unescape(s.dxf.name).lower(): s.dxf.font.lower() for s in d.styles} for d in (doc_a, doc_b)]
    for name, font in fonts[0].items():
        if fonts[1].get(name, font) != font:
            problems.append(f"text style {name}: font {font!r} vs {fonts[1][name]!r}")
    a, b = list(doc_a.modelspace()), list(doc_b.modelspace())
    if len(a) != len(b):
        problems.append(f"model space: {len(a)} entities in ours, {len(b)} in theirs")
    for i, (x, y) in enumerate(zip(a, b)):
        where, t = f"entity {i} ({x.dxftype()})", x.dxftype()
        if t != y.dxftype():
            problems.append(f"{where}: type {y.dxftype()} in theirs")
            continue
        same_name = lambda n: unescape(x.dxf.get(n)).lower() == unescape(y.dxf.get(n)).lower()  # noqa: E731
        if not same_name("layer"):
            problems.append(f"{where}: layer {x.dxf.layer!r} vs {y.dxf.layer!r}")
        if pattern(doc_a, x) != pattern(doc_b, y):
            problems.append(f"{where}: linetype {pattern(doc_a, x)} vs {pattern(doc_b, y)}")
        gx, gy = geometry(x), geometry(y)
        if len(gx) != len(gy):
            problems.append(f"{where}: {len(gx)} vs {len(gy)} geometry items: {gx} / {gy}")
            continue
        for p, q in zip(gx, gy):
            if p[0] == "closed" and p[1] != q[1] or p[0] == "knots" and not close(p[1:], q[1:]):
                problems.append(f"{where}: {p} vs {q}")
            elif not isinstance(p[0], str) and not close(p, q):
                problems.append(f"{where}: {p} vs {q}")
        angles = {"ARC": ("start_angle", "end_angle"), "TEXT": ("rotation", "oblique")}.get(t, ())
        scale = x.dxf.radius if t == "ARC" else x.dxf.height if t == "TEXT" else 1.0
        for name in angles:
            if not angle_close(x.dxf.get(name, 0.0), y.dxf.get(name, 0.0), scale):
                problems.append(f"{where}: {name} {x.dxf.get(name, 0.0)} vs {y.dxf.get(name, 0.0)}")
        if t == "TEXT" and unescape(x.dxf.text) != unescape(y.dxf.text):
            problems.append(f"{where}: text {x.dxf.text!r} vs {y.dxf.text!r}")
        if t == "IMAGE" and x.image_def.dxf.filename != y.image_def.dxf.filename:
            problems.append(f"{where}: file {x.image_def.dxf.filename!r} vs {y.image_def.dxf.filename!r}")
        if t == "TEXT" and not same_name("style"):
            problems.append(f"{where}: style {x.dxf.style!r} vs {y.dxf.style!r}")
        if x.dxf.get("color", 256) != y.dxf.get("color", 256):
            problems.append(f"{where}: colour {x.dxf.get('color', 256)} vs {y.dxf.get('color', 256)}")
    return problems


# ---- converted pages ----

def dxf_entity_counts(path):
    """Entities by type in the ENTITIES section of a DXF file (a plain scan: one "0" group per entity)."""
    lines = open(path, encoding="utf-8", errors="replace").read().splitlines()
    counts, i = collections.Counter(), 0
    while i + 1 < len(lines) and not (lines[i].strip() == "2" and lines[i + 1] == "ENTITIES"):
        i += 2
    for i in range(i + 2, len(lines) - 1, 2):
        if lines[i].strip() == "0":
            if lines[i + 1] == "ENDSEC":
                break
            counts[lines[i + 1]] += 1
    return dict(counts)


def page_problem(dwg):
    r = read_dwg(dwg)
    if r["error"] >= 0x80 or r["error"] & 1 or r.get("objects", 0) == 0:
        return f"reader error 0x{r['error']:x}"
    expected = dxf_entity_counts(dwg[:-4] + ".dxf")
    if r["modelSpace"] != expected:
        return f"reader counts {r['modelSpace']}, DXF has {expected}"
    return ""


def main(argv):
    command = argv[1] if len(argv) > 1 and not argv[1].endswith(".dxf") else "dxf"
    args = argv[2:] if command != "dxf" or argv[1:2] == ["dxf"] else argv[1:]
    reader = {"dxf": "ezdxf", "compare": "ezdxf", "check": args[0] if args else "ezdxf"}.get(
        command, "libdxfrw" if "--dxfrw" in args else "libredwg")
    if reason := missing(reader):
        print(reason)
        return 77
    if command == "check":
        return 0
    if command == "dxf":
        report = {path: audit(path) for path in args}
        print(json.dumps(report, ensure_ascii=True, indent=1))
        return 1 if any(r["problems"] for r in report.values()) else 0
    if command == "dwg":
        files = [a for a in args if a != "--dxfrw"]
        print(json.dumps(read_dwg(files[0], reader, files[1] if len(files) > 1 else None)))
        return 0
    if command == "compare":
        found = compare(args[0], args[1])
    elif command == "pages":
        found = [f"{os.path.basename(p)}: {problem}" for p in args if (problem := page_problem(p))]
    else:
        print(__doc__, file=sys.stderr)
        return 2
    print("\n".join(found[:50]))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
