#!/usr/bin/env bash
# Builds the Debug configuration and runs the whole test suite.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/bootstrap.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev "$@"
