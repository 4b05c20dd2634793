#!/bin/bash
# Times kelvane-list and the scan on synthetic registries of 1k, 10k and 50k
# uninstall entries and prints a Markdown table. Usage: run-bench.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
list=$build/src/tools/kelvane-list
generate=$build/bench/kelvane-bench-generate
scan=$build/bench/kelvane-bench-scan
for exe in "$list" "$generate" "$scan"; do
    [[ -x $exe ]] || { echo "run-bench.sh: $exe missing; build first" >&2; exit 1; }
done

prefix=/tmp/kelvane-bench-prefix
if [[ ! -f $prefix/system.reg ]]; then
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
fi
out=$(mktemp -d /tmp/kelvane-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

# Median wall time in ms of five runs of the command given.
median_ms() {
    local times=() start end
    for _ in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 3p | awk '{ printf "%.1f", $1 / 1000 }'
}

peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

base_kb=$(peak_kb "$list" --help)
echo "Baseline peak RSS (kelvane-list --help): ${base_kb} KB"
echo
echo "| N | size (MB) | lines | wc -l (ms) | kelvane-list --json (ms) | ratio to wc -l | peak RSS above baseline (MB) | RSS / file size | scan (ms) | changedOnDisk (µs) | scan / check |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
declare -A list_ms
for n in 1000 10000 50000; do
    file=$out/system-$n.reg
    "$generate" "$prefix/system.reg" "$n" "$file"
    bytes=$(stat -c %s "$file")
    lines=$(wc -l < "$file")
    wc_ms=$(median_ms wc -l "$file")
    l_ms=$(median_ms "$list" --registry "$file" --json)
    list_ms[$n]=$l_ms
    kb=$(peak_kb "$list" --registry "$file" --json)
    above_kb=$(( kb - base_kb ))
    read -r _ scan_ms check_us ratio <<< "$("$scan" "$file" | tr ' ' '\n' | cut -d= -f2 | tr '\n' ' ')"
    awk -v n="$n" -v b="$bytes" -v l="$lines" -v w="$wc_ms" -v k="$l_ms" -v a="$above_kb" \
        -v s="${scan_ms}" -v c="${check_us}" -v r="${ratio}" 'BEGIN {
        printf "| %d | %.2f | %d | %s | %s | %.1f | %.1f | %.2f | %s | %s | %s |\n",
            n, b / 1048576, l, w, k, (w > 0 ? k / w : 0), a / 1024, a * 1024 / b, s, c, r }'
done
echo
awk -v a="${list_ms[10000]}" -v b="${list_ms[50000]}" 'BEGIN { printf "kelvane-list 50k / 10k: %.2f\n", b / a }'
