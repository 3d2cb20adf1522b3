#!/usr/bin/env bash
# Sets up, builds both programs and runs them on an emulated bench.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
# dosfstools: fsck.fat judges the volume the production run formats.
krv_need_packages "${KRV_BUILD_PACKAGES[@]}" "${KRV_BENCH_PACKAGES[@]}" dosfstools

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

bench=${KRV_DEMO_BENCH:-$PWD/build/demo-bench}
krvbench="$build/tools/krvbench/krvbench"
rm -rf "$bench"
# Port 2, the drive the production run below takes, has a small disk, so
# that copying its volume out for fsck.fat is quick.
"$krvbench" create "$bench" --ports 4 --time-scale 20 \
    --chip 1=KRV8574 --link 1=USB4 --chip 2=KRV8574 --link 2=USB3 --disk-size 2=1G \
    --chip 3=KRV752B --link 3=USB3 --chip 4=KRV6390 --link 4=USB3
echo
"$krvbench" show "$bench"
echo

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
echo "== Without a bench: the programs refuse, as no host backend exists yet"
"$build/app/KRV857xVIVade" && echo "unexpected success" || echo "(exit code $?)"
echo
# The command-line jobs of both programs: no window, the reports go to the
# current folder, the result is the exit code; the debug trace goes to a log.
# run_jobs TOOL FOLDER JOB... then the reports named in REPORTS.
run_jobs() {
    local tool=$1 folder=$2
    shift 2
    mkdir -p "$folder"
    echo "== Command-line jobs of $(basename "$tool") on the demo bench (reports in $folder)"
    for job in "$@"; do
        rc=0
        (cd "$folder" && KRV_BENCH="$bench" "$tool" "$job" 2>"$folder/trace-${job#/}.log") || rc=$?
        echo "-- $(basename "$tool") $job: exit code $rc"
    done
    for report in $REPORTS; do
        echo "-- $report"
        if [ -f "$folder/$report" ]; then tr -d '\r' <"$folder/$report"; else echo "(not written)"; fi
    done
    echo
}
reports=$PWD/build/demo-reports
tool=$PWD/$build/app/KRV857xVIVade
rm -rf "$reports"
REPORTS="KRV8574Version.txt KRV857xDeviceInfo.txt KRV8574PcieInfo.txt" run_jobs "$tool" "$reports" /V /O /PCIE
# The variant build: the same window under its own profile, four options,
# each ending at the first scan.
REPORTS="KRV857xDeviceInfo.txt" run_jobs "$PWD/$build/variant/KRV857xShowStatus" "$reports/showstatus" /O /O4

# The production run, "/S", on the same bench. The tool reads its settings
# and the firmware file from its own folder, so the run gets a folder of its
# own holding a link to the built program.
run=$PWD/build/demo-run
source scripts/production_run.sh
krv_prepare_run "$run" "$tool"
settings="$run/kv_mp_Toolv0.6.ini"
# The run's disk steps (partition, format, preload) fail for a drive reached
# over PCIe, as the tool is specified: the demo run leaves the PCIe scan off.
krv_set_setting "$run" PCIE_Scan 0

echo "== Production run: KRV857xVIVade /S on the demo bench (program folder $run)"
echo "   Settings: firmware update, reload, partition and format (FAT32 \"KRVDEMO\"), write/read"
echo "   test and preload on; the PCIe scan off. Port 1 (USB4, PCIe tunnel) shows in the reports"
echo "   above (/O, /PCIE), but the run's disk steps fail for a PCIe drive, so this run leaves it"
echo "   out. Ports 3 and 4 carry KRV752B and KRV6390 bridges, which the KRV857x tool does not"
echo "   take. So the run is port 2's."
echo "   The write/read test is on in the settings file, but the tool switches it off at every"
echo "   start-up (it is never started from the window or the file), so it does not run."
# Its own current folder, where a message it has for the operator goes.
run_cwd=$reports/run
mkdir -p "$run_cwd"
run_rc=0
(cd "$run_cwd" && KRV_BENCH="$bench" timeout 600 "$run/KRV857xVIVade" /S 2>"$run_cwd/trace-S.log") || run_rc=$?
echo "-- KRV857xVIVade /S: exit code $run_rc (0: every drive of the run passed; trace in $run_cwd/trace-S.log)"
if [ -f "$run_cwd/ProgramMSG.txt" ]; then
    echo "-- ProgramMSG.txt"
    tr -d '\r' <"$run_cwd/ProgramMSG.txt"
fi
echo "-- The serial number the next run starts from: $(grep '^serial_number=' "$settings" | tr -d '\r')"
echo
echo "-- krvbench show after the run"
"$krvbench" show "$bench"
echo
echo "-- fsck.fat -n of port 2's volume (its partition starts at 1 MiB of ports/02/disk.img)"
part=$(mktemp)
dd if="$bench/ports/02/disk.img" of="$part" bs=1M skip=1 conv=sparse status=none
fsck_rc=0
fsck.fat -n "$part" || fsck_rc=$?
rm -f "$part"
echo "(fsck.fat exit code $fsck_rc)"
echo "-- The files the run preloaded onto that volume. The bench keeps a volume's files beside its"
echo "   disk image (ports/02/volumes/), so fsck.fat above judges the file system the format wrote,"
echo "   without them."
(cd "$bench/ports/02/volumes" && find . -type f | sort)
echo "-- No daily result log: the tool writes it in runs started in the window only, not on the"
echo "   command line."
echo
echo "What works today: the emulated bench (bridges, USB tree, disks, volumes, faults), the device"
echo "command path, discovery, the settings file, the main window, the production run (Start in the"
echo "window and /S) and the command-line jobs /?, /V, /O, /O4, /C:, /CC, /SPD, /PC, /RST and /PCIE,"
echo "with the bridges on a PCIe tunnel found through the kernel I/O driver and their mailbox."
echo "KRV857xShowStatus, the variant build, runs the same window under its own profile: its"
echo "settings file (version 1007), title, results table and the jobs /C:, /O, /O4 and /PC."
[ "$run_rc" -eq 0 ] && [ "$fsck_rc" -eq 0 ]
