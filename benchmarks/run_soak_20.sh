#!/usr/bin/env bash
# Twenty runs in one window on a 16-drive bench (automatic start, one drive
# swapped between runs): the process's threads, open descriptors and
# resident memory after each run, and their growth from the first run to the
# last. A run that leaves a thread, a descriptor or memory behind shows here.
#
#   benchmarks/run_soak_20.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR (default build/soak) is configured here without sanitizers, as a
# release build with the tests, and only the soak program is built in it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/soak}
runs=${2:-20}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRV_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target run_soak_20 -j "${KRV_JOBS:-3}" >/dev/null
export QT_QPA_PLATFORM=offscreen
# The window's debug trace goes to a file beside the program.
trace=$build/run_soak_20.trace
"$build/tests/run_soak_20" --runs "$runs" 2>"$trace" || { tail -20 "$trace" >&2; exit 1; }
