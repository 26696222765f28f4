#!/usr/bin/env bash
# Converts every sample drawing with unplot-engine in every DXF version and audits each page with ezdxf.
set -euo pipefail
engine=$1 examples=$2 python=$3 audit=$4

[ -f "$audit" ] || { echo "no DXF audit script at $audit"; exit 77; }
"$python" -c 'import ezdxf' 2>/dev/null || { echo "python3-ezdxf is not installed"; exit 77; }
shopt -s nullglob
samples=("$examples"/*.pdf)
[ ${#samples[@]} -gt 0 ] || { echo "no sample drawings in $examples"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for pdf in "${samples[@]}"; do
    for version in 14 15 18 21 23; do
        name=$(basename "${pdf%.pdf}")-$version
        code=0
        "$engine" "$pdf" "$work/$name.zip" --dxf --version "$version" 2>"$work/$name.err" || code=$?
        if [ "$code" -ne 0 ]; then
            echo "$name: unplot-engine exited with $code:"; cat "$work/$name.err"; status=1; continue
        fi
        mkdir -p "$work/$name"
        "$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$work/$name.zip" "$work/$name"
        for dxf in "$work/$name"/page-*.dxf; do
            if ! "$python" "$audit" "$dxf" >"$work/audit.txt" 2>&1; then
                echo "$name: audit failed for $(basename "$dxf"):"; cat "$work/audit.txt"; status=1
            fi
        done
    done
done
[ $status -eq 0 ] && echo "${#samples[@]} sample drawings converted in 5 versions; every page passed the audit"
exit $status
