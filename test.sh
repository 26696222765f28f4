#!/usr/bin/env bash
# Installs what the tests need, builds everything into build/ and runs every test.
# UNPLOT_SANITIZE_RUN=1 (set under CI) adds a second build with AddressSanitizer and UndefinedBehaviorSanitizer;
# the whole-system check is left out there (the service's per-job address-space limit and ASan's shadow memory
# do not mix).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
unplot_install_packages "${UNPLOT_RUN_PACKAGES[@]}" "${UNPLOT_TEST_PACKAGES[@]}"
scripts/install-test-tools.sh

jobs=$(nproc)
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNPLOT_WERROR=$werror
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

# The Debian packages of this build: the files they hold, lintian, and a conversion by the programs inside them.
rm -rf build/packages
cpack --config build/CPackConfig.cmake -B build/packages
packaging/check-packages.sh build/packages examples/flange-plate.pdf

# Every fuzz target for a few seconds: its seeds (crashes found before among them) and some new inputs, the same
# ones on every run (longer runs with new inputs each time: scripts/fuzz.sh 600).
UNPLOT_FUZZ_SEED=1 scripts/fuzz.sh 10

if [ -n "${UNPLOT_SANITIZE_RUN:-${CI:-}}" ]; then
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUNPLOT_SANITIZE=ON -DUNPLOT_WERROR=$werror
    cmake --build build-asan -j"$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 -LE system
fi
