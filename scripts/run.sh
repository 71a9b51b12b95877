#!/usr/bin/env bash
# The main job: build Quillbeat (Release) and its page, install both for the
# current user, and start the stand-in host playing at 120 bpm in 4/4 with the
# editor open. Without a display, the host runs headless on a virtual one and
# leaves a screenshot.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release

# The page, and the packed page client a web-only author starts a page from
# (it carries JUCE's front-end library, so it needs no clone and no JUCE).
(cd web && npm ci --no-audit --no-fund --loglevel=error && npm run build --silent &&
    npm run pack:client --silent -- "$repo/build/release")

scripts/install.sh build/release/Quillbeat_artefacts/Release/VST3/Quillbeat.vst3 web/dist

host=build/release/host/QuillbeatHost_artefacts/Release/QuillbeatHost
plugin="$HOME/.vst3/Quillbeat.vst3"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting the stand-in host (close its window to stop)."
    exec "$host" --gui --plugin "$plugin" --play --bpm 120 --sig 4/4
fi

screenshot="$repo/build/release/quillbeat-host.png"
echo "No display here: running the stand-in host headless on a virtual display for 5 seconds."
xvfb-run -a -s "-screen 0 1920x1080x24" "$host" --plugin "$plugin" --play --bpm 120 --sig 4/4 \
    --seconds 5 --screenshot "$screenshot"
echo "The editor as it looked: $screenshot"
