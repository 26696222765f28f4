#!/usr/bin/python3
"""Opens DXF files with an independent reader (ezdxf) and audits them.

    audit_dxf.py FILE.dxf [FILE.dxf ...]

Prints one JSON object: for each file its entity counts by type in model space ("counts"), the strings of its
TEXT entities ("texts") and every problem found ("problems"). Exits 1 when any file has a problem: a load error,
an error or fix of the recovering loader or of audit(), any message on the "ezdxf" logger while loading and
auditing, because ezdxf repairs missing structure silently and only says so there ("Creating ROOT dictionary.",
"creating ACAD_xxx dictionary", ...), or an owner, layer or text style that does not exist.
"""
import json
import logging
import sys

import ezdxf
from ezdxf import recover

# ezdxf keeps no R13/R14 model: it loads those files as 2000 and says so. That is not a repair of the file.
ALLOWED_MESSAGES = {"AC1014": {"DXF version upgrade to DXF R2000."}}


class Collector(logging.Handler):
    def __init__(self):
        super().__init__(logging.DEBUG)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def read_acadver(path):
    try:
        with open(path, "rb") as f:
            head = f.read(4096).decode("ascii", "replace").splitlines()
    except OSError:
        return ""
    for i, line in enumerate(head):
        if line.strip() == "$ACADVER" and i + 2 < len(head):
            return head[i + 2].strip()
    return ""


def references(doc):
    """What ezdxf accepts silently but a strict reader does not: owners, layers and text styles that do not exist."""
    problems = []
    db = doc.entitydb
    for handle, entity in db.items():
        owner = entity.dxf.get("owner")
        if owner not in (None, "0") and owner not in db:
            problems.append("%s #%s: owner #%s does not exist" % (entity.dxftype(), handle, owner))
    msp = doc.modelspace()
    for entity in msp:
        if entity.dxf.owner != msp.block_record_handle:
            problems.append("%s #%s: not owned by model space" % (entity.dxftype(), entity.dxf.handle))
        if not doc.layers.has_entry(entity.dxf.layer):
            problems.append("%s #%s: no layer %r" % (entity.dxftype(), entity.dxf.handle, entity.dxf.layer))
        if entity.dxftype() == "TEXT" and not doc.styles.has_entry(entity.dxf.style):
            problems.append("TEXT #%s: no text style %r" % (entity.dxf.handle, entity.dxf.style))
    return problems


def audit(path):
    problems = []
    acadver = read_acadver(path)
    logger = logging.getLogger("ezdxf")
    collector = Collector()
    logger.addHandler(collector)
    old_level = logger.level
    logger.setLevel(logging.DEBUG)
    counts, texts = {}, []
    try:
        doc, auditor = recover.readfile(path)
        for e in auditor.errors:
            problems.append("recover error: " + e.message)
        for e in auditor.fixes:
            problems.append("recover fix: " + e.message)
        result = doc.audit()
        for e in result.errors:
            problems.append("audit error: " + e.message)
        for e in result.fixes:
            problems.append("audit fix: " + e.message)
        problems += references(doc)
        for entity in doc.modelspace():
            counts[entity.dxftype()] = counts.get(entity.dxftype(), 0) + 1
            if entity.dxftype() == "TEXT":
                texts.append(entity.dxf.text)
        if len(doc.layouts) < 2:
            problems.append("fewer than two layouts")
    except Exception as exc:  # any failure to read is a problem of the file
        problems.append("load failed: %s: %s" % (type(exc).__name__, exc))
    finally:
        logger.removeHandler(collector)
        logger.setLevel(old_level)
    allowed = ALLOWED_MESSAGES.get(acadver, set())
    problems += ["ezdxf logged: " + m for m in collector.messages if m not in allowed]
    return {"acadver": acadver, "counts": counts, "texts": texts, "problems": problems}


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    report = {path: audit(path) for path in argv[1:]}
    json.dump(report, sys.stdout, ensure_ascii=True, indent=1)
    print()
    return 1 if any(r["problems"] for r in report.values()) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
