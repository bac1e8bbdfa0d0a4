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

inner() {
    set -euo pipefail
    local results
    results=$(mktemp)
    for i in $(seq "$runs"); do
        local work
        work=$(mktemp -d)
        (
            export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
            mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
            chmod 700 "$XDG_RUNTIME_DIR"
            "$build/bin/vorantu" /start &
            local app=$!
            local socket=$XDG_RUNTIME_DIR/vorantu/TFrmVorantu
            for _ in $(seq 100); do [[ -S $socket ]] && break; sleep 0.1; done
            sleep "$settle"
            local kb
            kb=$(awk '/^VmRSS/ {print $2}' "/proc/$app/status")
            echo "$kb" >>"$results"
            printf '  run %s: %.1f MB (load %s); feature libraries mapped: %s\n' "$i" \
                "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" "$(cut -d' ' -f1-3 /proc/loadavg)" \
                "$(grep -oE '[^/]+\.so[.0-9]*$' "/proc/$app/maps" | sort -u |
                    grep -E 'tesseract|lept|archive|WebEngine|curl|ssl|gnutls|ldap' |
                    tr '\n' ' ' || true)"
            printf 'WM_USER 2\n' | socat -t 5 - "UNIX-CONNECT:$socket" >/dev/null || true
            wait "$app" || true
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
export build settle runs
exec "$here/scripts/desktop" run bash -c inner
