#!/usr/bin/env bash
# Configures and builds AVRender in build/<preset> (default: release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true

case "$kind" in
    release) options=(-DCMAKE_BUILD_TYPE=Release) ;;
    debug) options=(-DCMAKE_BUILD_TYPE=Debug) ;;
    asan) options=(-DCMAKE_BUILD_TYPE=Debug -DAVRENDER_SANITIZE=ON) ;;
    *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac

cmake -S "$root" -B "$root/build/$kind" -G Ninja "${options[@]}" "$@" >/dev/null
cmake --build "$root/build/$kind" -j "$(nproc)"
