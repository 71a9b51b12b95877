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

# The editor's start-up benchmark once more, built from the last commit
# before the web engine started without waiting (its JUCE fixes, its editor),
# for today's stalls beside ours.
blocking_commit=baa71a3
blocking=build/bench-blocking-start
if [ "$(cat "$blocking/commit" 2>/dev/null)" != "$blocking_commit" ]; then
    rm -rf "$blocking/source" && mkdir -p "$blocking/source"
    git archive "$blocking_commit" | tar -x -C "$blocking/source"
    echo "$blocking_commit" > "$blocking/commit"
fi
cp bench/EditorStartupBench.cpp bench/StallWatch.h "$blocking/source/bench/"
(cd "$blocking/source" \
    && CMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchains/juce-without-bundled-image-libraries.cmake" \
        cmake --preset bench -B "$repo/$blocking/build" -DQUILLBEAT_JUCE_DIR="$repo/.cache/juce-upstream" >/dev/null \
    && CMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchains/juce-without-bundled-image-libraries.cmake" \
        cmake --build "$repo/$blocking/build" --target QuillbeatEditorStartupBench)

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
trap 'rm -rf "$home" "$rows" "${figures:-}"' EXIT

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
run "audio thread, analysis" env -u DISPLAY "$bin/QuillbeatAudioTapBench"
run "load, no display" env -u DISPLAY "$bin/QuillbeatLoadBench"
run "load, virtual display" "${display[@]}" "$bin/QuillbeatLoadBench"
run "message thread" env -u DISPLAY "$bin/QuillbeatMessageThreadBench"
figures=$(mktemp)
echo "bench: editor with the blocking start, virtual display" >&2
HOME="$home" "${display[@]}" "$blocking/build/bench/QuillbeatEditorStartupBench" --figures-out "$figures" \
    || { echo "bench: editor with the blocking start failed" >&2; failed=1; }
run "editor, virtual display" "${display[@]}" "$bin/QuillbeatEditorStartupBench" --earlier-figures "$figures"
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
