#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests in the release build, again under a second heap layout,
# and under AddressSanitizer and UndefinedBehaviorSanitizer (which run the
# same AVX2 code as the release build on processors that have it); a short
# run of every fuzz target; a multi-threaded render under ThreadSanitizer;
# and a comparison of the frames of the AVX2, baseline and portable code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Everything any step needs, installed once; the steps below skip their own installs.
"$root/scripts/install-deps.sh" clang-14 libclang-rt-14-dev llvm-14
export AVRENDER_DEPS_INSTALLED=1
"$root/scripts/build.sh" release -DAVRENDER_WERROR=ON
"$root/scripts/build.sh" asan

echo "== Fuzzing every input parser for a short, bounded time"
# A fixed seed makes this short run explore the same inputs on every run, so a
# commit's verdict does not depend on luck; the long runs use random seeds.
AVRENDER_FUZZ_FLAGS="${AVRENDER_FUZZ_FLAGS:--seed=1}" "$root/scripts/fuzz.sh" 30

echo "== A multi-threaded render under ThreadSanitizer"
"$root/scripts/tsan-check.sh"

echo "== The same frames from the AVX2, baseline and portable code"
"$root/scripts/compare-code-paths.sh"

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir "$root/build/asan" --output-on-failure --no-tests=error -j "$(nproc)"

echo "== Tests of the release build"
ctest --test-dir "$root/build/release" --output-on-failure --no-tests=error -j "$(nproc)"

# A result that depends on where memory lands must show up here, not on a
# user's machine: every block of 1 KiB or more comes from its own mapping (so
# lands 16 bytes past a page boundary), fresh and freed memory is filled with
# a pattern, and a longer environment moves the stack.
echo "== Tests of the release build under a second heap layout"
GLIBC_TUNABLES=glibc.malloc.mmap_threshold=1024:glibc.malloc.perturb=165 \
    AVRENDER_TEST_PADDING=$(printf '%*s' 4099 '' | tr ' ' x) \
    ctest --test-dir "$root/build/release" --output-on-failure --no-tests=error -j "$(nproc)"
