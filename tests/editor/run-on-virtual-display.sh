#!/bin/sh
# Runs a test program on its own virtual X display, with a HOME of its own so
# the per-user web root and engine data never touch the real user's.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# Freed memory is overwritten, so a use after free fails loudly rather than by luck.
HOME="$home" MALLOC_PERTURB_=165 xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
