#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times kelvane-list --json on a SOFTWARE hive of 10,000 uninstall entries
# against hivexregedit --export of its Uninstall key on the same hive: the two
# run alternately, one warm-up pair then 11 measured pairs, and the median of
# the per-pair ratios is printed with each side's median and the load.
# Usage: run-hive-bench.sh [BUILD_DIR [ENTRIES]]
set -euo pipefail

build=${1:-build}
entries=${2:-10000}
list=$build/src/tools/kelvane-list
source "$(dirname "$0")/bench-common.sh"
require_built run-hive-bench.sh "$list" "$build/bench/kelvane-bench-generate" "$build/bench/kelvane-bench-generate-hive"
command -v hivexregedit >/dev/null || { echo "run-hive-bench.sh: hivexregedit missing (libwin-hivex-perl)" >&2; exit 1; }

make_bench_prefix
prefix=$bench_prefix
out=$(mktemp -d /tmp/kelvane-hive-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT
"$build/bench/kelvane-bench-generate" "$prefix/system.reg" "$entries" "$out/system.reg"
"$build/bench/kelvane-bench-generate-hive" "$out/system.reg" "$out/SOFTWARE"
echo "hive: $(stat -c %s "$out/SOFTWARE") bytes, $entries entries"

ms() { local start end; start=$(date +%s%N); "$@" >/dev/null 2>&1; end=$(date +%s%N); echo $(( (end - start) / 1000 )); }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
ours=() theirs=() ratios=()
for pair in $(seq 0 11); do
    a=$(ms "$list" --registry "$out/SOFTWARE" --json)
    b=$(ms hivexregedit --export "$out/SOFTWARE" '\Microsoft\Windows\CurrentVersion\Uninstall')
    ((pair == 0)) && continue
    ours+=("$a") theirs+=("$b")
    ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')")
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() { printf '%s\n' "$@" | sort -g | sed -n 6p; }
echo "kelvane-list --json: median $(awk -v u="$(median "${ours[@]}")" 'BEGIN { printf "%.1f", u / 1000 }') ms"
echo "hivexregedit --export: median $(awk -v u="$(median "${theirs[@]}")" 'BEGIN { printf "%.1f", u / 1000 }') ms"
echo "median of the ratios kelvane-list / hivexregedit: $(median "${ratios[@]}")"
