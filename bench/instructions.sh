#!/usr/bin/env bash
# Instructions per frame of the standard flight, counted by valgrind
# (cachegrind without cache simulation), which do not vary from run to run
# as times do on a shared machine: frame 12 on one thread, as the count of
# rendering frames 11 and 12 less the count of rendering frame 11 alone, so
# that start-up and image reading cancel out. Prints millions per case.
#
#   bench/instructions.sh [BUILD-FOLDER]     (default: build/release, with
#                                             AVRENDER_BENCHMARKS=ON)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
[[ -n ${AVRENDER_DEPS_INSTALLED:-} ]] || "$root/scripts/install-deps.sh" valgrind
scene=$(mktemp -d)
trap 'rm -rf "$scene"' EXIT
"$build/bench/make_standard_scene" "$root/demo" "$scene" >/dev/null
cd "$scene"

instructions() {  # SCENERY FRAMES: instructions of one whole run
    rm -f frames/* cachegrind.out
    valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=cachegrind.out \
        "$build/src/main/AVRender" -q -j 1 --frames "$2" -i "$1" >/dev/null 2>&1
    awk '/^summary:/ { print $2 }' cachegrind.out
}

printf "%-18s %12s\n" case "M instr/frame"
for case in flight-640-q0 flight-640-q1 flight-1920-q0 flight-1920-q1; do
    one=$(instructions "$case.avs" 11-11)
    two=$(instructions "$case.avs" 11-12)
    awk -v a="$one" -v b="$two" -v c="$case" 'BEGIN { printf "%-18s %12.1f\n", c, (b - a) / 1e6 }'
done
