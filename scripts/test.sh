#!/usr/bin/env bash
# Runs the whole test suite: the Debug build's tests, the same tests under
# AddressSanitizer with UndefinedBehaviorSanitizer, the audio-thread race test
# under ThreadSanitizer, and a bounded run of every fuzz target.
#
# With arguments, only the Debug build's tests run, and the arguments go to
# ctest: `scripts/test.sh -R SessionState`.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

stage() {
    echo "== $* ($(date +%H:%M:%S))"
}

# Configures, builds and tests one preset.
run_preset() {
    local preset=$1
    shift
    stage "$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" "$@"
}

scripts/bootstrap.sh

if [ $# -gt 0 ]; then
    run_preset dev "$@"
    exit 0
fi

run_preset dev
run_preset asan
run_preset tsan
stage "fuzz"
scripts/fuzz.sh "${QUILLBEAT_FUZZ_SECONDS:-30}"
stage "done"
