#!/usr/bin/env bash
# Installs what is missing, builds, and renders the bundled demo flight into demo-output/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release
mkdir -p "$root/demo-output"
cd "$root/demo"
"$root/build/release/src/main/AVRender" -v -i demo.avs
echo "Frames written to $root/demo-output/"
