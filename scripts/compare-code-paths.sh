#!/usr/bin/env bash
# Renders the demo flight, filtered and nearest, with three builds of the
# same sources and compares every frame byte for byte:
#   - the release build, which runs its AVX2 copies on processors that have AVX2;
#   - the same vector code without the AVX2 copies (AVRENDER_AVX2=OFF);
#   - the portable build, plain C++ in place of every vector operation
#     (AVRENDER_PORTABLE=ON).
# Neither extra build uses link-time optimisation, which the release build
# does: that must not change a pixel either. Needs the release build
# (scripts/build.sh); builds the other two.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/build.sh" baseline --target AVRender >/dev/null
"$root/scripts/build.sh" portable --target AVRender >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for build in release baseline portable; do
    mkdir -p "$work/$build"
    cp "$root/demo/demo.avs" "$root/demo/heightmap.png" "$root/demo/texture.png" "$work/$build/"
    cd "$work/$build"
    sed -i 's#AusDateiname=.*#AusDateiname=filtered%04d#' demo.avs
    sed 's#AusDateiname=.*#AusDateiname=nearest%04d#; s#GenauRechnen=.*#GenauRechnen=0#' demo.avs >nearest.avs
    "$root/build/$build/src/main/AVRender" -q -j 2 -i demo.avs
    "$root/build/$build/src/main/AVRender" -q -j 2 -i nearest.avs
    rm demo.avs nearest.avs heightmap.png texture.png
done
for build in baseline portable; do
    if ! diff -r "$work/release" "$work/$build" >/dev/null; then
        echo "The release and the $build build rendered different frames:" >&2
        diff -rq "$work/release" "$work/$build" >&2 || true
        exit 1
    fi
done
echo "$(find "$work/release" -type f | wc -l) frames identical in the release, baseline and portable builds"
