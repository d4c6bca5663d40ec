#!/usr/bin/env bash
# Configures and builds AVRender in build/<kind> from the preset of that name
# in CMakePresets.json (default: release): release, debug, asan, tsan, fuzz,
# baseline, portable or mutation. Options that start with -D go to the
# configuration, the rest to the build step, e.g.
#   scripts/build.sh portable --target AVRender
#   scripts/build.sh release -DAVRENDER_BENCHMARKS=ON
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true

if ! grep -q "\"name\": \"$kind\"" "$root/CMakePresets.json" || [[ $kind == base ]]; then
    echo "unknown build kind: $kind" >&2
    exit 2
fi

configure=()
while (($# > 0)) && [[ $1 == -D* ]]; do
    configure+=("$1")
    shift
done
cd "$root"
# A folder configured from another source folder (the fuzz targets were once
# a project of their own) cannot be reconfigured in place: start it afresh.
cache=build/$kind/CMakeCache.txt
if [[ -f $cache ]] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$cache"; then
    rm -rf "build/$kind"
fi
cmake --preset "$kind" "${configure[@]}" >/dev/null
cmake --build "build/$kind" -j "$(nproc)" "$@"
