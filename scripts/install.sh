#!/usr/bin/env bash
# Installs a built Quillbeat for the current user: the plug-in into the VST3
# folder and the page into the web root. Replaces what an earlier install put
# there and touches nothing else.
#   scripts/install.sh BUNDLE PAGE_DIR
set -euo pipefail

bundle=${1:?the built Quillbeat.vst3}
page=${2:?the built page folder}

[ -f "$bundle/Contents/x86_64-linux/Quillbeat.so" ] || { echo "install: no plug-in bundle at $bundle" >&2; exit 1; }
[ -f "$page/index.html" ] || { echo "install: no page (index.html) in $page" >&2; exit 1; }

vst3_dir="$HOME/.vst3"
web_root="$HOME/.config/Quillbeat/web"

# Copy next to the target, then swap, so a failed copy leaves the old install.
mkdir -p "$vst3_dir" "$(dirname "$web_root")"
rm -rf "$vst3_dir/.Quillbeat.vst3.new" "$web_root.new"
cp -R "$bundle" "$vst3_dir/.Quillbeat.vst3.new"
cp -R "$page" "$web_root.new"
rm -rf "$vst3_dir/Quillbeat.vst3" "$web_root"
mv "$vst3_dir/.Quillbeat.vst3.new" "$vst3_dir/Quillbeat.vst3"
mv "$web_root.new" "$web_root"

echo "Installed the plug-in: $vst3_dir/Quillbeat.vst3"
echo "Installed the page:    $web_root"
