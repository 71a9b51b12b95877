#!/usr/bin/env bash
# Runs the whole test suite: the Debug build's tests (from upstream JUCE, our
# fixes applied by the build), the same tests under AddressSanitizer with
# UndefinedBehaviorSanitizer (from the bootstrap's patched Debian JUCE), the
# audio-thread race test under ThreadSanitizer, and a bounded run of every
# fuzz target.
#
# With arguments, only the Debug build's tests run, and the arguments go to
# ctest: `scripts/test.sh -R SessionState`.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

stage() {
    echo "== $* ($(date +%H:%M:%S))"
}

# Configures and builds one preset.
build_preset() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

# Configures, builds and tests one preset.
run_preset() {
    local preset=$1
    shift
    stage "$preset"
    build_preset "$preset"
    ctest --preset "$preset" "$@"
}

scripts/bootstrap.sh

if [ $# -gt 0 ]; then
    run_preset dev "$@"
    exit 0
fi

stage "dev"
build_preset dev

# The fuzz targets' build (clang with sanitizers, the slowest of all) runs
# beside the test stages at the lowest priority, on the CPU time their tests
# leave idle; builds of the other stages and the tests themselves come first.
fuzz_build_log=build/fuzz-build.log
mkdir -p build
setsid nice -n 19 bash -c 'cmake --preset fuzz >/dev/null && cmake --build --preset fuzz' \
    >"$fuzz_build_log" 2>&1 &
fuzz_build=$!
trap 'kill -- -"$fuzz_build" 2>/dev/null || true' EXIT

ctest --preset dev
stage "upstream JUCE tree untouched"
(cd .cache/juce-upstream && sha256sum --quiet --strict -c "$repo/.cache/apt/src/upstream.sha256")
run_preset asan
run_preset tsan

stage "fuzz"
if ! wait "$fuzz_build"; then
    tail -n 60 "$fuzz_build_log" >&2
    echo "test: the fuzz targets did not build (log: $fuzz_build_log)" >&2
    exit 1
fi
trap - EXIT
scripts/fuzz.sh "${QUILLBEAT_FUZZ_SECONDS:-30}"
stage "done"
