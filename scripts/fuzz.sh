#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset) and runs each one for a
# bounded time over a scratch copy of its seed corpus in fuzz/corpus/.
# Any crash, sanitizer report, hang or broken property fails the run; the input
# that caused it is kept in build/fuzz/crashes/<target>/ for replaying.
#
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 30)
# Expects scripts/bootstrap.sh to have installed clang and its runtimes.
set -euo pipefail

seconds=${1:-30}
case "$seconds" in
    '' | *[!0-9]* | 0) echo "usage: $0 [seconds-per-target]" >&2; exit 2 ;;
esac

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

targets=(StateLoadingFuzzer ResourcePathFuzzer RenderingFuzzer AnalysisFuzzer)
build=build/fuzz
scratch="$build/corpus"
crashes="$build/crashes"
logs="$build/logs"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Sanitizer reports are fatal (the preset builds with -fno-sanitize-recover);
# these options make them readable.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

# Targets make their fixtures in the temporary folder; a crash skips their
# clean-up, so they get one of their own, emptied on every run.
export TMPDIR="$repo/$build/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"

stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }

failed=()
printf '%-20s %8s %10s %8s %7s %7s\n' target seconds executions exec/s cov corpus
for target in "${targets[@]}"; do
    rm -rf "${scratch:?}/$target"
    mkdir -p "$scratch/$target" "$crashes/$target" "$logs"
    cp -R "fuzz/corpus/$target/." "$scratch/$target/"

    dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")

    # One input takes milliseconds; the timeout only has to catch a hang.
    # A 15-minute run here once saw a whole-machine stall of 18 s, which a
    # 10 s timeout would have reported as a finding.
    log="$logs/$target.log"
    start=$(date +%s)
    status=0
    "$build/fuzz/$target" "$scratch/$target" "${dict[@]}" \
        -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$crashes/$target/" >"$log" 2>&1 || status=$?
    elapsed=$(( $(date +%s) - start ))

    cov=$(sed -n 's/.*DONE *cov: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    printf '%-20s %8s %10s %8s %7s %7s\n' "$target" "$elapsed" \
        "$(stat_of number_of_executed_units "$log")" "$(stat_of average_exec_per_sec "$log")" \
        "${cov:--}" "$(find "$scratch/$target" -type f | wc -l)"

    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        {
            echo
            echo "=== $target FAILED (exit $status); last lines of $log:"
            tail -n 40 "$log"
            echo "=== input(s) saved by this run:"
            find "$crashes/$target" -type f -newermt "@$start"
            echo "=== replay with: $build/fuzz/$target $crashes/$target/<file>"
            echo
        } >&2
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: FAILED: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: all targets ran ${seconds}s without a finding"
