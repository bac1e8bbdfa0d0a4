#!/usr/bin/env bash
# Trigger-to-file latency of a full-screen 1920x1080 PNG capture of a
# text-heavy screen: the "capture" command returns only after the file is
# written, so timing the command times the whole capture. Compared with the
# whole-process times of scrot and maim capturing the same rectangle (the
# primary monitor, not the whole two-monitor X screen) in the same run; the
# three take turns in every round so a busy machine slows them alike.
#
#   bench/capture-latency.sh BUILD_DIR [RUNS] [PERF_DATA]
#
# With PERF_DATA, the program's own captures are also recorded with
# `perf record -g` into that file (a separate pass after the timed rounds).
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-15}
perfdata=${3:-}
[[ -z $perfdata ]] || perfdata=$(realpath -m "$perfdata")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_dir=$here/bench

inner() {
    set -euo pipefail
    source "$bench_dir/common.sh"
    local work app
    work=$(mktemp -d)
    private_home "$work"
    printf '[General]\npath=%s\nsound=1\nmouse=1\n' "$HOME/shots" >"$XDG_CONFIG_HOME/Dastrane/Vorantu.conf"
    "$build/bench/bench_textscreen" & local screen=$!
    start_program app
    xdotool mousemove 200 200
    sleep 1
    # Processor time (user + system, all threads) as well as wall time: on a
    # busy machine a second core does not shorten the wall time, but the
    # work done is the same whatever the load.
    cputicks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
    cpums() { # command... : prints its processor time in milliseconds
        /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1
        awk '{printf "%.0f\n", ($1 + $2) * 1000}' "$work/time"
    }
    local peers=(vorantu scrot)
    command -v maim >/dev/null && peers+=(maim)
    local ticks=$(getconf CLK_TCK) before
    for i in $(seq "$runs"); do
        before=$(cputicks "$app")
        ms capture >>"$work/vorantu.ms"
        echo "$((($(cputicks "$app") - before) * 1000 / ticks))" >>"$work/vorantu.cpu"
        ms scrot -o -a 0,0,1920,1080 "$work/scrot.png" >>"$work/scrot.ms"
        cpums scrot -o -a 0,0,1920,1080 "$work/scrot.png" >>"$work/scrot.cpu"
        if command -v maim >/dev/null; then
            ms maim -g 1920x1080+0+0 "$work/maim.png" >>"$work/maim.ms"
            cpums maim -g 1920x1080+0+0 "$work/maim.png" >>"$work/maim.cpu"
        fi
    done
    echo "1920x1080 text screen to PNG, whole process, median of $runs (load $(cut -d' ' -f1-3 /proc/loadavg)):"
    local base
    base=$(median "$work/vorantu.ms")
    for p in "${peers[@]}"; do
        local m
        m=$(median "$work/$p.ms")
        printf '  %-8s %8.1f ms  (min %.1f, max %.1f)  vorantu/%s = %.2f\n' "$p" "$m" \
            "$(sort -n "$work/$p.ms" | head -1)" "$(sort -n "$work/$p.ms" | tail -1)" "$p" \
            "$(awk -v a="$base" -v b="$m" 'BEGIN {print a / b}')"
    done
    echo "processor time per capture (user + system, all threads), median:"
    local cbase
    cbase=$(median "$work/vorantu.cpu")
    for p in "${peers[@]}"; do
        local c
        c=$(median "$work/$p.cpu")
        printf '  %-8s %8.0f ms  vorantu/%s = %.2f\n' "$p" "$c" "$p" \
            "$(awk -v a="$cbase" -v b="$c" 'BEGIN {print (b > 0) ? a / b : 0}')"
    done
    local shot
    shot=$(ls "$HOME/shots" | head -1)
    printf '  file sizes: vorantu %s, scrot %s, maim %s bytes\n' "$(stat -c %s "$HOME/shots/$shot")" \
        "$(stat -c %s "$work/scrot.png")" "$(stat -c %s "$work/maim.png" 2>/dev/null || echo -)"
    if [[ -n $perfdata ]]; then
        perf record -g -o "$perfdata" -p "$app" -- sleep 4 >/dev/null 2>&1 &
        local perf=$!
        sleep 0.5
        for _ in $(seq 10); do capture; done
        wait "$perf" || true
        echo "  profile of 10 captures: $perfdata"
    fi
    quit_program "$app"
    kill "$screen" 2>/dev/null || true
    rm -rf "$work"
}
export -f inner
export build runs perfdata bench_dir
exec "$here/scripts/desktop" run bash -c inner
