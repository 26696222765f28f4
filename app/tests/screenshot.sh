#!/usr/bin/env bash
# Takes the README's screenshots of the real window under Xvfb (the end-to-end check's pictures) into docs/:
# screenshot.png (converting) and screenshot-warnings.png (a job that ended with warnings).
#   app/tests/screenshot.sh [BUILD]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
exec "$here/gui_e2e.sh" "$build/bin/unplot" "$build/bin/scripted_service" "$root/docs"
