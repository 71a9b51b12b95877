#!/usr/bin/env bash
# Builds the benchmarks and runs them on a virtual display with a scratch HOME.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/bootstrap.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target QuillbeatEditorStartupBench
tests/editor/run-on-virtual-display.sh build/dev/bench/QuillbeatEditorStartupBench
