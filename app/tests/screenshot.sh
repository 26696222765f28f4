#!/usr/bin/env bash
# Takes the README's screenshot of the real window under Xvfb (the end-to-end check's picture) into
# docs/screenshot.png.   app/tests/screenshot.sh [path/to/unplot]   (default: build/bin/unplot)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
unplot=${1:-$root/build/bin/unplot}
exec "$here/gui_e2e.sh" "$unplot" /usr/bin/python3 "$here/scripted_service.py" "$root/docs/screenshot.png"
