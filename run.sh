#!/usr/bin/env bash
# Installs what is missing, builds, starts the conversion service on localhost when nothing answers there yet,
# and opens the app.   ./run.sh                      the window
#                      ./run.sh convert IN.pdf -o OUT.zip [options]   the same conversion without a window
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
source scripts/deps.sh
unplot_install_packages "${UNPLOT_RUN_PACKAGES[@]}" >&2

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target unplot unplotd unplot-engine >&2

service="${UNPLOT_SERVICE:-localhost:8040}"
if ! curl -fsS --max-time 2 "http://$service/healthz" >/dev/null 2>&1; then
    if [ -n "${UNPLOT_SERVICE:-}" ]; then
        echo "warning: nothing answers at $service (UNPLOT_SERVICE); the app will not be able to convert." >&2
    else
        state="${XDG_STATE_HOME:-$HOME/.local/state}/unplot"
        mkdir -p "$state"
        echo "Starting unplotd on $service (log: $state/unplotd.log)" >&2
        nohup build/bin/unplotd --listen 127.0.0.1:8040 >>"$state/unplotd.log" 2>&1 &
        for _ in $(seq 1 50); do
            curl -fsS --max-time 1 "http://$service/healthz" >/dev/null 2>&1 && break
            sleep 0.1
        done
    fi
fi

if [ "${1:-}" != "convert" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: the window needs a desktop session. Without one, use: ./run.sh convert IN.pdf -o OUT.zip" >&2
    exit 1
fi
exec build/bin/unplot "$@"
