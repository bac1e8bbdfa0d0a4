#!/usr/bin/env bash
# Trigger-to-file latency of a full-screen 1920x1080 PNG capture of a
# text-heavy screen: the "capture" command returns only after the file is
# written, so timing the command times the whole capture. Compared with the
# whole-process time of scrot for the same screen in the same run.
#
#   bench/capture-latency.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-30}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

inner() {
    set -euo pipefail
    local work
    work=$(mktemp -d)
    export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME/shots" "$XDG_CONFIG_HOME/Dastrane" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    printf '[General]\npath=%s\nsound=1\nmouse=1\n' "$HOME/shots" >"$XDG_CONFIG_HOME/Dastrane/Vorantu.conf"
    "$build/bench/bench_textscreen" & local screen=$!
    "$build/bin/vorantu" /start & local app=$!
    local socket=$XDG_RUNTIME_DIR/vorantu/TFrmVorantu
    for _ in $(seq 100); do [[ -S $socket ]] && break; sleep 0.1; done
    xdotool mousemove 200 200
    sleep 1
    median() { sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.1f ms (n=%d, min %.1f, max %.1f)\n", m, NR, a[1], a[NR]}'; }
    echo "vorantu capture command:"
    for _ in $(seq "$runs"); do
        local t0 t1
        t0=$(date +%s%N)
        printf 'WM_COPYDATA 1\n{"command":"capture"}' | socat -t 30 - "UNIX-CONNECT:$socket" >/dev/null
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000))
    done | awk '{print $1/1000}' | median
    ls "$HOME/shots" | head -1 | sed 's/^/  first file: /'
    if command -v scrot >/dev/null; then
        echo "scrot (whole process):"
        for i in $(seq "$runs"); do
            local t0 t1
            t0=$(date +%s%N)
            scrot -o "$work/scrot-$i.png"
            t1=$(date +%s%N)
            echo $(((t1 - t0) / 1000))
        done | awk '{print $1/1000}' | median
    fi
    printf 'WM_USER 2\n' | socat -t 5 - "UNIX-CONNECT:$socket" >/dev/null || true
    wait "$app" || true
    kill "$screen" 2>/dev/null || true
    rm -rf "$work"
}
export -f inner
export build runs
exec "$here/scripts/desktop" run bash -c inner
