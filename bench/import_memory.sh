#!/usr/bin/env bash
# AVImport's peak memory and time on large elevation models (GNU time's
# -v figures): a 40000 x 40000 Float32 VRT mosaic made of one real tile
# (the demo's height map, with overviews) referenced 11700 times, imported
# whole at the default size and as a 10 km region at full resolution; and
# an SRTM-size 3601 x 3601 tile at the default size and at every cell.
# Needs the release build with benchmarks (AVRENDER_BENCHMARKS=ON).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
work=$build/import-memory

"$root/scripts/install-deps.sh" time
"$root/scripts/build.sh" release -DAVRENDER_BENCHMARKS=ON >/dev/null
rm -rf "$work"
"$build/bench/make_mosaic" "$root/demo" "$work"
cd "$work"

measure() {
    local name=$1
    shift
    rm -rf "$name"
    /usr/bin/time -v -o "$name.time" "$build/src/import/AVImport" -o "$name" "$@" 2>"$name.log"
    local seconds peak model texture
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$name.time")
    peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$name.time")
    model=$(sed -n 's/^Wrote .*heightmap.png (\([0-9]* x [0-9]*\).*/\1/p' "$name.log")
    # The texture as the import holds it: four bytes a texel.
    texture=$(sed -n 's/^Wrote .*texture.png (\([0-9]*\) x \([0-9]*\) texels.*/\1 \2/p' "$name.log" |
        awk '{ printf "%s x %s texels (%.0f MiB)", $1, $2, $1 * $2 * 4 / 1048576 }')
    printf '%-40s %7s s %6s MiB peak; model %s cells, texture %s\n' "$*" "$seconds" "$peak" "$model" "$texture"
}

measure mosaic-whole mosaic.vrt
measure mosaic-10km mosaic.vrt --center -80,32 --radius 5
measure srtm-default N36W085.hgt
measure srtm-every-cell N36W085.hgt --max-size 0
