#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/*.cpp) with clang, ASan and UBSan in a
# build of its own that needs neither Qt nor the bench, and runs each one
# briefly. Fails when a target cannot be built or finds a crash, a leak or
# undefined behaviour; the input that did it is kept in build/fuzz/artifacts.
#
# A target names its seed files in a line of its source:
#   // seed-corpus: tests/app/golden/*.ini
# (globs relative to the project folder; several lines may be given).
#
# KRV_FUZZ_SECONDS sets the time per target (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${KRV_FUZZ_SECONDS:-20}
build=build/fuzz
jobs=$(nproc)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKRV_SANITIZE=ON -DKRV_BUILD_FUZZERS=ON -DKRV_BUILD_TESTS=OFF -DKRV_BUILD_PROGRAMS=OFF >/dev/null
cmake --build "$build" -j "$jobs"

shopt -s nullglob
failed=()
for source in fuzz/*.cpp; do
    name=$(basename "$source" .cpp)
    binary="$build/fuzz/$name"
    corpus="$build/corpus/$name"
    artifacts="$build/artifacts"
    mkdir -p "$corpus" "$artifacts"
    while read -r pattern; do
        for seed in $pattern; do
            [ -f "$seed" ] && cp -f "$seed" "$corpus/"
        done
    done < <(sed -n 's|^// *seed-corpus: *||p' "$source")

    echo "fuzz: $name for ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$corpus" >"$build/$name.log" 2>&1; then
        tail -n 40 "$build/$name.log"
        failed+=("$name")
    else
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$name.log" | sed "s/^/fuzz: $name /" || true
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: FAILED: ${failed[*]} (inputs in $build/artifacts)"
    exit 1
fi
echo "fuzz: all targets ran clean."
