#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
krv_need_packages "${KRV_BUILD_PACKAGES[@]}" "${KRV_TEST_PACKAGES[@]}"

build=build/test
jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRV_SANITIZE=ON -DKRV_BUILD_TESTS=ON
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
# Leak reports of the libraries' own start-up are suppressed by this file only.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300

if [ -x scripts/fuzz.sh ]; then
    scripts/fuzz.sh
fi
echo "All tests passed."
