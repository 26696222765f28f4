#!/usr/bin/env bash
# Every readable PDF of the shared corpus converts to DWG in every version, and an independent
# reader (LibreDWG, a test tool from npm) opens every page with no error and the entity counts of our DXF of it.
set -euo pipefail
engine=$1 corpus=$2 python=$3 reader=$4 npm_tools=$5

[ -d "$corpus" ] || { echo "SKIP: no corpus at $corpus"; exit 77; }
command -v node >/dev/null && [ -d "$npm_tools/@mlightcad/libredwg-web" ] ||
    { echo "SKIP: node or @mlightcad/libredwg-web missing (scripts/install-test-tools.sh)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 pages=0
for version in 14 15 18 21 23; do
    for pdf in "$corpus"/*.pdf; do
        name=$(basename "$pdf")
        "$engine" --info "$pdf" >/dev/null 2>&1 || continue  # refused at upload: not a conversion
        rm -rf "$work/out" && mkdir "$work/out"
        for type in dwg dxf; do
            status=0
            "$engine" "$pdf" "$work/$type.zip" --$type --version "$version" 2>/dev/null || status=$?
            if [ $status -ne 0 ] && [ $status -ne 10 ]; then
                echo "FAIL $name ($type, $version): the engine exited $status"
                failures=$((failures + 1))
                continue 2
            fi
            (cd "$work/out" && unzip -q -o "../$type.zip")
        done
        for dwg in "$work"/out/page-*.dwg; do
            pages=$((pages + 1))
            json=$(node "$reader" "$npm_tools" "$dwg" 2>/dev/null | tail -n 1 || true)
            problem=$("$python" - "$json" "${dwg%.dwg}.dxf" <<'PY'
import collections, json, sys
try:
    r = json.loads(sys.argv[1])
except ValueError:
    print("no reader result"); sys.exit()
if r["error"] >= 0x80 or r["error"] & 1 or r["objects"] == 0:
    print(f"reader error 0x{r['error']:x}"); sys.exit()
# Entity counts of our DXF of the same page: the ENTITIES section, one "0" group per entity.
lines = open(sys.argv[2], encoding="utf-8", errors="replace").read().splitlines()
start = next(i for i in range(0, len(lines) - 1, 2) if lines[i].strip() == "2" and lines[i + 1] == "ENTITIES")
counts = collections.Counter()
for i in range(start + 2, len(lines) - 1, 2):
    if lines[i].strip() == "0":
        if lines[i + 1] == "ENDSEC":
            break
        counts[lines[i + 1]] += 1
if dict(counts) != r["modelSpace"]:
    print(f"reader counts {r['modelSpace']}, DXF has {dict(counts)}")
PY
)
            if [ -n "$problem" ]; then
                echo "FAIL $name (version $version) $(basename "$dwg"): $problem"
                failures=$((failures + 1))
            fi
        done
    done
done
echo "$pages DWG pages read back; $failures failure(s)"
[ "$failures" -eq 0 ]
