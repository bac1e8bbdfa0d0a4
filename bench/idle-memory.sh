#!/usr/bin/env bash
# Resident memory of the idle program a few seconds after start on the test
# desktop, and the shared libraries it has mapped by then.
#
#   bench/idle-memory.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
settle=${2:-5}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

inner() {
    set -euo pipefail
    local work
    work=$(mktemp -d)
    export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    "$build/bin/vorantu" /start & local app=$!
    local socket=$XDG_RUNTIME_DIR/vorantu/TFrmVorantu
    for _ in $(seq 100); do [[ -S $socket ]] && break; sleep 0.1; done
    sleep "$settle"
    printf 'idle after %ss: %s (load %s)\n' "$settle" "$(grep -E '^VmRSS' /proc/$app/status | tr -s ' \t' ' ')" \
        "$(cut -d' ' -f1-3 /proc/loadavg)"
    printf '  mapped: %s\n' "$(grep -oE '[^/]+\.so[.0-9]*$' /proc/$app/maps | sort -u |
        grep -E 'tesseract|lept|gomp|archive|WebEngine' | tr '\n' ' ')"
    printf 'WM_USER 2\n' | socat -t 5 - "UNIX-CONNECT:$socket" >/dev/null || true
    wait "$app" || true
    rm -rf "$work"
}
export -f inner
export build settle
exec "$here/scripts/desktop" run bash -c inner
