#!/usr/bin/env bash
# Sets up, builds both programs and runs them on an emulated bench.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
krv_need_packages "${KRV_BUILD_PACKAGES[@]}" "${KRV_BENCH_PACKAGES[@]}"

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
KRV_BENCH="$bench" "$build/variant/KRV857xShowStatus"
echo
# The production tool's command-line jobs: no window, the reports go to the
# current folder, the result is the exit code; the debug trace goes to a log.
reports=$PWD/build/demo-reports
tool=$PWD/$build/app/KRV857xVIVade
rm -rf "$reports"
mkdir -p "$reports"
echo "== Command-line jobs of KRV857xVIVade on the demo bench (reports in $reports)"
for job in /V /O; do
    rc=0
    (cd "$reports" && KRV_BENCH="$bench" "$tool" "$job" 2>"$reports/trace-${job#/}.log") || rc=$?
    echo "-- KRV857xVIVade $job: exit code $rc"
done
for report in KRV8574Version.txt KRV857xDeviceInfo.txt; do
    echo "-- $report"
    if [ -f "$reports/$report" ]; then tr -d '\r' <"$reports/$report"; else echo "(not written)"; fi
done
echo
echo "What works today: the emulated bench (bridges, USB tree, disks, volumes, faults), the device"
echo "command path, discovery, the settings file, the main window and the command-line jobs"
echo "/?, /V, /O, /O4, /C:, /CC, /SPD, /PC. The production run (/S), the reset job and PCIe come later."
