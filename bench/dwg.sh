#!/usr/bin/env bash
# DWG benchmark: for every PDF of the corpus, unplot-engine's time and output size writing DWG beside DXF (same
# version), then every DWG page read back by LibreDWG (npm @mlightcad/libredwg-web, a test tool) and its model-space
# entity count compared with the DXF page's (python3-ezdxf). Prints one line per file and the totals.
#
#   bench/dwg.sh [BUILD_DIR] [CORPUS_DIR]     defaults: build-bench, ../shared/corpus
#   VERSIONS="15 14" RUNS=3 NPM_TOOLS=build/npm-tools/node_modules   (environment, with these defaults)
#
# Times are the best wall time of RUNS runs (the machine is shared), in milliseconds; sizes are the uncompressed
# page files in the archive. A page that LibreDWG reads with an error bit >= 0x80, the CRC bit, no objects, or a
# different entity count is listed as a failure, and the script exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
corpus=${2:-../shared/corpus}
versions=${VERSIONS:-"15 14"}
runs=${RUNS:-3}
npm_tools=${NPM_TOOLS:-${UNPLOT_NPM_TOOLS:-build/npm-tools/node_modules}}
engine=$build/bin/unplot-engine

if [ ! -x "$engine" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPLOT_BUILD_CLIENT=OFF -DBUILD_TESTING=OFF \
        >/dev/null
    cmake --build "$build" --target unplot-engine
fi
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }
check_reader=1
if ! command -v node >/dev/null || [ ! -d "$npm_tools/@mlightcad/libredwg-web" ]; then
    echo "note: node or @mlightcad/libredwg-web missing (scripts/install-test-tools.sh): no reader check" >&2
    check_reader=0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_ms() { date +%s%3N; }

# Best wall time of $runs runs of the engine, in ms; the archive of the last run stays in $2.
best_time() {
    local pdf=$1 zip=$2 best=
    shift 2
    for _ in $(seq "$runs"); do
        rm -f "$zip"
        local t0 t1
        t0=$(now_ms)
        "$engine" "$pdf" "$zip" "$@" >/dev/null 2>&1 || [ $? -eq 10 ]
        t1=$(now_ms)
        local t=$((t1 - t0))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    echo "$best"
}

# Uncompressed size of the page files in an archive.
zip_size() {
    /usr/bin/python3 -c 'import sys, zipfile
print(sum(i.file_size for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.filename.startswith("page-")))' "$1"
}

failures=0
for version in $versions; do
    printf '\nversion %s\n%-52s %6s %9s %9s %11s %11s %6s %s\n' "$version" file pages dxf_ms dwg_ms dxf_bytes dwg_bytes \
        ratio reader
    sum_dxf_ms=0 sum_dwg_ms=0 sum_dxf=0 sum_dwg=0 sum_pages=0
    for pdf in "$corpus"/*.pdf; do
        name=$(basename "$pdf")
        if ! "$engine" --info "$pdf" >"$work/info" 2>/dev/null || grep -q '"error"' "$work/info"; then
            printf '%-52s %s\n' "$name" "left out: $(tr -d '\n' <"$work/info")"
            continue
        fi
        dxf_ms=$(best_time "$pdf" "$work/out.dxf.zip" --dxf --version "$version")
        dwg_ms=$(best_time "$pdf" "$work/out.dwg.zip" --dwg --version "$version")
        if [ ! -f "$work/out.dwg.zip" ] || [ ! -f "$work/out.dxf.zip" ]; then
            printf '%-52s %s\n' "$name" "no output"
            failures=$((failures + 1))
            continue
        fi
        dxf_bytes=$(zip_size "$work/out.dxf.zip")
        dwg_bytes=$(zip_size "$work/out.dwg.zip")
        rm -rf "$work/pages" && mkdir "$work/pages"
        (cd "$work/pages" && unzip -q ../out.dwg.zip && unzip -q -o ../out.dxf.zip)
        pages=$(find "$work/pages" -name 'page-*.dwg' | wc -l)
        verdict=ok
        if [ "$check_reader" = 1 ]; then
            for dwg in "$work"/pages/page-*.dwg; do
                dxf=${dwg%.dwg}.dxf
                json=$(node engine/dwg/tests/read_dwg.mjs "$npm_tools" "$dwg" 2>/dev/null | tail -1 || true)
                problem=$(/usr/bin/python3 - "$json" "$dxf" <<'PY'
import json, sys
import ezdxf
try:
    r = json.loads(sys.argv[1])
except ValueError:
    print("no reader result"); sys.exit()
expected = len(ezdxf.readfile(sys.argv[2]).modelspace())
if r["error"] >= 0x80 or r["error"] & 1 or r["objects"] == 0:
    print(f"error 0x{r['error']:x}")
elif r["modelSpaceTotal"] != expected:
    print(f"{r['modelSpaceTotal']} entities, DXF has {expected}")
PY
)
                if [ -n "$problem" ]; then
                    verdict="FAIL $(basename "$dwg"): $problem"
                    failures=$((failures + 1))
                fi
            done
        fi
        ratio=$(awk -v a="$dwg_bytes" -v b="$dxf_bytes" 'BEGIN { printf "%.2f", b ? a / b : 0 }')
        printf '%-52s %6s %9s %9s %11s %11s %6s %s\n' "$name" "$pages" "$dxf_ms" "$dwg_ms" "$dxf_bytes" "$dwg_bytes" \
            "$ratio" "$verdict"
        sum_dxf_ms=$((sum_dxf_ms + dxf_ms)) sum_dwg_ms=$((sum_dwg_ms + dwg_ms))
        sum_dxf=$((sum_dxf + dxf_bytes)) sum_dwg=$((sum_dwg + dwg_bytes)) sum_pages=$((sum_pages + pages))
    done
    ratio=$(awk -v a="$sum_dwg" -v b="$sum_dxf" 'BEGIN { printf "%.2f", b ? a / b : 0 }')
    printf '%-52s %6s %9s %9s %11s %11s %6s\n' total "$sum_pages" "$sum_dxf_ms" "$sum_dwg_ms" "$sum_dxf" "$sum_dwg" "$ratio"
done
[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
