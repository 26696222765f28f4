#!/usr/bin/env bash
# Drives the real window under Xvfb with real input events: types the two paths, presses Return (Convert) against
# the scripted service, checks the archive written, and takes a screenshot of the window while it converts.
#
#   gui_e2e.sh UNPLOT PYTHON SCRIPTED_SERVICE [SCREENSHOT.png]
#
# With SCREENSHOT.png the window's picture is kept there (the README's docs/screenshot.png is made this way).
# Exits 77 (skipped) when xvfb-run, xdotool or ImageMagick's import are missing.
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 UNPLOT PYTHON SCRIPTED_SERVICE [SCREENSHOT.png]" >&2
    exit 2
fi
for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ -z "${UNPLOT_E2E_UNDER_XVFB:-}" ]; then
    exec env UNPLOT_E2E_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$0" "$@"
fi

unplot=$1 python=$2 service=$3 screenshot=${4:-}
# Under LeakSanitizer, leaks inside the session-bus and font libraries are not the window's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"
work=$(mktemp -d "${TMPDIR:-/tmp}/unplot-e2e.XXXXXX")
service_pid="" app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 tenths of a second for the command that follows to succeed.
wait_for() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

"$python" "$service" >"$work/port.txt" 2>"$work/requests.log" &
service_pid=$!
wait_for 100 grep -qs '^PORT ' "$work/port.txt" || { echo "the scripted service did not start"; exit 1; }
port=$(sed -n 's/^PORT //p' "$work/port.txt")

input="$work/Drawings/site plan.pdf"
output="$work/Drawings/site plan.zip"
mkdir -p "$work/Drawings" "$work/home"
printf '%%PDF-1.4\n%% SCENARIO:wait3\n%%%%EOF\n' >"$input"

HOME="$work/home" UNPLOT_SERVICE="127.0.0.1:$port" "$unplot" >"$work/app-stdout.txt" 2>"$work/app-stderr.txt" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^unplot$' | head -n 1) || {
    echo "the window did not appear"; cat "$work/app-stderr.txt"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"   # X Y WIDTH HEIGHT

# The input field has the focus when the window opens; Tab twice reaches the output field; Return converts.
xdotool mousemove --sync $((X + 4)) $((Y + 4)) click 1
xdotool type --delay 10 "$input"
xdotool key Tab Tab
xdotool type --delay 10 "$output"
xdotool key Return

# The first queue poll has been answered "waiting" (three times in all): the window shows "Converting...".
wait_for 150 grep -q 'GetConvertQueue' "$work/requests.log" || {
    echo "no upload and poll reached the service"; cat "$work/requests.log" "$work/app-stdout.txt"; exit 1; }
import -window root "$work/screen.png"
convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/window.png"

wait_for 300 test -s "$output" || { echo "no archive written"; cat "$work/requests.log" "$work/app-stdout.txt"; exit 1; }
"$python" - "$output" <<'PY'
import json, sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"PK"), data[:20]
fields = json.loads(data[2:])
expected = {"drp_Type": "1", "txt_Page": "-1", "drp_Version": "14", "fileName": "convert.pdf"}
for key, value in expected.items():
    assert fields.get(key) == value, (key, fields)
PY
grep -q '/download/' "$work/app-stdout.txt" || { echo "no download line on standard output"; exit 1; }

kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""

# Closing the window (Ctrl+Q) while a job runs ends the application at once, with status 0, writing nothing.
printf '%%PDF-1.4\n%% SCENARIO:slow\n%%%%EOF\n' >"$work/Drawings/slow.pdf"
: >"$work/requests.log"
HOME="$work/home" UNPLOT_SERVICE="127.0.0.1:$port" "$unplot" >"$work/app-stdout.txt" 2>"$work/app-stderr.txt" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^unplot$' | head -n 1) || {
    echo "the window did not appear again"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 4)) $((Y + 4)) click 1
xdotool type --delay 10 "$work/Drawings/slow.pdf"
xdotool key Tab Tab
xdotool type --delay 10 "$work/Drawings/slow.zip"
xdotool key Return
wait_for 150 grep -q 'GetConvertQueue' "$work/requests.log" || { echo "the second job did not start"; exit 1; }
xdotool key ctrl+q
wait_for 100 bash -c "! kill -0 $app_pid 2>/dev/null" || { echo "closing the window did not end the application"; exit 1; }
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || { echo "the application ended with status $status:"; tail -n 60 "$work/app-stderr.txt"; exit 1; }
[ ! -e "$work/Drawings/slow.zip" ] || { echo "an archive was written after closing"; exit 1; }

if [ -n "$screenshot" ]; then
    mkdir -p "$(dirname "$screenshot")"
    cp "$work/window.png" "$screenshot"
    echo "screenshot: $screenshot"
fi
echo "the window converted $input into $output"
