#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests in the release build and again under AddressSanitizer and
# UndefinedBehaviorSanitizer, a short run of every fuzz target, a
# multi-threaded render under ThreadSanitizer, and a comparison of the frames
# of the release build's AVX2 code with those of the baseline code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" release -DAVRENDER_WERROR=ON
"$root/scripts/build.sh" asan

echo "== Fuzzing every input parser for a short, bounded time"
# A fixed seed makes this short run explore the same inputs on every run, so a
# commit's verdict does not depend on luck; the long runs use random seeds.
AVRENDER_FUZZ_FLAGS="${AVRENDER_FUZZ_FLAGS:--seed=1}" "$root/scripts/fuzz.sh" 30

echo "== A multi-threaded render under ThreadSanitizer"
"$root/scripts/tsan-check.sh"

echo "== The same frames from the AVX2 code and the baseline code"
"$root/scripts/dispatch-check.sh"

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir "$root/build/asan" --output-on-failure --no-tests=error -j "$(nproc)"

echo "== Tests of the release build"
ctest --test-dir "$root/build/release" --output-on-failure --no-tests=error -j "$(nproc)"
