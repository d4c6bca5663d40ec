#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer +
# UndefinedBehaviorSanitizer) in build/fuzz (the "fuzz" preset) and runs each
# for a bounded time.
#
#   scripts/fuzz.sh            30 seconds per target: the short run for the test command
#   scripts/fuzz.sh 3600       an hour per target
#
# Every target starts from a copy of its seed corpus fuzz/corpus/<target>/ in a
# temporary folder, so the committed corpus never grows. A crash, leak,
# timeout or out-of-memory makes the script fail; the offending input is kept
# in build/fuzz/findings/<target>/ and shown as a hex dump, the full libFuzzer
# output in build/fuzz/logs/<target>.log.
#
# Environment: AVRENDER_FUZZ_FLAGS adds libFuzzer flags to every run (e.g. "-max_len=65536";
# the test command passes "-seed=1" so that its short run is repeatable).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi
build=$root/build/fuzz

# clang 14 is Debian 12's; libclang-rt-14-dev holds libFuzzer and the sanitizer
# run-times (libclang_rt.fuzzer-x86_64.a), llvm-14 the symbolizer for stack traces.
[[ -n ${AVRENDER_DEPS_INSTALLED:-} ]] || "$root/scripts/install-deps.sh" clang-14 libclang-rt-14-dev llvm-14

echo "Building the fuzz targets in $build"
mkdir -p "$build"
if ! "$root/scripts/build.sh" fuzz --target fuzzers >"$root/build/fuzz-build.log" 2>&1; then
    cat "$root/build/fuzz-build.log" >&2
    exit 1
fi

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
if [[ -x $symbolizer ]]; then
    export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

work=$(mktemp -d "${TMPDIR:-/tmp}/avrender-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/logs"

# target, then its extra libFuzzer flags
targets=(
    "fuzz_scenery_file|-dict=$root/fuzz/scenery.dict"
    "fuzz_scenery_line|-dict=$root/fuzz/scenery.dict"
    # The TGA reader writes some refusals straight to stderr; libFuzzer and the
    # sanitizers go on reporting on their own copy of it.
    "fuzz_tga_read|-close_fd_mask=2"
    "fuzz_output_pattern|-dict=$root/fuzz/pattern.dict"
    # Qt's reader, the decoder's referee, passes libpng's warnings to stderr.
    "fuzz_png_read|-close_fd_mask=2 -dict=$root/fuzz/png.dict"
)

failed=()
summary=()
for entry in "${targets[@]}"; do
    target=${entry%%|*}
    read -r -a extra <<<"${entry#*|} ${AVRENDER_FUZZ_FLAGS:-}"
    corpus=$work/corpus/$target
    findings=$build/findings/$target
    log=$build/logs/$target.log
    rm -rf "$findings"
    mkdir -p "$corpus" "$findings"
    cp -R "$root/fuzz/corpus/$target/." "$corpus/"

    echo "== $target: ${seconds}s"
    status=0
    "$build/fuzz/$target" "${extra[@]}" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" >"$log" 2>&1 || status=$?

    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
    line=$(printf '%-20s %10s exec/s %12s executions  %s  corpus %s -> %s files' "$target" \
        "${rate:-?}" "${executions:-?}" "${coverage:-cov: ?}" \
        "$(find "$root/fuzz/corpus/$target" -type f | wc -l)" "$(find "$corpus" -type f | wc -l)")
    if ((status != 0)); then
        line+="  FAILED (exit $status)"
        failed+=("$target")
        # The sanitizer's or libFuzzer's report and the input that caused it.
        report='^==[0-9]+== ?ERROR|runtime error:'
        if grep -E -q "$report" "$log"; then
            grep -E -A 40 "$report" "$log" | head -n 60 || true
        else
            tail -n 40 "$log"
        fi
        for artifact in "$findings"/*; do
            [[ -f $artifact ]] || continue
            echo "-- input $artifact:"
            od -A x -t x1z -v "$artifact" | head -n 32
        done
    fi
    summary+=("$line")
    echo "$line"
done

echo
echo "== Summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
    echo "Fuzzing found problems in: ${failed[*]} (logs in $build/logs, inputs in $build/findings)" >&2
    exit 1
fi
