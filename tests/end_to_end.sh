#!/usr/bin/env bash
# Starts unplotd on a free port, converts the sample drawings with `unplot convert` and audits every DXF it gets back.
set -euo pipefail
unplotd=$1 unplot=$2 engine=$3 examples=$4 python=$5 audit=$6

work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

shopt -s nullglob
samples=("$examples"/*.pdf)
[ ${#samples[@]} -gt 0 ] || { echo "no sample drawings in $examples"; exit 77; }

"$unplotd" --listen 127.0.0.1:0 --data "$work/data" --engine "$engine" --workers 2 2>"$work/unplotd.log" &
server_pid=$!
port=""
for _ in $(seq 1 100); do
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\).*|\1|p' "$work/unplotd.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "unplotd did not start:"; cat "$work/unplotd.log"; exit 1; }

export HOME="$work/home" XDG_DOCUMENTS_DIR="$work/home/Documents"
mkdir -p "$HOME"
status=0
for version in 14 15 18 21 23; do
    out="$work/out-$version"
    if ! "$unplot" convert "${samples[@]}" -d "$out" --dxf --version "$version" --service "127.0.0.1:$port" \
            >"$work/stdout-$version.txt" 2>"$work/stderr-$version.txt"; then
        echo "unplot convert failed for version $version:"
        cat "$work/stdout-$version.txt" "$work/stderr-$version.txt"
        status=1
        continue
    fi
    for pdf in "${samples[@]}"; do
        zip="$out/$(basename "${pdf%.pdf}").zip"
        [ -s "$zip" ] || { echo "missing archive $zip"; status=1; continue; }
        mkdir -p "$zip.d"
        "$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$zip.d"
        dxfs=("$zip.d"/page-*.dxf)
        [ ${#dxfs[@]} -gt 0 ] || { echo "no drawing in $zip"; status=1; continue; }
        for dxf in "${dxfs[@]}"; do
            if ! "$python" "$audit" "$dxf" >"$work/audit.txt" 2>&1; then
                echo "audit failed for $dxf (version $version):"
                cat "$work/audit.txt"
                status=1
            fi
        done
    done
done
# The defaults a new user gets: DWG, all pages, R14.
if "$unplot" convert "${samples[@]}" -d "$work/out-dwg" --service "127.0.0.1:$port" >"$work/stdout-dwg.txt" \
        2>"$work/stderr-dwg.txt"; then
    for pdf in "${samples[@]}"; do
        zip="$work/out-dwg/$(basename "${pdf%.pdf}").zip"
        names=$("$python" -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
        case " $names " in
            *" page-1.dwg "*) ;;
            *) echo "no page-1.dwg in $zip: $names"; status=1 ;;
        esac
    done
else
    echo "unplot convert failed with the default DWG output:"
    cat "$work/stdout-dwg.txt" "$work/stderr-dwg.txt"
    status=1
fi

# DWG 2007, asked for by its name: every archive holds page files of that version and nothing else.
if "$unplot" convert "${samples[@]}" -d "$work/out-dwg2007" --version 2007 --service "127.0.0.1:$port" \
        >"$work/stdout-dwg2007.txt" 2>"$work/stderr-dwg2007.txt"; then
    for pdf in "${samples[@]}"; do
        zip="$work/out-dwg2007/$(basename "${pdf%.pdf}").zip"
        problem=$("$python" -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
bad = [n for n in z.namelist() if not (n.startswith("page-") and n.endswith(".dwg")) or z.read(n)[:6] != b"AC1021"]
print(" ".join(bad))' "$zip")
        [ -z "$problem" ] || { echo "not DWG 2007 in $zip: $problem"; status=1; }
    done
else
    echo "unplot convert failed with DWG 2007 output:"
    cat "$work/stdout-dwg2007.txt" "$work/stderr-dwg2007.txt"
    status=1
fi

[ $status -eq 0 ] && echo "converted ${#samples[@]} drawings to DXF in 5 versions and to DWG (R14 and 2007); every DXF passed the audit"
exit $status
