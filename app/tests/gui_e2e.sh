#!/usr/bin/env bash
# Drives the real window under Xvfb with real input events: types the two paths, presses Return (Convert) against
# the scripted service, checks the archive written, and takes two screenshots: while it converts, and after the job
# (which comes with warnings) has ended.
#
#   gui_e2e.sh UNPLOT SCRIPTED_SERVICE [FOLDER]    FOLDER receives screenshot.png and screenshot-warnings.png
#
# Exits 77 (skipped) when xvfb-run, xdotool or ImageMagick are missing.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 UNPLOT SCRIPTED_SERVICE [FOLDER]" >&2; exit 2; }
for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ -z "${UNPLOT_E2E_UNDER_XVFB:-}" ]; then
    exec env UNPLOT_E2E_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$0" "$@"
fi

unplot=$1 service=$2 screenshots=${3:-}
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
fail() { echo "$1"; cat "$work/requests.log" "$work/app-stdout.txt" "$work/app-stderr.txt" 2>/dev/null; exit 1; }

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

"$service" >"$work/port.txt" 2>"$work/requests.log" &
service_pid=$!
wait_for 100 grep -qs '^PORT ' "$work/port.txt" || fail "the scripted service did not start"
port=$(sed -n 's/^PORT //p' "$work/port.txt")
mkdir -p "$work/Drawings" "$work/home"

# The window's picture as it is now, into $1.
shoot() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"
}

input="$work/Drawings/site plan.pdf" output="$work/Drawings/site plan.zip"
printf '%%PDF-1.4\n%% SCENARIO:wait3 SCENARIO:warn\n%%%%EOF\n' >"$input"
HOME="$work/home" UNPLOT_SERVICE="127.0.0.1:$port" "$unplot" >"$work/app-stdout.txt" 2>"$work/app-stderr.txt" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^unplot$' | head -n 1) || fail "no window"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 4)) $((Y + 4)) click 1 # the input field has the focus
xdotool type --delay 10 "$input"
xdotool key Tab Tab
xdotool type --delay 10 "$output"
xdotool key Return
wait_for 150 grep -q 'GetConvertQueue' "$work/requests.log" || fail "no upload and poll reached the service"
shoot "$work/converting.png" # the first poll was answered "waiting": the window shows "Converting..."

wait_for 300 test -s "$output" || fail "no archive written"
grep -q '{"drp_Type":"1","drp_Version":"14","txt_Page":"-1"}' "$output" || fail "unexpected form in the archive"
grep -q '/download/' "$work/app-stdout.txt" || fail "no download line on standard output"
sleep 1
xdotool key Return # dismisses "Convert successful"
wait_for 50 bash -c "[ \$(xdotool search --onlyvisible --name . | wc -l) -le 1 ]" || true
sleep 0.5
shoot "$work/warnings.png" # the status line shows the warnings and offers the folder
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true

if [ -n "$screenshots" ]; then
    mkdir -p "$screenshots"
    cp "$work/converting.png" "$screenshots/screenshot.png"
    cp "$work/warnings.png" "$screenshots/screenshot-warnings.png"
    echo "screenshots: $screenshots/screenshot.png $screenshots/screenshot-warnings.png"
fi
echo "the window converted $input into $output"
