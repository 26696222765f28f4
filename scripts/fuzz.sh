#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang, AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/ and
# runs them one after the other, each for SECONDS (default 60), from its committed seeds (fuzz/corpus/TARGET) and
# what earlier runs found (build-fuzz/corpus/TARGET).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: client pages service pdf writers (default: all)
#
# A crash, hang, leak or broken check is saved under build-fuzz/artifacts/TARGET/; rerun it with
# `build-fuzz/bin/fuzz_TARGET FILE`. UNPLOT_FUZZ_SEED=N makes the new inputs the same on every run (0, the default:
# new ones each time). After the writers ran, a sample of their drawings (UNPLOT_FUZZ_SAMPLE, default
# 10) is written out (build-fuzz/readback/sample-N.dxf and .dwg) and read back by ezdxf and LibreDWG. Every run adds a line to build-fuzz/history.tsv.
# Exits 1 when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(client pages service pdf writers)

if ! command -v clang++ >/dev/null || [ ! -e /usr/lib/llvm-14/lib/libFuzzer.a ]; then
    echo "fuzz: skipped, clang and libFuzzer (clang, libfuzzer-14-dev) are not installed"
    exit 0
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DUNPLOT_FUZZ=ON -DUNPLOT_SANITIZE=ON -DBUILD_TESTING=OFF "${launcher[@]}" >/dev/null \
    && cmake --build build-fuzz -j"$(nproc)" --target fuzzers || exit 1

# Reads the writers' drawings for a sample of their inputs back with the independent readers.
read_back() {
    local out=build-fuzz/readback inputs=() failed=0 i=0
    rm -rf "$out" && mkdir -p "$out"
    mapfile -t inputs < <(find build-fuzz/corpus/writers fuzz/corpus/writers -type f | shuf -n "${UNPLOT_FUZZ_SAMPLE:-10}")
    for input in "${inputs[@]}"; do
        i=$((i + 1))
        UNPLOT_FUZZ_OUTPUT=$out/sample-$i build-fuzz/bin/fuzz_writers "$input" >/dev/null 2>&1
    done
    local readback=engine/tests/readback.py
    /usr/bin/python3 $readback dxf "$out"/*.dxf >"$out/ezdxf.json"
    case $? in
        0) ;;
        77) echo "fuzz writers: read-back by ezdxf skipped ($(head -n 1 "$out/ezdxf.json"))" ;;
        *) echo "fuzz writers: ezdxf finds problems: $out/ezdxf.json"; failed=1 ;;
    esac
    if ! reason=$(/usr/bin/python3 $readback check libredwg); then
        echo "fuzz writers: read-back by LibreDWG skipped ($reason)"
        return $failed
    fi
    i=0
    for input in "${inputs[@]}"; do
        i=$((i + 1))
        /usr/bin/python3 $readback dwg "$out/sample-$i.dwg" |
            /usr/bin/python3 -c 'import json, sys; r = json.loads(sys.stdin.read() or "{}")
sys.exit(0 if r.get("error", 255) < 0x80 and not r["error"] & 1 and r.get("objects", 0) > 0 else 1)' \
            || { echo "fuzz writers: LibreDWG cannot read $out/sample-$i.dwg (from $input)"; failed=1; }
    done
    return $failed
}

status=0
for target in "${targets[@]}"; do
    binary=build-fuzz/bin/fuzz_$target
    [ -x "$binary" ] || { echo "fuzz: no target $target"; status=1; continue; }
    mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target" build-fuzz/logs
    corpora=("build-fuzz/corpus/$target" "fuzz/corpus/$target")
    options=(-max_total_time="$seconds" -seed="${UNPLOT_FUZZ_SEED:-0}" -timeout=30 -close_fd_mask=3 -print_final_stats=1
             -artifact_prefix="build-fuzz/artifacts/$target/")
    if [ "$target" = pdf ]; then
        options+=(-max_len=65536)
        [ -d ../shared/corpus ] && corpora+=(../shared/corpus)
    fi
    log=build-fuzz/logs/$target.log
    nice "$binary" "${options[@]}" "${corpora[@]}" >"$log" 2>&1
    result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
    verdict=ok
    if [ $result -ne 0 ]; then
        verdict=FAILED
        grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$log" | head -n 5
    elif [ "$target" = writers ] && ! read_back; then
        verdict=FAILED
    fi
    [ $verdict = ok ] || status=1
    echo "fuzz $target: $verdict, ${runs:-?} runs in ${seconds} s, ${coverage:-no coverage line} (log: $log)"
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$target" "$seconds" "${runs:-?}" "${coverage:-?}" \
        "$verdict" >>build-fuzz/history.tsv
done
exit $status
