#!/usr/bin/env bash
# Builds AVRender with ThreadSanitizer and renders part of the demo flight on
# several threads, as whole frames and as bands of one frame; fails on any
# data race reported in our code. Qt's own libraries are not instrumented, so
# reports that start and end inside them (their internal thread pool) are
# suppressed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/tsan

[[ -n ${AVRENDER_DEPS_INSTALLED:-} ]] || "$root/scripts/install-deps.sh"
"$root/scripts/build.sh" tsan --target AVRender >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/demo/demo.avs" "$root/demo/heightmap.png" "$root/demo/texture.png" "$work/"
sed -i 's#AusDateiname=.*#AusDateiname=f%04d#' "$work/demo.avs"
printf 'called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n' >"$work/suppressions.txt"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 suppressions=$work/suppressions.txt"

cd "$work"
for run in "-j 2 --frames 0-5" "-j 3 --frames 6-6" "-j 2 --frames 7-9 --video v.mp4"; do
    echo "ThreadSanitizer: AVRender $run"
    # shellcheck disable=SC2086
    "$build/src/main/AVRender" -q -i demo.avs $run
done
echo "ThreadSanitizer found no data race"
