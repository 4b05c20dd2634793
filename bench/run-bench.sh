#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times kelvane-list --json against wc -l on synthetic registries of 1k, 10k
# and 50k uninstall entries. The two run alternately, PAIRS pairs after a
# warm-up (default 15): the table gives the medians of their wall and CPU
# (user + system) times and of the per-pair ratios. Then the growth, the
# instructions counted by callgrind (when valgrind is there), the peak
# memory on files made to exhaust it, and, with a second kelvane-list (an
# earlier build), the two compared alternately on each file.
# Usage: [PAIRS=n] run-bench.sh [BUILD_DIR [OTHER_KELVANE_LIST]]
set -euo pipefail

build=${1:-build}
other=${2:-}
pairs=${PAIRS:-15}
list=$build/src/tools/kelvane-list
generate=$build/bench/kelvane-bench-generate
scan=$build/bench/kelvane-bench-scan
alternate=$build/bench/kelvane-bench-pairs
source "$(dirname "$0")/bench-common.sh"
require_built run-bench.sh "$list" "$generate" "$scan" "$alternate"

make_bench_prefix
prefix=$bench_prefix
out=$(mktemp -d /tmp/kelvane-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
# The value of key=value in a line of such pairs.
field() { tr ' ' '\n' <<< "$1" | sed -n "s/^$2=//p"; }

base_kb=$(peak_kb "$list" --help)
for n in 1000 10000 50000; do
    "$generate" "$prefix/system.reg" "$n" "$out/system-$n.reg"
done

echo "Load average before: $(load)"
echo "Baseline peak RSS (kelvane-list --help): ${base_kb} KB; $pairs alternating pairs per file"
echo
echo "| N | size (MB) | wc -l (ms) | kelvane-list --json (ms) | median ratio | wc -l CPU (ms) | kelvane-list CPU (ms) | median CPU ratio | peak RSS above baseline (MB) | RSS / file size | scan (ms) | changedOnDisk (µs) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
declare -A list_ms list_cpu
for n in 1000 10000 50000; do
    file=$out/system-$n.reg
    bytes=$(stat -c %s "$file")
    timing=$("$alternate" "$pairs" wc -l "$file" -- "$list" --registry "$file" --json)
    list_ms[$n]=$(field "$timing" b_wall_ms)
    list_cpu[$n]=$(field "$timing" b_cpu_ms)
    kb=$(peak_kb "$list" --registry "$file" --json)
    scanned=$("$scan" "$file")
    awk -v n="$n" -v b="$bytes" -v aw="$(field "$timing" a_wall_ms)" -v bw="${list_ms[$n]}" \
        -v r="$(field "$timing" wall_ratio)" -v ac="$(field "$timing" a_cpu_ms)" -v bc="${list_cpu[$n]}" \
        -v cr="$(field "$timing" cpu_ratio)" -v a="$(( kb - base_kb ))" -v s="$(field "$scanned" scan_ms)" \
        -v c="$(field "$scanned" check_us)" 'BEGIN {
        printf "| %d | %.2f | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %.2f | %.1f | %.2f |\n",
            n, b / 1048576, aw, bw, r, ac, bc, cr, a / 1024, a * 1024 / b, s, c }'
done
echo
awk -v a="${list_ms[10000]}" -v b="${list_ms[50000]}" -v c="${list_cpu[10000]}" -v d="${list_cpu[50000]}" \
    'BEGIN { printf "kelvane-list 50k / 10k: %.2f (wall), %.2f (CPU)\n", b / a, d / c }'
echo "Load average after: $(load)"

# Instructions do not depend on the load: the figure to compare across machines.
if command -v valgrind >/dev/null; then
    echo
    for n in 1000 10000; do
        count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$list" --registry "$out/system-$n.reg" --json \
                    2>&1 >/dev/null | sed -n 's/.*Collected : //p')
        awk -v n="$n" -v c="$count" 'BEGIN { printf "Instructions, kelvane-list --json at %d entries: %.0f M\n", n, c / 1e6 }'
    done
fi

# Files made to exhaust memory: empty key lines ("\n[" over and over) and
# short key lines that each name a key of their own. A file that is refused
# shows its exit status.
echo
echo "| hostile file | size (MB) | peak RSS above baseline (MB) | RSS / file size | exit | time (s) |"
echo "|---|---|---|---|---|---|"
for shape in empty-key-lines key-lines minimal-entries; do
    file=$out/$shape.reg
    "$generate" --hostile "$shape" 50000000 "$file"
    bytes=$(stat -c %s "$file")
    set +e
    result=$(/usr/bin/time -f '%M %e' "$list" --registry "$file" --json 2>&1 >/dev/null | tail -1)
    status=$?
    set -e
    read -r kb seconds <<< "$result"
    awk -v s="$shape" -v b="$bytes" -v a="$(( kb - base_kb ))" -v x="$status" -v t="$seconds" 'BEGIN {
        printf "| %s | %.1f | %.1f | %.2f | %d | %s |\n", s, b / 1048576, a / 1024, a * 1024 / b, x, t }'
done

[[ -n $other ]] || exit 0
# This build (B) against the other (A) on the same files, alternately.
echo
echo "| file | other (ms) | this (ms) | median this / other | other CPU (ms) | this CPU (ms) | median CPU ratio | load |"
echo "|---|---|---|---|---|---|---|---|"
for file in "$out"/system-1000.reg "$out"/system-10000.reg "$out"/system-50000.reg "$out"/key-lines.reg; do
    # A build may refuse a hostile file: that row says so, the others stay.
    if ! timing=$("$alternate" "$pairs" "$other" --registry "$file" --json -- "$list" --registry "$file" --json); then
        echo "| $(basename "$file") | failed | | | | | | $(load) |"
        continue
    fi
    echo "| $(basename "$file") | $(field "$timing" a_wall_ms) | $(field "$timing" b_wall_ms) | $(field "$timing" wall_ratio)" \
         "| $(field "$timing" a_cpu_ms) | $(field "$timing" b_cpu_ms) | $(field "$timing" cpu_ratio) | $(load) |"
done
