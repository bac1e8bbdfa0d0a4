#!/usr/bin/env bash
# Resident memory of the idle program a few seconds after start on the test
# desktop, over several starts (each a fresh program with fresh settings),
# and the shared libraries of single features it has mapped by then: none of
# them should be, until their feature is first used.
#
#   bench/idle-memory.sh BUILD_DIR [SECONDS] [RUNS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
settle=${2:-5}
runs=${3:-5}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_dir=$here/bench

inner() {
    set -euo pipefail
    source "$bench_dir/common.sh"
    local results
    results=$(mktemp)
    for i in $(seq "$runs"); do
        local work
        work=$(mktemp -d)
        (
            private_home "$work"
            local app
            start_program app
            sleep "$settle"
            local kb
            kb=$(awk '/^VmRSS/ {print $2}' "/proc/$app/status")
            echo "$kb" >>"$results"
            printf '  run %s: %.1f MB (load %s); feature libraries mapped: %s\n' "$i" \
                "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" "$(cut -d' ' -f1-3 /proc/loadavg)" \
                "$(grep -oE '[^/]+\.so[.0-9]*$' "/proc/$app/maps" | sort -u |
                    grep -E 'tesseract|lept|archive|WebEngine|curl|ssl|gnutls|ldap' |
                    tr '\n' ' ' || true)"
            quit_program "$app"
        )
        rm -rf "$work"
    done
    sort -n "$results" | awk -v s="$settle" '{a[NR] = $1}
        END {
            m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
            printf "idle resident set %s s after start, %d runs: min %.1f MB, median %.1f MB\n",
                s, NR, a[1] / 1024, m / 1024
        }'
    rm -f "$results"
}
export -f inner
export build settle runs bench_dir
exec "$here/scripts/desktop" run bash -c inner
