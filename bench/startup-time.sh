#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times kelvane from exec to the first paint of the filled program list on a
# Wine prefix with N uninstall entries (default 10,000), on the offscreen
# platform and, when xvfb-run is there, on a real X server. Prints the median
# of RUNS starts. Usage: [KELVANE_EXE=other/kelvane] startup-time.sh [BUILD_DIR] [N] [RUNS]
set -euo pipefail

build=${1:-build}
entries=${2:-10000}
runs=${3:-9}
kelvane=${KELVANE_EXE:-$build/kelvane}
generate=$build/bench/kelvane-bench-generate
for exe in "$kelvane" "$generate"; do
    [[ -x $exe ]] || { echo "startup-time.sh: $exe missing; build first" >&2; exit 1; }
done
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d /tmp/kelvane-startup.XXXXXX)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
base=/tmp/kelvane-bench-prefix
if [[ ! -f $base/system.reg ]]; then
    WINEPREFIX=$base wineboot -i >/dev/null 2>&1
    WINEPREFIX=$base wineserver -w
fi
# The prefix as wineboot made it, its system.reg replaced by one with the
# synthetic entries.
cp -a "$base" "$work/prefix"
"$generate" "$work/prefix/system.reg" "$entries" "$work/system.reg" >/dev/null
mv "$work/system.reg" "$work/prefix/system.reg"
# Settings and the single-instance socket of a user of its own.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

# Milliseconds from just before exec to the first paint of the filled list.
one_start() {
    local start paint
    start=$(date +%s%N)
    paint=$(HOME=$work/home XDG_RUNTIME_DIR=$work/runtime WINEPREFIX=$work/prefix \
        KELVANE_EXIT_AT_FIRST_LIST=1 timeout 30 "$@" "$kelvane" | sed -n 's/^first_list_paint_ns=//p')
    [[ -n $paint ]] || { echo "startup-time.sh: kelvane ended without painting the list" >&2; exit 1; }
    echo $(( (paint - start) / 1000 ))
}

median_ms() {
    local times=()
    for _ in $(seq "$runs"); do
        times+=("$(one_start "$@")")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p" | awk '{ printf "%.0f", $1 / 1000 }'
}

echo "entries=$entries runs=$runs"
echo "offscreen_first_list_ms=$(QT_QPA_PLATFORM=offscreen median_ms env)"
if command -v xvfb-run >/dev/null; then
    # One X server for all runs, so that its own start is not counted.
    echo "xvfb_first_list_ms=$(xvfb-run -a -s '-screen 0 1280x1024x24' bash -c "
        $(declare -f one_start median_ms); work='$work' kelvane='$kelvane' runs='$runs'
        QT_QPA_PLATFORM=xcb median_ms env")"
fi
