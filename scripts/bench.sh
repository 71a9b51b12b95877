#!/usr/bin/env bash
# Builds the benchmarks in an optimised configuration (the bench preset) and
# prints one table: Quillbeat's figures beside a baseline measured in the same
# run, and their ratio. Figures only; nothing here passes or fails on a timing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/bootstrap.sh
cmake --preset bench >/dev/null
cmake --build --preset bench

bin=build/bench/bench
home=$(mktemp -d)
rows=$(mktemp)
trap 'rm -rf "$home" "$rows"' EXIT

# Every program gets a scratch HOME, so nothing reads or writes the user's own
# configuration. The editor needs a display and gets a virtual one; loading is
# measured with and without one, since the framework talks to the X server
# while it loads when there is one.
failed=0
run() {
    local what=$1
    shift
    echo "bench: $what" >&2
    HOME="$home" "$@" >>"$rows" || { echo "bench: $what failed" >&2; failed=1; }
}
display=(xvfb-run -a -s "-screen 0 1920x1080x24")
run "audio thread" env -u DISPLAY "$bin/QuillbeatProcessBench"
run "load, no display" env -u DISPLAY "$bin/QuillbeatLoadBench"
run "load, virtual display" "${display[@]}" "$bin/QuillbeatLoadBench"
run "message thread" env -u DISPLAY "$bin/QuillbeatMessageThreadBench"
run "editor, virtual display" "${display[@]}" "$bin/QuillbeatEditorStartupBench"

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
os=$(. /etc/os-release && echo "$PRETTY_NAME")
echo
echo "| Area | Measure | Quillbeat | Baseline | Ratio | Goal |"
echo "|---|---|---|---|---|---|"
cat "$rows"
echo
echo "Ratios are Quillbeat / baseline. Machine: $(nproc) CPUs, $cpu, $os."
exit "$failed"
