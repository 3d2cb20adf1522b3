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
krvbench="$build/tools/krvbench/krvbench"
rm -rf "$bench"
"$krvbench" create "$bench" --ports 4 --time-scale 20 \
    --chip 1=KRV8574 --link 1=USB4 --chip 2=KRV8574 --link 2=USB3 \
    --chip 3=KRV752B --link 3=USB3 --chip 4=KRV6390 --link 4=USB3
echo
"$krvbench" show "$bench"
echo

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
echo "== Without a bench: the programs refuse, as no host backend exists yet"
"$build/app/KRV857xVIVade" && echo "unexpected success" || echo "(exit code $?)"
echo
echo "== On the demo bench"
KRV_BENCH="$bench" "$build/app/KRV857xVIVade"
KRV_BENCH="$bench" "$build/variant/KRV857xShowStatus"
echo
echo "What works today: the emulated bench (krvbench create/show/plug/unplug), the platform layer,"
echo "the debug log, the utility object and the window layer. The production run comes later."
