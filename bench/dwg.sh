#!/usr/bin/env bash
# DWG benchmark: for every PDF of the corpus, unplot-engine's time and output size writing DWG beside DXF (same
# version), then every DWG page read back by LibreDWG (npm @mlightcad/libredwg-web, a test tool) and its model-space
# entity counts compared with the DXF page's (engine/tests/readback.py). Prints one line per file and the totals.
#
#   bench/dwg.sh [BUILD_DIR] [CORPUS_DIR]     defaults: build-bench, ../shared/corpus
#   VERSIONS="14 15 18 21 23" RUNS=3 NPM_TOOLS=build/npm-tools/node_modules   (environment, with these defaults)
#
# Times are the best wall time of RUNS runs (the machine is shared), in milliseconds; sizes are the uncompressed
# page files in the archive. A page that LibreDWG reads with an error bit >= 0x80, the CRC bit, no objects, or a
# different entity count is listed as a failure, and the script exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
corpus=${2:-../shared/corpus}
versions=${VERSIONS:-"14 15 18 21 23"}
runs=${RUNS:-3}
npm_tools=${NPM_TOOLS:-${UNPLOT_NPM_TOOLS:-build/npm-tools/node_modules}}
engine=$build/bin/unplot-engine

if [ ! -x "$engine" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPLOT_BUILD_CLIENT=OFF -DBUILD_TESTING=OFF \
        >/dev/null
    cmake --build "$build" --target unplot-engine
fi
[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }
export UNPLOT_NPM_TOOLS=$npm_tools
check_reader=1
if ! missing=$(/usr/bin/python3 engine/tests/readback.py check libredwg); then
    echo "note: $missing: no reader check" >&2
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
        if [ "$check_reader" = 1 ] &&
            ! problems=$(/usr/bin/python3 engine/tests/readback.py pages "$work"/pages/page-*.dwg); then
            verdict="FAIL $(echo "$problems" | tr '\n' ' ')"
            failures=$((failures + $(echo "$problems" | wc -l)))
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
