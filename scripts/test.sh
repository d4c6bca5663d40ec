#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release -DAVRENDER_WERROR=ON
ctest --test-dir "$root/build/release" --output-on-failure --no-tests=error -j "$(nproc)"
