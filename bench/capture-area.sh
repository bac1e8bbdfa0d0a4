#!/usr/bin/env bash
# Trigger-to-file latency of the region window's capture and of the window
# control capture (the window under the pointer: the full-screen text window
# on the primary monitor) to PNG, on the test desktop. The "capture" command
# returns only after the file is written, so timing the command times the
# whole capture. Each is compared with scrot capturing a rectangle of the
# same size in the same round (whole-process times; the file's size in pixels
# is checked to be that rectangle's).
#
#   bench/capture-area.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-15}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

inner() {
    set -euo pipefail
    local work
    work=$(mktemp -d)
    export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$HOME/shots" "$XDG_CONFIG_HOME/Dastrane" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    "$build/bench/bench_textscreen" & local screen=$!
    xdotool mousemove 900 600
    ms() { # command... : prints its whole-process time in milliseconds
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        echo "$(((t1 - t0) / 1000))" | awk '{printf "%.3f\n", $1 / 1000}'
    }
    median() { sort -n "$1" | awk '{a[NR]=$1} END {print (NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2}'; }
    pngsize() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }

    # area 1: the region window, interior 1280x720; area 4: the window under the pointer.
    local area name
    for area in 1 4; do
        [[ $area == 1 ]] && name="region window" || name="window control"
        rm -rf "$HOME/shots"/* "$XDG_CONFIG_HOME/Dastrane"/*
        printf '[General]\npath=%s\nsound=1\nmouse=1\narea=%s\nleft=200\ntop=150\nwidth=1280\nheight=720\n' \
            "$HOME/shots" "$area" >"$XDG_CONFIG_HOME/Dastrane/Vorantu.conf"
        "$build/bin/vorantu" /start & local app=$!
        local socket=$XDG_RUNTIME_DIR/vorantu/TFrmVorantu
        for _ in $(seq 100); do [[ -S $socket ]] && break; sleep 0.1; done
        xdotool mousemove 900 600
        sleep 1
        capture() { printf 'WM_COPYDATA 1\n{"command":"capture"}' | socat -t 30 - "UNIX-CONNECT:$socket" >/dev/null; }
        # The first capture shows the size to compare with.
        capture
        local shot size
        shot=$(ls "$HOME/shots" | head -1)
        size=$(pngsize "$HOME/shots/$shot")
        : >"$work/vorantu.ms"
        : >"$work/scrot.ms"
        for _ in $(seq "$runs"); do
            ms capture >>"$work/vorantu.ms"
            ms scrot -o -a "0,0,${size/x/,}" "$work/scrot.png" >>"$work/scrot.ms"
        done
        [[ $(pngsize "$work/scrot.png") == "$size" ]] || echo "scrot wrote $(pngsize "$work/scrot.png"), not $size"
        local v s
        v=$(median "$work/vorantu.ms")
        s=$(median "$work/scrot.ms")
        printf '%s (%s) to PNG, median of %s (load %s):\n' "$name" "$size" "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)"
        printf '  vorantu %8.1f ms (min %.1f, max %.1f)\n' "$v" "$(sort -n "$work/vorantu.ms" | head -1)" "$(sort -n "$work/vorantu.ms" | tail -1)"
        printf '  scrot   %8.1f ms (min %.1f, max %.1f)  vorantu/scrot = %.2f\n' "$s" \
            "$(sort -n "$work/scrot.ms" | head -1)" "$(sort -n "$work/scrot.ms" | tail -1)" \
            "$(awk -v a="$v" -v b="$s" 'BEGIN {print a / b}')"
        printf 'WM_USER 2\n' | socat -t 5 - "UNIX-CONNECT:$socket" >/dev/null || true
        wait "$app" || true
    done
    kill "$screen" 2>/dev/null || true
    rm -rf "$work"
}
export -f inner
export build runs
exec "$here/scripts/desktop" run bash -c inner
