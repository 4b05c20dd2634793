#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times kelvane-list --prefixes and --all on a home holding PREFIXES Wine
# prefixes (copies of one real prefix, default 50) against the sum of
# kelvane-list --registry P over the same prefixes. The two run alternately
# (PAIRS pairs, default 11); the table gives medians of wall and CPU time and
# of the per-pair ratios, and the load.
# Usage: [PAIRS=n] [PREFIXES=n] run-prefix-bench.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
pairs=${PAIRS:-11}
count=${PREFIXES:-50}
list=$(realpath "$build/src/tools/kelvane-list")
alternate=$build/bench/kelvane-bench-pairs
source "$(dirname "$0")/bench-common.sh"
require_built run-prefix-bench.sh "$list" "$alternate"

make_bench_prefix
prefix=$bench_prefix
home=$(mktemp -d /tmp/kelvane-prefix-bench.XXXXXX)
trap 'rm -rf "$home"' EXIT
for i in $(seq 1 "$count"); do
    mkdir -p "$home/.PlayOnLinux/wineprefix/p$i"
    cp "$prefix/system.reg" "$home/.PlayOnLinux/wineprefix/p$i/"
done
each=$home/each.sh
{
    echo "for p in $home/.PlayOnLinux/wineprefix/*; do $list --registry \"\$p\" --json >/dev/null || exit 1; done"
} > "$each"

echo "$count prefixes of $(stat -c %s "$prefix/system.reg") bytes; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "command                    a_wall_ms b_wall_ms a_cpu_ms b_cpu_ms wall_ratio cpu_ratio   (a: the sum of --registry P)"
for mode in "--prefixes" "--all --json" "--all --tree"; do
    printf '%-26s ' "$mode"
    # shellcheck disable=SC2086
    HOME=$home "$alternate" "$pairs" bash "$each" -- "$list" $mode
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
