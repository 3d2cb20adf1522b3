#!/usr/bin/env bash
# Sets up, builds both programs and runs them on an emulated bench.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
krv_need_packages "${KRV_BUILD_PACKAGES[@]}"

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

bench=${KRV_DEMO_BENCH:-$PWD/build/demo-bench}
rm -rf "$bench"
"$build/tools/krvbench/krvbench" create "$bench" --ports 4
"$build/tools/krvbench/krvbench" show "$bench"

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export KRV_BENCH="$bench"
"$build/app/KRV857xVIVade" || true
"$build/variant/KRV857xShowStatus" || true
