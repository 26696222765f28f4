#!/usr/bin/env bash
# Test-only tools from the npm registry (independent DWG readers). Never linked into or shipped with unplot.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
command -v npm >/dev/null || unplot_install_packages nodejs npm
dir=build/npm-tools
if [ ! -d "$dir/node_modules/@mlightcad/libredwg-web" ] || [ ! -d "$dir/node_modules/@mlightcad/libdxfrw-web" ]; then
    mkdir -p "$dir"
    (cd "$dir" && [ -f package.json ] || echo '{"name":"unplot-test-tools","private":true}' > package.json)
    npm install --prefix "$dir" --no-audit --no-fund --loglevel=error @mlightcad/libredwg-web @mlightcad/libdxfrw-web \
        || echo "warning: the npm DWG readers could not be installed; the DWG reader checks will skip"
fi
