#!/usr/bin/env bash
# Configures and builds AVRender in build/<kind> (default: release); further
# arguments go to the build step after the configuration options that start
# with -D, e.g. scripts/build.sh portable --target AVRender.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true

case "$kind" in
    release) options=(-DCMAKE_BUILD_TYPE=Release) ;;
    debug) options=(-DCMAKE_BUILD_TYPE=Debug) ;;
    asan) options=(-DCMAKE_BUILD_TYPE=Debug -DAVRENDER_SANITIZE=ON) ;;
    # The vector code without its AVX2 copies, and plain C++ in its place.
    baseline) options=(-DCMAKE_BUILD_TYPE=Release -DAVRENDER_LTO=OFF -DAVRENDER_AVX2=OFF -DBUILD_TESTING=OFF) ;;
    portable) options=(-DCMAKE_BUILD_TYPE=Release -DAVRENDER_LTO=OFF -DAVRENDER_PORTABLE=ON -DBUILD_TESTING=OFF) ;;
    *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac

configure=()
while (($# > 0)) && [[ $1 == -D* ]]; do
    configure+=("$1")
    shift
done
cmake -S "$root" -B "$root/build/$kind" -G Ninja "${options[@]}" "${configure[@]}" >/dev/null
cmake --build "$root/build/$kind" -j "$(nproc)" "$@"
