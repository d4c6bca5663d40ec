#!/usr/bin/env bash
# Installs what is missing, builds, and renders the bundled demo flight into
# demo-output/: 48 PNG frames and the video demo.mp4.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release --target AVRender
mkdir -p "$root/demo-output"
cd "$root/demo"
"$root/build/release/src/main/AVRender" -i demo.avs --video ../demo-output/demo.mp4
echo "Frames and video written to $root/demo-output/ (frame0000.png ... frame0047.png, demo.mp4)"
