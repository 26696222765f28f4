#!/usr/bin/python3
"""Engine benchmark: pages per second of unplot-engine over a folder of PDFs, on one thread (--threads 1) and on its
default (one thread for each core it may use), beside pstoedit on the same files in the same run, with the entity
counts by type of both. The archives of both thread counts must be the same bytes.

    bench/engine.py [--engine build/bin/unplot-engine] [--corpus ../shared/corpus] [--repeat 3] [--version 14]
                    [--one-thread] [--engine-arg=--keep-strokes ...]

--one-thread times the one-thread runs only (no default threads, no pstoedit); --engine-arg passes an option to
every engine run, so that two runs of the bench compare the engine with and without it.

Files that `unplot-engine --info` refuses (not a PDF, damaged, password) are listed and left out of both sums.
pstoedit runs as `pstoedit -psarg -dNEWPDF=false -f dxf_s:-mm in.pdf out%d.dxf` (Debian 12's Ghostscript needs the
legacy interpreter, or pstoedit writes empty drawings). Not a test: run it by hand and read the figures.
"""
import argparse
import collections
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CURVES = {"SPLINE", "CIRCLE", "ARC", "ELLIPSE"}  # and curved hatch boundaries, which are not counted
NOT_ENTITIES = {"VERTEX", "SEQEND", "ENDSEC"}


def text_characters(value):
    """Visible characters of a TEXT string; a \\U+XXXX escape counts as one."""
    return len(re.sub(r"\\U\+[0-9A-Fa-f]{4}", "x", value).replace(" ", ""))


def dxf_entities(text):
    """Entity counts by type in the ENTITIES section of an ASCII DXF; "text characters" counts the visible
    characters of its TEXT entities (writers split text differently, so entity counts alone do not compare)."""
    lines = text.splitlines()
    counts = collections.Counter()
    inside = False
    current = None
    for i in range(0, len(lines) - 1, 2):
        code, value = lines[i].strip(), lines[i + 1].strip()
        if code != "0":
            if code == "2" and value == "ENTITIES" and lines[i - 1].strip() == "SECTION":
                inside = True
            elif inside and current == "TEXT" and code == "1":
                counts["text characters"] += text_characters(lines[i + 1])
            continue
        current = value
        if inside:
            if value == "ENDSEC":
                break
            if value not in NOT_ENTITIES:
                counts[value] += 1
    return counts


def timed(argv, cwd=None):
    start = time.perf_counter()
    result = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return time.perf_counter() - start, result


def run_engine(engine, pdf, work, version, repeat, threads=None, extra=()):
    out = os.path.join(work, f"engine-{threads or 'default'}.zip")
    best = None
    for _ in range(repeat):
        seconds, result = timed([engine, pdf, out, "--dxf", "--version", str(version)] + list(extra) +
                                (["--threads", str(threads)] if threads else []))
        if result.returncode not in (0, 10):
            return None, collections.Counter(), result.stderr.decode(errors="replace").strip()
        best = seconds if best is None else min(best, seconds)
    counts = collections.Counter()
    with zipfile.ZipFile(out) as archive:
        for name in archive.namelist():
            if name.endswith(".dxf"):
                counts += dxf_entities(archive.read(name).decode("utf-8", errors="replace"))
    with open(out, "rb") as f:
        counts["archive"] = hash(f.read())  # compared between thread counts, not printed
    return best, counts, ""


def run_pstoedit(pdf, work):
    folder = tempfile.mkdtemp(dir=work)
    seconds, result = timed(["pstoedit", "-psarg", "-dNEWPDF=false", "-f", "dxf_s:-mm", pdf,
                             os.path.join(folder, "out%d.dxf")])
    counts = collections.Counter()
    files = [f for f in os.listdir(folder) if f.endswith(".dxf")]
    for name in files:
        with open(os.path.join(folder, name), encoding="latin-1") as f:
            counts += dxf_entities(f.read())
    shutil.rmtree(folder)
    return seconds, counts, len(files), result.returncode


def fmt(counts):
    return " ".join(f"{k}={v}" for k, v in sorted(counts.items())) or "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--engine", default=os.path.join(HERE, "..", "build", "bin", "unplot-engine"))
    parser.add_argument("--corpus", default=os.path.join(HERE, "..", "..", "shared", "corpus"))
    parser.add_argument("--repeat", type=int, default=3, help="engine runs per file; the fastest counts")
    parser.add_argument("--version", type=int, default=14)
    parser.add_argument("--one-thread", action="store_true", help="time the one-thread runs only")
    parser.add_argument("--engine-arg", action="append", default=[], help="an option for every engine run")
    args = parser.parse_args()
    if not os.access(args.engine, os.X_OK):
        sys.exit(f"no unplot-engine at {args.engine}: build it first or pass --engine")
    if not os.path.isdir(args.corpus):
        sys.exit(f"no corpus at {args.corpus}")
    have_pstoedit = shutil.which("pstoedit") is not None and not args.one_thread
    if not have_pstoedit and not args.one_thread:
        print("pstoedit is not installed: engine figures only")

    pdfs = sorted(os.path.join(args.corpus, f) for f in os.listdir(args.corpus) if f.lower().endswith(".pdf"))
    totals = {"pages": 0, "engine_s": 0.0, "one_thread_s": 0.0, "pstoedit_s": 0.0, "multi_pages": 0,
              "multi_s": 0.0, "multi_one_thread_s": 0.0}
    differing = []
    engine_all, pstoedit_all = collections.Counter(), collections.Counter()
    losses = []
    with tempfile.TemporaryDirectory() as work:
        print(f"{'file':52} {'pages':>5} {'1 thread s':>10} {'engine s':>9} {'pstoedit s':>10} {'ratio':>7}")
        for pdf in pdfs:
            name = os.path.basename(pdf)
            info = subprocess.run([args.engine, "--info", pdf], stdout=subprocess.PIPE)
            reply = json.loads(info.stdout or b"{}")
            if info.returncode != 0:
                print(f"{name:52} refused: {reply.get('error')}: {reply.get('message')}")
                continue
            pages = reply["pages"]
            one_seconds, one_counts, one_error = run_engine(args.engine, pdf, work, args.version, args.repeat, 1,
                                                            args.engine_arg)
            seconds, ours, error = (one_seconds, one_counts.copy(), "") if args.one_thread else \
                run_engine(args.engine, pdf, work, args.version, args.repeat, None, args.engine_arg)
            if seconds is None or one_seconds is None:
                print(f"{name:52} engine failed: {error or one_error}")
                continue
            if ours.pop("archive") != one_counts.pop("archive"):
                differing.append(name)
            theirs, their_seconds, their_pages = collections.Counter(), 0.0, 0
            if have_pstoedit:
                their_seconds, theirs, their_pages, _ = run_pstoedit(pdf, work)
            ratio = their_seconds / seconds if seconds > 0 and their_seconds > 0 else 0
            print(f"{name:52} {pages:5} {one_seconds:10.3f} {seconds:9.3f} {their_seconds:10.3f} {ratio:6.0f}x")
            print(f"    unplot:   {fmt(ours)}")
            if have_pstoedit:
                print(f"    pstoedit: {fmt(theirs)} ({their_pages} page files)")
                our_curves = sum(ours[k] for k in CURVES)
                their_curves = sum(theirs[k] for k in CURVES)
                if ours["text characters"] < theirs["text characters"]:
                    losses.append(f"{name}: {ours['text characters']} text characters, pstoedit "
                                  f"{theirs['text characters']}")
                if their_curves and not our_curves and not ours["HATCH"]:
                    losses.append(f"{name}: no curves, pstoedit has {their_curves}")
            totals["pages"] += pages
            totals["engine_s"] += seconds
            totals["one_thread_s"] += one_seconds
            if pages > 1:
                totals["multi_pages"] += pages
                totals["multi_s"] += seconds
                totals["multi_one_thread_s"] += one_seconds
            totals["pstoedit_s"] += their_seconds
            engine_all += ours
            pstoedit_all += theirs

    print()
    pages = totals["pages"]
    engine_rate = pages / totals["engine_s"] if totals["engine_s"] else 0
    one_rate = pages / totals["one_thread_s"] if totals["one_thread_s"] else 0
    print(f"unplot-engine, 1 thread: {pages} pages in {totals['one_thread_s']:.2f} s = {one_rate:.1f} pages/s")
    if args.one_thread:
        print(f"  entities: {fmt(engine_all)}")
        return
    print(f"unplot-engine, default threads ({len(os.sched_getaffinity(0))} cores): {pages} pages in "
          f"{totals['engine_s']:.2f} s = {engine_rate:.1f} pages/s")
    if totals["multi_s"]:
        print(f"  multi-page documents ({totals['multi_pages']} pages): speed-up "
              f"{totals['multi_one_thread_s'] / totals['multi_s']:.2f}x over 1 thread (goal: at least 1.7x on 2 cores)")
    print("archives that differ between 1 thread and the default:", ", ".join(differing) or "none")
    print(f"  entities: {fmt(engine_all)}")
    if have_pstoedit and totals["pstoedit_s"]:
        pst_rate = pages / totals["pstoedit_s"]
        print(f"pstoedit:      {pages} pages in {totals['pstoedit_s']:.2f} s = {pst_rate:.2f} pages/s")
        print(f"  entities: {fmt(pstoedit_all)}")
        print(f"speed-up: {engine_rate / pst_rate:.1f}x (goal: at least 30x)")
        print("files where unplot keeps fewer text characters or curves than pstoedit:", "none" if not losses else "")
        for line in losses:
            print("  " + line)


if __name__ == "__main__":
    main()
