#!/bin/bash
# Times kelvane-list and the scan on synthetic registries of 1k, 10k and 50k
# uninstall entries and prints a Markdown table; then the peak memory of
# kelvane-list on files made to exhaust it. With a second kelvane-list (an
# earlier build), also compares the two on each file, in alternating runs.
# Usage: run-bench.sh [BUILD_DIR [OTHER_KELVANE_LIST]]
set -euo pipefail

build=${1:-build}
other=${2:-}
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
echo "Load average: $(cut -d' ' -f1-3 /proc/loadavg)"

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
# Alternating runs of this build (B) and the other (A) on the same files:
# the median of the ratios B / A cancels most of the machine's drift.
ms_of() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}
echo
echo "| file | other (ms) | this (ms) | median this / other | load |"
echo "|---|---|---|---|---|"
for file in "$out"/system-1000.reg "$out"/system-10000.reg "$out"/system-50000.reg "$out"/key-lines.reg; do
    a=() b=() r=()
    for _ in $(seq 11); do
        x=$(ms_of "$other" --registry "$file" --json)
        y=$(ms_of "$list" --registry "$file" --json)
        a+=("$x") b+=("$y") r+=("$(awk -v x="$x" -v y="$y" 'BEGIN { printf "%.4f", y / x }')")
    done
    med() { printf '%s\n' "$@" | sort -g | sed -n 6p; }
    awk -v f="$(basename "$file")" -v x="$(med "${a[@]}")" -v y="$(med "${b[@]}")" -v r="$(med "${r[@]}")" \
        -v l="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN { printf "| %s | %.1f | %.1f | %.3f | %s |\n", f, x / 1000, y / 1000, r, l }'
done
