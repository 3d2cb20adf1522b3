#!/usr/bin/env bash
# The production run ("/S") on a 16-drive bench: how much of its wall time is
# the run's own waits (the pauses, sleeps and polls it makes on purpose, which
# run on the bench clock) and how much is work, and the tool's peak memory.
#
#   benchmarks/production_run_16.sh [BUILD_DIR] [ROUNDS]
#
# BUILD_DIR holds the built programs (default build/release, as ./run.sh
# makes it). Needs GNU time (Debian package time) for the peak memory and
# the CPU time.
#
# The waits the run must make are derived, not measured: from the settings
# the run uses, the bench's layout and the pauses the run's design gives,
# on the path through the run that nothing can shorten (all ports start
# together; the scans, the preload copies and the removal go one at a
# time). In bench milliseconds, for N drives:
#   - every scan and re-link rescan, one after another: 200 per lane a
#     bridge reports in CS state 1 and 500 per SuperSpeed link read, counted
#     from the trace's "]cs[n]:1" and "857x:0x" lines (what the drives
#     answered, not how long anything took);
#   - the firmware of each image above 65,280 bytes: 1000 after each of its
#     two parts written, 1000 for the SPI write, 1000 after each of its two
#     parts read back (images per port from the trace's "for SPI write"
#     lines), and the configuration read-back's 500;
#   - the re-link wait's first cycle: N x Reload_Waiting x 1000;
#   - the reload barrier: its 500 poll and the 500 after it;
#   - each partition, one at a time: 1500 after diskpart before the count
#     is read, 200 before the first lock of the disk: N x 1700;
#   - each preload copy's 500 settle, one copy at a time: N x 500;
#   - the end: 1000 before the removal and, when Auto_Safe_Remove is on,
#     Remove_after_finish x 1000 and each drive's removal (1000 after its
#     cache flush, 2000 after its standby), one drive after another.
# The ratio wall / derived waits at the first scale is the run's overhead
# (1.00: nothing but the waits it must make). As a cross-check the same run
# is timed at two time scales: a wait of W bench seconds takes W/scale real
# seconds and the work the same at both, so wall(s) = work + W/s gives the
# waits the run actually made. Printed: both walls (min and median of
# ROUNDS, default 3), the derived and the measured waits, the ratios, the
# run's CPU time (user + system) and the tool's peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
rounds=${2:-3}
source scripts/production_run.sh
krvbench=$build/tools/krvbench/krvbench
tool=$PWD/$build/app/KRV857xVIVade
[ -x "$krvbench" ] && [ -x "$tool" ] || { echo "build the programs first (./run.sh builds $build)" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
run_dir=$work/run
trap 'rm -rf "$work"' EXIT

# The serialised span of a run, in bench ms: the first partition table any
# drive took (a WRITE(16) of sector 0 that is no file data) to the last
# preload file any drive took. Prints "first last".
serialised_span() {
    local bench=$1 p
    for p in $(seq 1 16); do
        "$krvbench" log "$bench" "$p" | awk '
            / 8A 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 out / && !/file data/ && !m { m = $1 }
            /file data/ && / 8A / { l = $1 }
            END { print m + 0, l + 0 }'
    done | awk 'NR == 1 || $1 < f { f = $1 } $2 > l { l = $2 } END { print f, l }'
}

# The waits the run must make, in bench ms (see the top), from its settings
# and the trace of the run ($1).
derived_waits() {
    local trace=$1 ports=16 settings=$run_dir/kv_mp_Toolv0.6.ini
    local reload remove after
    reload=$(sed -n 's/^Reload_Waiting=\([0-9]*\).*/\1/p' "$settings")
    remove=$(sed -n 's/^Auto_Safe_Remove=\([0-9]*\).*/\1/p' "$settings")
    after=$(sed -n 's/^uiRemove_after_finish=\([0-9]*\).*/\1/p' "$settings")
    awk -v n="$ports" -v reload="${reload:-0}" -v remove="${remove:-0}" -v after="${after:-0}" '
        /\]cs\[[0-9]\]:1[[:space:]]*$/ { lanes++ }
        /857x:0x/ { speeds++ }
        /for SPI write/ { images++ }
        END {
            scans = 200 * lanes + 500 * speeds
            update = 5000 * images / n + 500
            removal = remove == 1 ? after * 1000 + n * 3000 : 0
            print scans + update + n * reload * 1000 + 1000 + n * 1700 + n * 500 + 1000 + removal
        }' "$trace"
}

# One timed run at scale $1; prints "seconds peak_kib serialised_seconds
# cpu_seconds derived_waits_seconds".
one_run() {
    local scale=$1 bench=$work/bench run=$run_dir
    rm -rf "$bench"
    local opts=(--ports 16 --time-scale "$scale" --disk-size 512M)
    local chips=(KRV8571 KRV8572 KRV8573 KRV8574 KRV8575)
    for p in $(seq 1 16); do
        opts+=(--chip "$p=${chips[$((p % 5))]}")
        if [ $((p % 4)) -eq 0 ]; then opts+=(--link "$p=USB4-U3"); fi
    done
    "$krvbench" create "$bench" "${opts[@]}" >/dev/null
    krv_prepare_run "$run" "$tool"
    mkdir -p "$work/cwd"
    local t0 t1 rc=0
    t0=$(date +%s.%N)
    (cd "$work/cwd" && KRV_BENCH="$bench" /usr/bin/time -f "%M %U %S" -o "$work/rss" \
        "$run/KRV857xVIVade" /S 2>"$work/trace.log") || rc=$?
    t1=$(date +%s.%N)
    [ "$rc" -eq 0 ] || { echo "/S failed with exit code $rc (trace: $work/trace.log)" >&2; cp "$work/trace.log" /tmp/production_run_16.trace; exit 1; }
    local first last
    read -r first last < <(serialised_span "$bench")
    [ "$first" -gt 0 ] && [ "$last" -gt "$first" ] || { echo "no serialised span in the drives' logs" >&2; exit 1; }
    local peak user sys
    read -r peak user sys < <(tail -1 "$work/rss")
    echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }') $peak" \
        "$(awk -v f="$first" -v l="$last" -v s="$scale" 'BEGIN { print (l - f) / s / 1000 }')" \
        "$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')" \
        "$(derived_waits "$work/trace.log" | awk '{ print $1 / 1000 }')"
}

stats() {  # min median of the numbers on stdin
    sort -g | awk '{ v[NR] = $1 } END { printf "%.2f %.2f\n", v[1], v[int((NR + 1) / 2)] }'
}

s1=20
s2=100
declare -a w1 w2 rss c1 c2 u1 u2 d
for r in $(seq 1 "$rounds"); do
    read -r t m c u w < <(one_run $s1); w1+=("$t"); rss+=("$m"); c1+=("$c"); u1+=("$u"); d+=("$w")
    read -r t m c u w < <(one_run $s2); w2+=("$t"); rss+=("$m"); c2+=("$c"); u2+=("$u"); d+=("$w")
done
read -r w1min w1med < <(printf '%s\n' "${w1[@]}" | stats)
read -r w2min w2med < <(printf '%s\n' "${w2[@]}" | stats)
read -r c1min c1med < <(printf '%s\n' "${c1[@]}" | stats)
read -r c2min c2med < <(printf '%s\n' "${c2[@]}" | stats)
peak=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)
# W/s1 from the medians: wall1 - wall2 = W (1/s1 - 1/s2).
waits=$(awk -v a="$w1med" -v b="$w2med" -v s1=$s1 -v s2=$s2 'BEGIN { print (a - b) / (1 - s1 / s2) }')
read -r u1min u1med < <(printf '%s\n' "${u1[@]}" | stats)
read -r u2min u2med < <(printf '%s\n' "${u2[@]}" | stats)
read -r dmin dmed < <(printf '%s\n' "${d[@]}" | stats)
printf 'production run, 16 drives, %d rounds per scale\n' "$rounds"
printf '  the waits the run must make (derived): %.1f bench s (over the rounds: min %.1f), %.2f s at scale %d\n' \
    "$dmed" "$dmin" "$(awk -v w="$dmed" -v s=$s1 'BEGIN { print w / s }')" $s1
printf '  ratio wall / derived waits at scale %d: %.3f from the medians, %.3f from the minimums\n' $s1 \
    "$(awk -v a="$w1med" -v w="$dmed" -v s=$s1 'BEGIN { print a / (w / s) }')" \
    "$(awk -v a="$w1min" -v w="$dmed" -v s=$s1 'BEGIN { print a / (w / s) }')"
printf '  CPU time of the run (user + system): scale %d min %.2f s, median %.2f s; scale %d min %.2f s, median %.2f s\n' \
    $s1 "$u1min" "$u1med" $s2 "$u2min" "$u2med"
printf '  wall at scale %3d: min %.2f s, median %.2f s\n' $s1 "$w1min" "$w1med"
printf '  wall at scale %3d: min %.2f s, median %.2f s\n' $s2 "$w2min" "$w2med"
printf '  the waits the run made (measured from the two scales) at scale %d: %.2f s (%.0f s of bench time)\n' $s1 "$waits" "$(awk -v w="$waits" -v s=$s1 'BEGIN { print w * s }')"
# The serialised span's work S, from its medians: span(s) = S + its waits / s.
serial=$(awk -v a="$c1med" -v b="$c2med" -v s1=$s1 -v s2=$s2 'BEGIN { print (s1 * a - s2 * b) / (s1 - s2) }')
printf '  serialised sections (partitions, formats, preloads) at scale %3d: min %.2f s, median %.2f s\n' $s1 "$c1min" "$c1med"
printf '  serialised sections (partitions, formats, preloads) at scale %3d: min %.2f s, median %.2f s\n' $s2 "$c2min" "$c2med"
printf '  work inside the serialised sections (the same at any scale): %.2f s\n' "$serial"
printf '  work outside them at scale %d: %.2f s\n' $s1 "$(awk -v a="$w1med" -v w="$waits" -v s="$serial" 'BEGIN { print a - w - s }')"
# The same split from the minimums (the rounds least slowed by other load).
waitsmin=$(awk -v a="$w1min" -v b="$w2min" -v s1=$s1 -v s2=$s2 'BEGIN { print (a - b) / (1 - s1 / s2) }')
serialmin=$(awk -v a="$c1min" -v b="$c2min" -v s1=$s1 -v s2=$s2 'BEGIN { print (s1 * a - s2 * b) / (s1 - s2) }')
printf '  ratio wall / waits at scale %d: %.3f (the denominator: the waits alone; from the minimums %.3f)\n' $s1 \
    "$(awk -v a="$w1med" -v w="$waits" 'BEGIN { print a / w }')" \
    "$(awk -v a="$w1min" -v w="$waitsmin" 'BEGIN { print a / w }')"
printf '  ratio wall / (waits + serialised work) at scale %d: %.3f (the denominator: the waits and the serialised sections; from the minimums %.3f)\n' $s1 \
    "$(awk -v a="$w1med" -v w="$waits" -v s="$serial" 'BEGIN { print a / (w + s) }')" \
    "$(awk -v a="$w1min" -v w="$waitsmin" -v s="$serialmin" 'BEGIN { print a / (w + s) }')"
printf '  peak resident memory of the tool: %.1f MiB\n' "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')"
