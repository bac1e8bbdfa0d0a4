#!/usr/bin/env bash
# Every speed and memory figure in one run, each with the machine's load:
# capture command to PNG against scrot and maim over the same rectangle,
# the image writers, the drag overlay's first frame at 1080p and 4K, the
# idle program's resident memory and text
# recognition (time to text, error rates, lines read whole).
#
#   bench/run-all.sh BUILD_DIR [CAPTURE_RUNS]
#
# Builds nothing: build the targets vorantu bench_textscreen bench_save
# bench_dragshow bench_ocr first. Text recognition takes minutes on two cores.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
runs=${2:-15}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
load() { echo "(load $(cut -d' ' -f1-3 /proc/loadavg))"; }

echo "== capture command to PNG $(load)"
"$here/capture-latency.sh" "$build" "$runs"
echo
echo "== image writers, 1920x1080 and 3840x2160 $(load)"
"$build/bench/bench_save" --benchmark_filter='^(PngLibpngOnly|Png|Jpg90)/' 2>/dev/null |
    grep -E 'median|^-|Benchmark'
echo
echo "== trigger to the drag overlay's first frame $(load)"
"$here/drag-show.sh" "$build" "$runs"
"$here/capture-area.sh" "$build" "$runs"
echo
echo "== idle memory $(load)"
"$here/idle-memory.sh" "$build"
echo
echo "== text recognition $(load)"
(cd "$(mktemp -d)" && "$build/bench/bench_ocr")
echo "   $(load)"
