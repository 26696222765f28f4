#!/usr/bin/env bash
# Transfer benchmark: a 200 MB upload (multipart POST) and a 200 MB download through the client's HTTP layer
# (unplot-transfer-bench, on QtHttpClient) beside curl doing the same transfers, against a local server.
# Prints, for each, the best wall time of RUNS runs (the machine is shared: the best run is the one least
# disturbed), the CPU time (user + system) of that run, and the highest peak memory (maximum resident set size).
#
#   bench/transfer.sh [BUILD_DIR]        default build-bench; SIZE_MB=200 RUNS=5 by default
#
# Goal: our time within 1.5x of curl's, our peak memory under 2x the file size + 100 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
size_mb=${SIZE_MB:-200}
runs=${RUNS:-5}

[ -x /usr/bin/time ] || { echo "GNU time is missing: apt-get install time" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is missing: apt-get install curl" >&2; exit 1; }
if [ ! -x "$build/bin/unplot-transfer-bench" ] || [ ! -x "$build/bin/unplot-transfer-server" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPLOT_BUILD_SERVICE=OFF -DBUILD_TESTING=OFF \
        >/dev/null
    cmake --build "$build" --target unplot-transfer-bench unplot-transfer-server
fi
bench=$build/bin/unplot-transfer-bench
server_bin=$build/bin/unplot-transfer-server

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

input=$work/input.pdf
{ printf '%%PDF-1.7\n'; head -c $((size_mb * 1024 * 1024)) /dev/urandom; } >"$input"
file_bytes=$(stat -c %s "$input")

"$server_bin" "$input" >"$work/port" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 50); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { echo "the server did not start" >&2; cat "$work/server.log" >&2; exit 1; }
base=http://127.0.0.1:$port

# measure NAME COMMAND...: runs the command under GNU time; sets wall and cpu (seconds) and rss (kilobytes).
measure() {
    local name=$1; shift
    /usr/bin/time -v -o "$work/time" "$@" >"$work/out" 2>&1 || {
        echo "$name failed:" >&2; cat "$work/out" >&2; exit 1
    }
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$work/time")
}

# check_upload: the server saw the whole file in the convertData part.
check_upload() {
    grep -q "\"bytes\":$file_bytes" "$work/out" || { echo "upload incomplete:" >&2; cat "$work/out" >&2; exit 1; }
}
check_download() {
    cmp -s "$input" "$1" || { echo "download differs from the served file" >&2; exit 1; }
    rm -f "$1"
}

declare -A time_of cpu_of rss_of
run() {
    local key=$1 check=$2; shift 2
    time_of[$key]=999999 rss_of[$key]=0
    for _ in $(seq "$runs"); do
        measure "$key" "$@"
        $check
        if awk -v a="$wall" -v b="${time_of[$key]}" 'BEGIN { exit !(a < b) }'; then
            time_of[$key]=$wall cpu_of[$key]=$cpu
        fi
        if [ "$rss" -gt "${rss_of[$key]}" ]; then rss_of[$key]=$rss; fi
    done
}

dest=$work/Documents/temp.zip
run up_ours check_upload "$bench" upload "$base/upload" "$input"
run up_curl check_upload curl -sS -H 'Expect:' -F "convertData=@$input;filename=convert.pdf;type=application/pdf" \
    -F drp_Type=1 -F txt_Page=-1 -F drp_Version=18 "$base/upload"
run down_ours "check_download $dest" "$bench" download "$base/download" "$dest"
run down_curl "check_download $dest" curl -sS --create-dirs -o "$dest" "$base/download"
run chunk_ours "check_download $dest" "$bench" download "$base/download?chunked=1" "$dest"
run chunk_curl "check_download $dest" curl -sS --create-dirs -o "$dest" "$base/download?chunked=1"

limit_kb=$(((2 * file_bytes + 100 * 1024 * 1024) / 1024))
printf '\nTransfer of a %d MB file over 127.0.0.1: best wall time of %d runs (CPU time of that run), highest peak memory\n' \
    "$size_mb" "$runs"
printf 'Load average at the end: %s\n\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-28s %16s %16s %7s %10s %10s %s\n' transfer "ours s (cpu)" "curl s (cpu)" ratio "ours MB" "curl MB" verdict
for pair in "up:upload (multipart POST)" "down:download (Content-Length)" "chunk:download (chunked)"; do
    key=${pair%%:*} label=${pair#*:}
    ours_t=${time_of[${key}_ours]} curl_t=${time_of[${key}_curl]}
    ours_r=${rss_of[${key}_ours]} curl_r=${rss_of[${key}_curl]}
    verdict=$(awk -v o="$ours_t" -v c="$curl_t" -v r="$ours_r" -v l="$limit_kb" 'BEGIN {
        c = (c < 0.01) ? 0.01 : c
        v = (o <= 1.5 * c) ? "time ok" : "TIME OVER 1.5x"
        v = v ((r <= l) ? ", memory ok" : ", MEMORY OVER LIMIT")
        print v }')
    printf '%-28s %8.2f (%5.2f) %8.2f (%5.2f) %6.2fx %10.1f %10.1f %s\n' "$label" \
        "$ours_t" "${cpu_of[${key}_ours]}" "$curl_t" "${cpu_of[${key}_curl]}" \
        "$(awk -v o="$ours_t" -v c="$curl_t" 'BEGIN { print o / ((c < 0.01) ? 0.01 : c) }')" \
        "$(awk -v r="$ours_r" 'BEGIN { print r / 1024 }')" "$(awk -v r="$curl_r" 'BEGIN { print r / 1024 }')" \
        "$verdict"
done
printf '\nMemory limit: %.0f MB (2 x file + 100 MB)\n' "$(awk -v l="$limit_kb" 'BEGIN { print l / 1024 }')"
