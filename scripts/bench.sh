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

# The page we ship, and for comparison the page as it was before the playhead
# (the last commit without it), both built from source.
earlier_commit=37d0245
earlier=build/bench/earlier-page
(cd web && npm ci --no-audit --no-fund --loglevel=error && npm run build >/dev/null)
if [ ! -f "$earlier/dist/index.html" ]; then
    rm -rf "$earlier" && mkdir -p "$earlier"
    git archive "$earlier_commit" web | tar -x -C "$earlier" --strip-components=1
    (cd "$earlier" && npm ci --no-audit --no-fund --loglevel=error \
        && QUILLBEAT_JUCE_DIR="$repo/.cache/juce" npm run build >/dev/null)
fi
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
run "playhead, virtual display" "${display[@]}" "$bin/QuillbeatPlayheadBench" --page "$repo/web/dist" --earlier-page "$repo/$earlier/dist"

cpu=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
os=$(. /etc/os-release && echo "$PRETTY_NAME")
echo
echo "| Area | Measure | Quillbeat | Baseline | Ratio | Goal |"
echo "|---|---|---|---|---|---|"
cat "$rows"
echo
echo "Ratios are Quillbeat / baseline. Machine: $(nproc) CPUs, $cpu, $os."

# The page's prediction against a scripted host in Chromium, the browser
# closest to WebView2's engine.
echo
echo "bench: prediction in Chromium" >&2
(cd web && npm run --silent bench:prediction) || failed=1
exit "$failed"
