#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test; then builds the suites that start threads once more with
# ThreadSanitizer and runs them.
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

# ThreadSanitizer cannot share a build with AddressSanitizer: its own
# folder, the programs the tests start and only the suites with threads.
# Every program the tests start reads the same options; a report fails the
# test. Only frames inside Qt's own libraries are suppressed (the file says
# why).
tsan=build/tsan
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRV_SANITIZE_THREAD=ON -DKRV_BUILD_TESTS=ON
cmake --build "$tsan" -j "$jobs"
# QT_NO_GLIB: Qt's own event dispatcher, so that no GLib thread (not built
# for the sanitizer either) runs beside ours.
QT_NO_GLIB=1 TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir "$tsan" --output-on-failure -j "$jobs" --timeout 600

if [ -x scripts/fuzz.sh ]; then
    scripts/fuzz.sh
fi
echo "All tests passed."
