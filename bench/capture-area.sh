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
bench_dir=$here/bench

inner() {
    set -euo pipefail
    source "$bench_dir/common.sh"
    local work
    work=$(mktemp -d)
    private_home "$work"
    "$build/bench/bench_textscreen" & local screen=$!
    xdotool mousemove 900 600

    # area 1: the region window, interior 1280x720; area 4: the window under the pointer.
    local area name
    for area in 1 4; do
        [[ $area == 1 ]] && name="region window" || name="window control"
        rm -rf "$HOME/shots"/* "$XDG_CONFIG_HOME/Dastrane"/*
        printf '[General]\npath=%s\nsound=1\nmouse=1\narea=%s\nleft=200\ntop=150\nwidth=1280\nheight=720\n' \
            "$HOME/shots" "$area" >"$XDG_CONFIG_HOME/Dastrane/Vorantu.conf"
        local app
        start_program app
        xdotool mousemove 900 600
        sleep 1
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
        quit_program "$app"
    done
    kill "$screen" 2>/dev/null || true
    rm -rf "$work"
}
export -f inner
export build runs bench_dir
exec "$here/scripts/desktop" run bash -c inner
