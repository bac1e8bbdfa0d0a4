#!/usr/bin/env bash
# Region recording of moving content: frames written, dropped, CPU share.
#   bench/record-region.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

inner() {
    set -euo pipefail
    local work
    work=$(mktemp -d)
    "$build/bench/bench_textscreen" --animate & local screen=$!
    sleep 1
    "$build/bench/bench_record" "$seconds" "$work/region.mp4"
    ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames,width,height -of csv=p=0 "$work/region.mp4" |
        sed "s/^/  in the file (width,height,frames; $((seconds * 30)) at 30 per second): /"
    kill "$screen" 2>/dev/null || true
    rm -rf "$work"
}
export -f inner
export build seconds
exec "$here/scripts/desktop" run bash -c inner
