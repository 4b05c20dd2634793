# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the benchmark scripts (sourced, not run).

# Ends the script, naming it, when one of the programs is not built.
require_built() {
    local script=$1 exe
    shift
    for exe in "$@"; do
        [[ -x $exe ]] || { echo "$script: $exe missing; build first" >&2; exit 1; }
    done
}

# The fresh Wine prefix every benchmark starts from, made once.
bench_prefix=/tmp/kelvane-bench-prefix
make_bench_prefix() {
    if [[ ! -f $bench_prefix/system.reg ]]; then
        WINEPREFIX=$bench_prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
        WINEPREFIX=$bench_prefix wineserver -w
    fi
}
