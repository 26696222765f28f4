#!/usr/bin/python3
"""Opens DXF files with an independent reader (ezdxf) and audits them.

    audit_dxf.py FILE.dxf [FILE.dxf ...]

Prints one JSON object: for each file its entity counts by type in model space ("counts"), the strings of its
TEXT entities ("texts") and every problem found ("problems"). Exits 1 when any file has a problem: a load error,
an error or fix of the recovering loader or of audit(), or any message on the "ezdxf" logger while loading and
auditing, because ezdxf repairs missing structure silently and only says so there ("Creating ROOT dictionary.",
"creating ACAD_xxx dictionary", ...).
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
    with open(path, "rb") as f:
        head = f.read(4096).decode("ascii", "replace").splitlines()
    for i, line in enumerate(head):
        if line.strip() == "$ACADVER" and i + 2 < len(head):
            return head[i + 2].strip()
    return ""


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
