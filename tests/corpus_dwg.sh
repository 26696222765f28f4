#!/usr/bin/env bash
# Every readable PDF of the shared corpus converts to DWG in every version, and an independent
# reader (LibreDWG, a test tool from npm) opens every page with no error and the entity counts of our DXF of it.
set -euo pipefail
engine=$1 corpus=$2 python=$3 readback=$4
export UNPLOT_NPM_TOOLS=$5

[ -d "$corpus" ] || { echo "SKIP: no corpus at $corpus"; exit 77; }
missing=$("$python" "$readback" check libredwg) || { echo "SKIP: $missing"; exit 77; }

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
        dwgs=("$work"/out/page-*.dwg)
        pages=$((pages + ${#dwgs[@]}))
        if ! problems=$("$python" "$readback" pages "${dwgs[@]}"); then
            echo "$problems" | sed "s/^/FAIL $name (version $version) /"
            failures=$((failures + $(echo "$problems" | wc -l)))
        fi
    done
done
echo "$pages DWG pages read back; $failures failure(s)"
[ "$failures" -eq 0 ]
