#!/usr/bin/env bash
# Renders the demo flight, filtered and nearest, with the release build (which
# picks its AVX2 code on processors that have it) and with the sanitizer build
# (baseline code only) and compares every frame byte for byte: the two code
# paths must give the same pixels. Needs both builds (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for build in release asan; do
    mkdir -p "$work/$build"
    cp "$root/demo/demo.avs" "$root/demo/heightmap.png" "$root/demo/texture.png" "$work/$build/"
    cd "$work/$build"
    sed -i 's#AusDateiname=.*#AusDateiname=filtered%04d#' demo.avs
    sed 's#AusDateiname=.*#AusDateiname=nearest%04d#; s#GenauRechnen=.*#GenauRechnen=0#' demo.avs >nearest.avs
    "$root/build/$build/src/main/AVRender" -q -j 2 -i demo.avs
    "$root/build/$build/src/main/AVRender" -q -j 2 -i nearest.avs
    rm demo.avs nearest.avs heightmap.png texture.png
done
if ! diff -r "$work/release" "$work/asan" >/dev/null; then
    echo "The release and the sanitizer build rendered different frames:" >&2
    diff -rq "$work/release" "$work/asan" >&2 || true
    exit 1
fi
echo "$(find "$work/release" -type f | wc -l) frames identical in both builds"
