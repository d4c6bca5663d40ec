#!/usr/bin/env bash
# The standard flight: the bundled elevation model upsampled to 1612 x 1376
# height samples and texels, a 512 x 512 cell grid, fog, 24 frames of a
# straight flight, PPM output; at 640 x 480 and 1920 x 1080, nearest (0) and
# filtered (1) texture lookups, with 1 and 2 threads. Prints the whole
# process's wall time per frame, nanoseconds per pixel per core and the peak
# memory. Needs the release build with benchmarks (AVRENDER_BENCHMARKS=ON).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
scene=$build/standard-flight

"$root/scripts/install-deps.sh" time
"$root/scripts/build.sh" release -DAVRENDER_BENCHMARKS=ON >/dev/null
"$build/bench/make_standard_scene" "$root/demo" "$scene" >/dev/null

cd "$scene"
printf "%-22s %7s %12s %16s %10s\n" case threads "s/frame" "ns/pixel/core" "peak MiB"
for size in 640 1920; do
    for quality in 0 1; do
        pixels=$((size == 640 ? 640 * 480 : 1920 * 1080))
        for jobs in 1 2; do
            rm -f frames/*
            start=$(date +%s.%N)
            /usr/bin/time -f %M -o time.txt "$build/src/main/AVRender" -q -j "$jobs" -i "flight-$size-q$quality.avs"
            end=$(date +%s.%N)
            awk -v s="$start" -v e="$end" -v j="$jobs" -v p="$pixels" -v m="$(cat time.txt)" \
                -v c="flight-$size-q$quality" 'BEGIN {
                    t = (e - s) / 24
                    printf "%-22s %7d %12.4f %16.1f %10.0f\n", c, j, t, t * 1e9 * j / p, m / 1024
                }'
        done
    done
done
