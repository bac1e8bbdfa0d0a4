#!/usr/bin/env bash
# Trigger to the drag overlay's first frame on a bare X server of one
# 1920x1080 monitor and of one 3840x2160 monitor.
#   bench/drag-show.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-15}
for size in 1920x1080 3840x2160; do
    work=$(mktemp -d)
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
    DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb "$build/bench/bench_dragshow" "$runs" 2>/dev/null |
        sed "s/\$/ (load $(cut -d' ' -f1-3 /proc/loadavg))/"
    kill "$server"
    wait "$server" 2>/dev/null || true
    rm -rf "$work"
done
