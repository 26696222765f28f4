#!/usr/bin/env bash
# Checks the Debian packages cpack wrote into DIR: the files each holds, lintian (an error fails the check; the
# warnings are shown), and that the programs unpacked from them convert EXAMPLE.pdf end to end.
# Usage: packaging/check-packages.sh DIR EXAMPLE.pdf
set -euo pipefail
dir=$1 example=$2
app=$(echo "$dir"/unplot_*.deb) service=$(echo "$dir"/unplotd_*.deb)
[ -f "$app" ] && [ -f "$service" ] || { echo "no unplot and unplotd package (one each) in $dir"; exit 1; }

work=$(mktemp -d) pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "check-packages: $*"; status=1; }

# The files of each package, no more and no fewer.
holds() {
    local deb=$1 got want
    shift
    got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print substr($6, 3)}' | sort)
    want=$(printf '%s\n' "$@" | sort)
    [ "$got" = "$want" ] || fail "$(basename "$deb") holds other files than expected:" \
        "$(diff <(echo "$want") <(echo "$got") | grep '^[<>]')"
}
holds "$app" usr/bin/unplot usr/share/man/man1/unplot.1.gz usr/share/applications/unplot.desktop \
    usr/share/metainfo/unplot.metainfo.xml usr/share/icons/hicolor/scalable/apps/unplot.svg \
    usr/share/icons/hicolor/256x256/apps/unplot.png usr/share/doc/unplot/copyright usr/share/doc/unplot/changelog.gz
holds "$service" usr/bin/unplotd usr/bin/unplot-engine usr/lib/systemd/system/unplotd.service \
    usr/share/man/man1/unplotd.1.gz usr/share/man/man1/unplot-engine.1.gz usr/share/doc/unplotd/copyright \
    usr/share/doc/unplotd/changelog.gz

lintian --allow-root --fail-on error "$app" "$service" || fail "lintian reports errors"

# The unpacked programs: the package's version, then a conversion through the unpacked service and engine.
dpkg-deb -x "$app" "$work/root"
dpkg-deb -x "$service" "$work/root"
bin=$work/root/usr/bin version=$(dpkg-deb -f "$app" Version)
for program in unplot unplotd unplot-engine; do
    line=$("$bin/$program" --version)
    [[ $line == "$program $version "* ]] || fail "$program --version says '$line', the package $version"
done
"$bin/unplotd" --listen 127.0.0.1:0 --data "$work/data" 2>"$work/unplotd.log" &
pid=$!
port=""
for _ in $(seq 100); do
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\).*|\1|p' "$work/unplotd.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { cat "$work/unplotd.log"; fail "the unpacked unplotd did not start"; exit 1; }
# unplotd runs the unplot-engine beside it, the unpacked one.
HOME=$work "$bin/unplot" convert "$example" -o "$work/out.zip" --dxf --service "127.0.0.1:$port" \
    >"$work/convert.log" 2>&1 || { cat "$work/convert.log"; fail "the unpacked unplot convert failed"; }
entities=$(unzip -p "$work/out.zip" page-1.dxf | sed -n '/^ENTITIES$/,/^ENDSEC$/p') || true
grep -qx -e CIRCLE -e LINE <<<"$entities" || fail "no page-1.dxf with lines or circles in the archive"

[ $status -eq 0 ] && echo "check-packages: $(basename "$app") and $(basename "$service") hold what they should," \
    "lintian reports no errors, and their programs converted $(basename "$example")"
exit $status
