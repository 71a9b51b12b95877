#!/usr/bin/env bash
# The main job: build Quillbeat in Release and install it for the current user.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release

bundle="build/release/Quillbeat_artefacts/Release/VST3/Quillbeat.vst3"
vst3_dir="$HOME/.vst3"
mkdir -p "$vst3_dir"
rm -rf "$vst3_dir/Quillbeat.vst3"
cp -R "$bundle" "$vst3_dir/"
echo "Installed $vst3_dir/Quillbeat.vst3"
