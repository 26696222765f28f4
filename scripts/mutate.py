#!/usr/bin/python3
"""Mutation pass: how many deliberate faults in the product code do the tests notice?

Each line of the mutants file (tab-separated; '#' starts a comment) names one fault:

    id  area  file  original  replacement  tests

`file` is relative to the repository root; `original` must occur exactly once in it and is replaced by
`replacement` (both may use \\t, \\n and \\\\); `tests` is the ctest regex of the tests that cover it. For each
mutant the script applies it, builds, runs those tests and restores the file byte for byte, whatever happens.

    scripts/mutate.py                        # every mutant in scripts/mutants.tsv
    scripts/mutate.py --area server --results out.tsv
    scripts/mutate.py --only conv-01,dwg-03 --build build-asan
    scripts/mutate.py --exclude BlowsTheMemory  # leave out a test that fails without a fault (under load)
    scripts/mutate.py --list                 # the mutants, and whether each still applies

Status: killed (a test failed, and again on its second run), survived (all passed), no-build (the mutant does not
compile), stale (the original text is not found exactly once), no-tests (the regex matches no test).
"""
import argparse
import collections
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SLOW = "^system_corpus_dwg_readback$"  # the whole corpus read back: too slow for every mutant
Mutant = collections.namedtuple("Mutant", "id area file original replacement tests")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n", "\\": "\\"}.get(m[1], m[0]), text)


def read_mutants(path):
    mutants = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.startswith("#") or line.startswith("id\t"):
            continue
        fields = line.split("\t")
        if len(fields) != 6:
            sys.exit(f"{path}:{number}: expected 6 tab-separated columns, found {len(fields)}")
        id_, area, file, original, replacement, tests = fields
        mutants.append(Mutant(id_, area, file, unescape(original), unescape(replacement), tests))
    ids = [m.id for m in mutants]
    if len(ids) != len(set(ids)):
        sys.exit(f"{path}: an id is used twice")
    return mutants


def occurrences(mutant):
    path = ROOT / mutant.file
    return path.read_bytes().count(mutant.original.encode()) if path.is_file() else 0


def run(command, log):
    """Runs a build or the tests in a process group of its own. When interrupted, the whole group is stopped and
    waited for, so that no compiler goes on reading a mutated file or writes an object after it is restored."""
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    process = subprocess.Popen(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        return process.wait()
    except BaseException:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait()
        for _ in range(300):  # ninja waits for its compilers; give the rest of the group up to 30 s to end
            try:
                os.killpg(process.pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.1)
        raise


def build(build_dir, log):
    return run(["cmake", "--build", str(build_dir), "-j2"], log) == 0


def count_tests(build_dir, regex, exclude):
    out = subprocess.run(["ctest", "--test-dir", str(build_dir), "-N", "-R", regex, "-E", exclude],
                         cwd=ROOT, capture_output=True, text=True).stdout
    found = re.search(r"Total Tests: (\d+)", out)
    return int(found[1]) if found else 0


def run_tests(build_dir, regex, exclude, log):
    # A failing test gets a second run: on a busy machine a test that measures time can fail without a fault.
    return run(["ctest", "--test-dir", str(build_dir), "-R", regex, "-E", exclude, "-j2", "--timeout", "300",
                "--repeat", "until-pass:2"], log) == 0


def try_mutant(mutant, build_dir, exclude, log):
    """Applies the mutant, builds, tests; the file is restored before this returns or raises."""
    path = ROOT / mutant.file
    if occurrences(mutant) != 1:
        return "stale"
    if count_tests(build_dir, mutant.tests, exclude) == 0:
        return "no-tests"
    original = path.read_bytes()
    try:
        path.write_bytes(original.replace(mutant.original.encode(), mutant.replacement.encode(), 1))
        if not build(build_dir, log):
            return "no-build"
        return "survived" if run_tests(build_dir, mutant.tests, exclude, log) else "killed"
    finally:
        # A second Ctrl+C must not cut the restoring write short.
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
        path.write_bytes(original)
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


def failed_tests(log_path):
    text = log_path.read_text(errors="replace")
    return re.findall(r"^\s*\d+ - (\S+)", text.split("The following tests FAILED:")[-1], re.M) \
        if "The following tests FAILED:" in text else []


def summary(results):
    areas = collections.defaultdict(collections.Counter)
    for mutant, status, _ in results:
        areas[mutant.area][status] += 1
    print(f"\n{'area':<14}{'mutants':>8}{'killed':>8}{'survived':>9}{'other':>7}")
    for area in sorted(areas) + ["all"]:
        counts = sum(areas.values(), collections.Counter()) if area == "all" else areas[area]
        total = sum(counts.values())
        print(f"{area:<14}{total:>8}{counts['killed']:>8}{counts['survived']:>9}"
              f"{total - counts['killed'] - counts['survived']:>7}")
    others = [f"{m.id} ({status})" for m, status, _ in results if status != "killed"]
    if others:
        print("not killed: " + ", ".join(others))


def interrupt(*_):
    """SIGTERM unwinds like Ctrl+C, so the file being mutated is restored."""
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mutants", nargs="?", default=str(ROOT / "scripts" / "mutants.tsv"))
    parser.add_argument("--build", default="build", help="build folder, relative to the repository (default build)")
    parser.add_argument("--only", help="comma-separated ids")
    parser.add_argument("--area", help="only the mutants of this area (engine takes in engine/pdf, engine/dwg, ...)")
    parser.add_argument("--results", help="write id, area, file, status, seconds here (TSV)")
    parser.add_argument("--exclude", help="a ctest regex of tests to leave out as well (one that fails without a fault)")
    parser.add_argument("--list", action="store_true", help="list the mutants and whether each applies")
    args = parser.parse_args()

    mutants = read_mutants(Path(args.mutants))
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {m.id for m in mutants}
        if unknown:
            sys.exit("unknown ids: " + ", ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.id in wanted]
    if args.area:
        mutants = [m for m in mutants if m.area == args.area or m.area.startswith(args.area + "/")]
    if args.list:
        for m in mutants:
            state = "ok" if occurrences(m) == 1 else "STALE"
            print(f"{m.id:<10}{m.area:<14}{state:<7}{m.file}  [{m.tests}]")
        return

    build_dir = (ROOT / args.build).resolve()
    exclude = f"{SLOW}|{args.exclude}" if args.exclude else SLOW
    log_dir = build_dir / "mutate-logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    signal.signal(signal.SIGTERM, interrupt)
    with open(log_dir / "clean.log", "w") as log:
        if not build(build_dir, log):
            sys.exit(f"the unmutated tree does not build: see {log_dir / 'clean.log'}")

    results = []
    table = open(args.results, "w") if args.results else None
    if table:
        table.write("id\tarea\tfile\tstatus\tseconds\n")
    started = time.monotonic()
    try:
        for mutant in mutants:
            began = time.monotonic()
            log_path = log_dir / f"{mutant.id}.log"
            with open(log_path, "w") as log:
                status = try_mutant(mutant, build_dir, exclude, log)
            seconds = time.monotonic() - began
            results.append((mutant, status, seconds))
            detail = ", ".join(failed_tests(log_path)[:3]) if status == "killed" else ""
            print(f"{mutant.id:<10}{mutant.area:<14}{status:<10}{seconds:7.1f}s  {detail}", flush=True)
            if table:
                table.write(f"{mutant.id}\t{mutant.area}\t{mutant.file}\t{status}\t{seconds:.1f}\n")
                table.flush()
    except KeyboardInterrupt:
        print("interrupted: the mutated file was restored", file=sys.stderr)
    finally:
        if table:
            table.close()
        with open(log_dir / "clean.log", "a") as log:
            build(build_dir, log)  # leave the build as the sources are
    summary(results)
    print(f"total time {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
